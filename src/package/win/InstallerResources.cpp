#include "package/win/InstallerResources.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "package/InstallerErrors.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/KnownFolders.h"
#include "library/win/OSError.h"
#include "package/PathVariables.h"
#include "package/win/InstallerImage.h"
#include "package/win/PayloadFile.h"
#include "package/win/ProductInfo.h"

namespace kivo {

using namespace zel;

namespace {

constexpr StringView kInstallScript = u"Install.xml";
constexpr StringView kEnglish = u"English.lng";

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

bool IsUninstallerFileName(StringView exePath) { return SameText(ExtractFileName(exePath), u"Uninstall.exe"); }

int CompareNatural(StringView a, StringView b) {
  const String upperA = UpperCase(a);
  const String upperB = UpperCase(b);
  size_t i = 0;
  size_t j = 0;
  while (i < upperA.size() && j < upperB.size()) {
    if (IsDigit(upperA[i]) && IsDigit(upperB[j])) {
      // Compare the runs as numbers: without leading zeros, the longer is larger,
      // equal lengths compare digit by digit. So arbitrary lengths cannot overflow.
      size_t endA = i;
      while (endA < upperA.size() && IsDigit(upperA[endA])) ++endA;
      size_t endB = j;
      while (endB < upperB.size() && IsDigit(upperB[endB])) ++endB;
      while (i + 1 < endA && upperA[i] == u'0') ++i;
      while (j + 1 < endB && upperB[j] == u'0') ++j;
      if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
      const int digits = upperA.compare(i, endA - i, upperB, j, endB - j);
      if (digits != 0) return digits < 0 ? -1 : 1;
      i = endA;
      j = endB;
      continue;
    }
    if (upperA[i] != upperB[j]) return upperA[i] < upperB[j] ? -1 : 1;
    ++i;
    ++j;
  }
  const size_t leftA = upperA.size() - i;
  const size_t leftB = upperB.size() - j;
  return leftA == leftB ? 0 : (leftA < leftB ? -1 : 1);
}

TInstallerResources::TInstallerResources(TInstallerProductInfo* productInfo)
    : FProductInfo(productInfo),
      FLanguageTexts(std::make_unique<TZELIniFile>()),
      FLanguages(std::make_unique<TZELStringList>()),
      FScript(std::make_unique<TInstallerScript>()) {
  HMODULE self = ::GetModuleHandleW(nullptr);
  FSetupPackage = std::make_unique<TSetupPackageReader>(self, u"SETUP");
  const String exePath = ModuleFileName(self);
  if (IsUninstallerFileName(exePath)) {
    FProductPackage = std::make_unique<TSetupPackageReader>(ChangeFileExt(exePath, u".dat"));
  } else {
    // The product is most of the executable: it decodes into a file of its own while the
    // user picks a language, instead of keeping the first window waiting.
    StartProduct([self](const TDecodeProgress& decoded) {
      auto store = std::make_unique<TPayloadFile>();
      store->OnWrite = decoded;
      return std::make_unique<TSetupPackageReader>(self, u"PRODUCT", std::move(store));
    });
  }
  try {
    Initialize();
  } catch (...) {
    StopProduct();
    throw;
  }
}

TInstallerResources::TInstallerResources(TInstallerProductInfo* productInfo,
                                         std::unique_ptr<TSetupPackageReader> setupPackage, TProductOpener openProduct)
    : FProductInfo(productInfo),
      FLanguageTexts(std::make_unique<TZELIniFile>()),
      FLanguages(std::make_unique<TZELStringList>()),
      FSetupPackage(std::move(setupPackage)),
      FScript(std::make_unique<TInstallerScript>()) {
  if (!FSetupPackage || !openProduct) throw EInvalidOperation(u"TInstallerResources: a package is missing");
  StartProduct(std::move(openProduct));
  try {
    Initialize();
  } catch (...) {
    StopProduct();
    throw;
  }
}

void TInstallerResources::StartProduct(TProductOpener openProduct) {
  FProductDecoded.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!FProductDecoded) RaiseLastOSError(u"CreateEvent (the product's decode)");
  FProductReleased.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!FProductReleased) RaiseLastOSError(u"CreateEvent (the start of the product's decode)");
  FProductPending = true;
  FDecodeThread = std::thread([this, open = std::move(openProduct)]() noexcept {
    // Every path that needs the product releases it; the limit only bounds a forgotten one.
    constexpr DWORD kHoldLimitMs = 3000;
    ::WaitForSingleObject(FProductReleased.Get(), kHoldLimitMs);
    const ULONGLONG started = ::GetTickCount64();
    try {
      FDecodedProduct = open([this](uint64_t written, uint64_t size) {
        FDecodeSize.store(size, std::memory_order_relaxed);
        FDecodeWritten.store(written, std::memory_order_relaxed);
        if (FCancelDecode.load(std::memory_order_relaxed)) throw EInstallerDecodeCancelled();
      });
    } catch (...) {
      FDecodeError = std::current_exception();
    }
    FDecodeTime = static_cast<uint32_t>(::GetTickCount64() - started);
    ::SetEvent(FProductDecoded.Get());
  });
}

