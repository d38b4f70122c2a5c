// The package tool's "setup" command: a Setup.exe made from a prebuilt one, with the
// vendor's packages in place of its own "SETUP" and "PRODUCT" resources. Windows only.
#include <windows.h>

#include <cstdio>
#include <system_error>

#include "IpkToolCommon.h"
#include "IpkToolVendor.h"
#include "library/Exceptions.h"
#include "library/Streams.h"
#include "package/SetupPackage.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using namespace zel;

namespace ipktool {

namespace {

class TLibraryData {
public:
  explicit TLibraryData(const String& path)
      : FModule(::LoadLibraryExW(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~TLibraryData() {
    if (FModule) ::FreeLibrary(FModule);
  }
  TLibraryData(const TLibraryData&) = delete;
  TLibraryData& operator=(const TLibraryData&) = delete;
  HMODULE Get() const { return FModule; }

private:
  HMODULE FModule;
};

BOOL CALLBACK TakeLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<WORD*>(found) = language;
  return FALSE;  // the first is enough
}

// The language of an RT_RCDATA resource, so the replacement takes its place instead of
// standing beside it; false when the module has no such resource.
bool ResourceLanguage(HMODULE module, const wchar_t* name, WORD& language) {
  if (!::FindResourceW(module, name, RT_RCDATA)) return false;
  language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  ::EnumResourceLanguagesW(module, RT_RCDATA, name, TakeLanguage, reinterpret_cast<LONG_PTR>(&language));
  return true;
}

std::vector<uint8_t> ResourceBytes(HMODULE module, const wchar_t* name) {
  HRSRC info = ::FindResourceW(module, name, RT_RCDATA);
  HGLOBAL loaded = info ? ::LoadResource(module, info) : nullptr;
  const auto* data = static_cast<const uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (!data) return {};
  return std::vector<uint8_t>(data, data + ::SizeofResource(module, info));
}

std::string LastErrorText() { return ToUtf8(zel::platform::SystemErrorMessage(::GetLastError())); }

}  // namespace

int CmdSetup(const std::vector<String>& args) {
  std::vector<String> positional;
  int level = kivo::kSetupPackageDefaultLevel;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--level") {
      int32_t v;
      if (i + 1 == args.size() || !TryStrToInt(args[i + 1], v) || v < 0 || v > 9)
        throw TToolError{ExitUsage, "--level needs a value 0..9"};
      level = v;
      ++i;
    } else if (StartsWith(args[i], u"--")) {
      throw TToolError{ExitUsage, "unknown option " + ToUtf8(args[i])};
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 4) throw TToolError{ExitUsage, "setup takes SETUP_EXE SETUP_DIR PRODUCT_DIR OUT_EXE"};
  const String& prebuilt = positional[0];
  const fs::path setupFolder = ExistingFolder(positional[1]);
  const fs::path productFolder = ExistingFolder(positional[2]);
  const String& out = positional[3];
  std::error_code ec;
  if (fs::equivalent(ToPath(prebuilt), ToPath(out), ec))
    throw TToolError{ExitUsage, "OUT_EXE must be a new file, not the prebuilt Setup.exe"};
  RequireConsistent(setupFolder, productFolder);

  WORD setupLanguage = 0, productLanguage = 0;
  {
    TLibraryData module(prebuilt);
    if (!module.Get()) throw TToolError{ExitFailure, Quoted(prebuilt) + ": " + LastErrorText()};
    if (!ResourceLanguage(module.Get(), L"SETUP", setupLanguage) ||
        !ResourceLanguage(module.Get(), L"PRODUCT", productLanguage))
      throw TToolError{ExitFailure, Quoted(prebuilt) + " is not a setup program (no SETUP and PRODUCT packages)"};
  }

  auto packageOf = [level](const fs::path& folder) {
    TMemoryStream package;
    BuildPackage(folder, FolderMembers(folder), level, package);
    return std::vector<uint8_t>(package.Memory(), package.Memory() + package.Size());
  };
  const std::vector<uint8_t> setupPackage = packageOf(setupFolder);
  const std::vector<uint8_t> productPackage = packageOf(productFolder);

  const fs::path outPath = ToPath(out);
  auto fail = [&](const std::string& message) {
    fs::remove(outPath, ec);  // no half-made setup left for anyone to ship
    throw TToolError{ExitFailure, message};
  };
  if (!fs::copy_file(ToPath(prebuilt), outPath, fs::copy_options::overwrite_existing, ec))
    fail(Quoted(out) + ": " + ec.message());
  ::SetFileAttributesW(outPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE update = ::BeginUpdateResourceW(outPath.c_str(), FALSE);
  if (!update) fail(Quoted(out) + ": " + LastErrorText());
  const bool written =
      ::UpdateResourceW(update, RT_RCDATA, L"SETUP", setupLanguage, const_cast<uint8_t*>(setupPackage.data()),
                        static_cast<DWORD>(setupPackage.size())) &&
      ::UpdateResourceW(update, RT_RCDATA, L"PRODUCT", productLanguage, const_cast<uint8_t*>(productPackage.data()),
                        static_cast<DWORD>(productPackage.size()));
  const std::string writeError = written ? std::string() : LastErrorText();
  if (!::EndUpdateResourceW(update, !written) || !written)
    fail(Quoted(out) + ": the packages cannot be written: " + (written ? LastErrorText() : writeError));

  // Read back what a running setup will find.
  {
    TLibraryData module(out);
    if (!module.Get() || ResourceBytes(module.Get(), L"SETUP") != setupPackage ||
        ResourceBytes(module.Get(), L"PRODUCT") != productPackage)
      fail(Quoted(out) + ": the packages read back differ from those written");
  }
  std::printf("%s: SETUP %zu bytes, PRODUCT %zu bytes\n", ToUtf8(out).c_str(), setupPackage.size(),
              productPackage.size());
  return ExitOk;
}

}  // namespace ipktool