void TInstallerResources::ReleaseProduct() {
  if (FProductReleased) ::SetEvent(FProductReleased.Get());
}

int TInstallerResources::ProductProgress() const {
  if (!FProductPending) return 100;
  const uint64_t size = FDecodeSize.load(std::memory_order_relaxed);
  const uint64_t written = FDecodeWritten.load(std::memory_order_relaxed);
  return size == 0 ? 0 : static_cast<int>(std::min<uint64_t>(100, written * 100 / size));
}

uint32_t TInstallerResources::FinishProduct() {
  std::lock_guard<std::recursive_mutex> lock(FPackageLock);
  if (!FProductPending) return 0;
  ReleaseProduct();
  if (FDecodeThread.joinable()) FDecodeThread.join();
  // A failed decode stays pending: a second call finds no product and says so again.
  if (FDecodeError) std::rethrow_exception(FDecodeError);
  // The package first: a reader on another thread that sees pending cleared finds it.
  FProductPackage = std::move(FDecodedProduct);
  FProductPending = false;
  return FDecodeTime;
}

TSetupPackageReader& TInstallerResources::ProductPackage() {
  if (FProductPending) FinishProduct();
  return *FProductPackage;
}

std::pair<TSetupPackageReader*, TSetupPackageReader*> TInstallerResources::LookupOrder() {
  if (FProductPending) return {FSetupPackage.get(), nullptr};
  return {FProductPackage.get(), FSetupPackage.get()};
}

TInstallerResources::TInstallerResources(TInstallerProductInfo* productInfo,
                                         std::unique_ptr<TSetupPackageReader> setupPackage,
                                         std::unique_ptr<TSetupPackageReader> productPackage)
    : FProductInfo(productInfo),
      FLanguageTexts(std::make_unique<TZELIniFile>()),
      FLanguages(std::make_unique<TZELStringList>()),
      FProductPackage(std::move(productPackage)),
      FSetupPackage(std::move(setupPackage)),
      FScript(std::make_unique<TInstallerScript>()) {
  if (!FSetupPackage || !FProductPackage) throw EInvalidOperation(u"TInstallerResources: a package is missing");
  Initialize();
}

TInstallerResources::~TInstallerResources() {
  // A run that ends before the product was needed (a refused command line, Esc on the
  // language dialog) stops the decode; its temporary file goes with it.
  StopProduct();
}

void TInstallerResources::StopProduct() {
  CancelProduct();
  ReleaseProduct();
  if (FDecodeThread.joinable()) FDecodeThread.join();
}

void TInstallerResources::Initialize() {
  // The product information reads its settings from this script.
  if (FProductInfo && !FProductInfo->Resources()) FProductInfo->AttachResources(this);

  FScript->LoadFromStream(*GetFile(kInstallScript));

  const TSetupPackageFileTable& table = FSetupPackage->FileTable();
  for (int i = 0; i < table.Count(); ++i) {
    const String& name = table.Items(i).Name;
    if (SameText(ExtractFileExt(name), u".lng")) FLanguages->Add(name);
  }
  std::vector<String> names = FLanguages->Lines();
  std::stable_sort(names.begin(), names.end(),
                   [](const String& a, const String& b) { return CompareNatural(a, b) < 0; });
  FLanguages->Clear();
  for (const String& name : names) FLanguages->Add(name);

  FDesktopFolder = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  // A 64-bit build keeps the 32-bit program's folder: "C:\Program Files (x86)\".
  FProgramFilesFolder = SpecialFolder(CSIDL_PROGRAM_FILESX86);
  FNativeProgramFilesFolder = ReplaceAll(FProgramFilesFolder, u" (x86)", u"");
  FStartMenuFolder = SpecialFolder(CSIDL_COMMON_PROGRAMS);
}

std::unique_ptr<TMemoryStream> TInstallerResources::GetFile(StringView name) {
  std::lock_guard<std::recursive_mutex> lock(FPackageLock);
  std::unique_ptr<TMemoryStream> stream;
  auto [first, second] = LookupOrder();
  if (first->ExtractFile(name, stream)) return stream;
  // While the product is pending only what the setup package lacks waits for it.
  if (!second) second = &ProductPackage();
  if (second->ExtractFile(name, stream)) return stream;
  throw EInstallerInstallError(Format(u"Cannot locate \"%s\" file in setup archive", name));
}

TSetupPackageMemberView TInstallerResources::GetFileView(StringView name) {
  // Views move no shared position; the lock only orders them with GetFile's callers.
  std::lock_guard<std::recursive_mutex> lock(FPackageLock);
  TSetupPackageMemberView view;
  auto [first, second] = LookupOrder();
  if (first->FileView(name, view)) return view;
  if (!second) second = &ProductPackage();
  if (second->FileView(name, view)) return view;
  throw EInstallerInstallError(Format(u"Cannot locate \"%s\" file in setup archive", name));
}

std::unique_ptr<Gdiplus::Image> TInstallerResources::GetImage(StringView name) {
  const TSetupPackageMemberView member = GetFileView(name);
  return TInstallerImage::FromBytes(member.Data, member.Size, name);
}

std::unique_ptr<TZELStringList> TInstallerResources::GetStringList(StringView name) {
  const TSetupPackageMemberView member = GetFileView(name);
  TZELIniEncoding encoding;
  auto list = std::make_unique<TZELStringList>();
  list->SetText(DecodeIniText(member.Data, member.Size, encoding));
  return list;
}

std::unique_ptr<TMemoryStream> TInstallerResources::GetLicense() {
  const TInstallerScriptFile* entry = FScript->License.Find(GetLanguageFamily());
  if (!entry) entry = FScript->License.Find(u"EN");
  return entry ? GetFile(entry->Name) : nullptr;
}

String TInstallerResources::GetLanguageFamily() {
  std::lock_guard<std::mutex> lock(FTextLock);
  String family;
  // An empty Family would select no language's files at all: it counts as absent.
  if (!FLanguageTexts->TryReadString(u"File", u"Family", family) || family.empty()) return u"EN";
  return family;
}

String TInstallerResources::GetText(StringView section, StringView key) {
  String text;
  {
    std::lock_guard<std::mutex> lock(FTextLock);
    FLanguageTexts->TryReadString(section, key, text);
  }
  return ExpandVariables(text);
}

String TInstallerResources::ExpandVariables(StringView text) { return Expand(text, true); }

String TInstallerResources::Expand(StringView text, bool lineBreaks) {
  TInstallerProductInfo* info = FProductInfo;
  TPathVariables values;
  values.Dest = [&] { return FDestPath.empty() ? String() : IncludeTrailingBackslash(FDestPath); };
  values.Temp = [] { return TempFolder(); };
  values.Desktop = [&] { return FDesktopFolder; };
  values.StartMenu = [&] { return FStartMenuFolder; };
  values.Programs = [&] { return FProgramFilesFolder; };
  values.Link = [&] { return info ? info->GetHomePage() : String(); };
  values.Name = [&] { return info ? info->GetName() : String(); };
  values.Version = [&] { return info ? info->GetFullVersion() : String(); };
  return ExpandPathVariables(text, values, lineBreaks);
}

// Without the line-break step: "\n" in a path is a folder whose name begins with "n".
String TInstallerResources::ExpandPath(StringView text) { return CleanPath(Expand(text, false)); }

void TInstallerResources::UseLanguage(StringView file) {
  FLanguageTexts->LoadFromStream(*GetFile(kEnglish));
  TZELIniFile chosen;
  chosen.LoadFromStream(*GetFile(file));
  FLanguage = ChangeFileExt(ExtractFileName(file), u"");
  std::lock_guard<std::mutex> lock(FTextLock);
  FLanguageTexts->Merge(chosen, true);
}

}  // namespace kivo
