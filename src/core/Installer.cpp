#include "library/win/FileSystem.h"
#include "core/Installer.h"

#include <unordered_set>

#include "core/Destination.h"
#include "core/UninstallerCopy.h"
#include "package/InstallerErrors.h"
#include "core/InstallerThread.h"
#include "core/RestartRequired.h"
#include "core/RunLog.h"
#include "core/SpawnService.h"
#include "core/ExtractHelper.h"
#include "library/CommandLine.h"
#include "library/win/OSError.h"

namespace kivo {

using zel::String;
using zel::StringView;

TProductInfoClass ProductInfoClass = nullptr;
TResourcesFactory ResourcesFactory;
TInstaller* Installer = nullptr;

namespace {

constexpr wchar_t kWindowClass[] = L"TInstaller";

// Every message the notification window takes carries the address of a record that a
// thread of this process is sending at that moment. Any program on the desktop can
// send to the window, but it cannot name such a record: a notification (a forged
// "ended", a text pointer) or a call from outside is ignored.
struct TNotifyRecord {
  int Code = 0;
  intptr_t Data = 0;
  const std::function<void()>* Function = nullptr;  // a call handed over from the worker
  std::exception_ptr Error;
};

class TOutstandingRecords {
public:
  void Add(const TNotifyRecord* record) {
    std::lock_guard<std::mutex> guard(FLock);
    FRecords.insert(record);
  }
  void Remove(const TNotifyRecord* record) {
    std::lock_guard<std::mutex> guard(FLock);
    FRecords.erase(record);
  }
  bool Contains(const void* record) {
    std::lock_guard<std::mutex> guard(FLock);
    return FRecords.count(static_cast<const TNotifyRecord*>(record)) != 0;
  }

private:
  std::mutex FLock;
  std::unordered_set<const TNotifyRecord*> FRecords;
};

TOutstandingRecords& Outstanding() {
  static TOutstandingRecords records;
  return records;
}

// A message number of this process's own; the record check above is what makes it safe.
UINT NotifyMessage() {
  static const UINT message = [] {
    const String name = u"TInstaller.Notify." + zel::IntToStr(static_cast<long long>(::GetCurrentProcessId()));
    const UINT registered = ::RegisterWindowMessageW(zel::as_wcstr(name));
    return registered ? registered : static_cast<UINT>(WM_APP + 1);
  }();
  return message;
}

void SendRecord(HWND window, TNotifyRecord& record) {
  Outstanding().Add(&record);
  ::SendMessageW(window, NotifyMessage(), 0, reinterpret_cast<LPARAM>(&record));
  Outstanding().Remove(&record);
}

String FlagsText(TInstallerFlags flags) {
  static const char16_t* names[] = {u"Auto", u"Portable", u"Update", u"Silent", u"Run", u"NoBackup"};
  String text;
  for (int bit = 0; bit < 6; ++bit)
    if (flags & (1u << bit)) text += (text.empty() ? u"" : u", ") + String(names[bit]);
  return u"[" + text + u"]";
}

}  // namespace

HWND TInstaller::CreateNotifyWindow() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  if (!::GetClassInfoExW(instance, kWindowClass, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &TInstaller::WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc)) zel::RaiseLastOSError(u"RegisterClassEx TInstaller");
  }
  HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (!window) zel::RaiseLastOSError(u"CreateWindowEx TInstaller");
  return window;
}

TInstaller::TInstaller(StringView params) {
  Installer = this;
  ClearRestartRequired();
  try {
    FOptions = std::make_unique<zel::TZELIniFile>();
    if (!ProductInfoClass) throw EInstallerGeneralError(u"ProductInfoClass is nil");
    FProductInfo = ProductInfoClass();
    FResources = ResourcesFactory ? ResourcesFactory(FProductInfo.get())
                                  : std::make_unique<TInstallerResources>(FProductInfo.get());
    FProductInfo->AttachResources(FResources.get());
    FExtractHelper = std::make_unique<TInstallerExtractHelper>();
    FNotifyWindow.Reset(CreateNotifyWindow());
    ::SetWindowLongPtrW(FNotifyWindow.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ParseCommandLine(params);
    // No window to keep free: the decode may begin at once.
    if (HasFlag(TInstallerFlag::Silent)) FResources->ReleaseProduct();
  } catch (...) {
    // No destructor runs for a half-built object: the global must not dangle.
    Installer = nullptr;
    throw;
  }
  RunLog().Log(u"Mode: " + String(FMode == TInstallerMode::Install ? u"install" : u"uninstall") + u", flags: " +
               FlagsText(FFlags) + u", destination: \"" + FDestPath + u"\"");
}

TInstaller::~TInstaller() {
  StopThread();
  FOptions.reset();
  FErrors.Clear();
  FListeners.clear();
  FProductInfo.reset();
  FExtractHelper.reset();
  FResources.reset();
  FNotifyWindow.Reset();
  if (Installer == this) Installer = nullptr;
}

void TInstaller::ParseCommandLine(StringView params) {
  String value;
  // No folder or file name holds a quote: one left in a value is quoting this parser did
  // not understand, and the value is a fragment of what was meant, not a folder to use.
  for (const char16_t* name : {u"AUTO", u"DEST", u"LOG"})
    if (zel::FindSwitch(params, name, value) && value.find(u'"') != String::npos)
      throw EInstallerGeneralError(u"The command line cannot be read: the value of /" + String(name) + u", " + value +
                                   u", holds a quotation mark. Quote the whole value, as in /" + String(name) +
                                   u"=\"C:\\Program Files\\Product\", or the whole switch.");
  // A product still decoding is the one carried in the executable, which is never uninstall data.
  const bool uninstallData =
      !FResources->ProductPending() && FResources->ProductPackage().ContainsFile(u"Uninstall.ini");
  // A genuine setup renamed "Uninstall.exe" reads its product from the .dat beside it:
  // it must not install whatever package someone put there (and run its programs
  // elevated).
  if (!uninstallData && IsUninstaller())
    throw EInstallerGeneralError(u"Cannot Start the Uninstaller: \"" +
                                 zel::ChangeFileExt(zel::ModuleFileName(), u".dat") +
                                 u"\" holds no uninstall data. An uninstaller only uninstalls.");
  if (uninstallData) {
    FMode = TInstallerMode::Uninstall;
    FFlags = 0;
    if (zel::HasSwitch(params, u"AUTO")) {
      FFlags |= FlagBit(TInstallerFlag::Auto);
      if (zel::HasSwitch(params, u"SILENT")) FFlags |= FlagBit(TInstallerFlag::Silent);
    }
    return;
  }
  if (zel::FindSwitch(params, u"AUTO", value)) {
    FMode = TInstallerMode::Install;
    FFlags = FlagBit(TInstallerFlag::Auto);
    // "/DEST=folder" names the folder apart from "/AUTO", for deployment tools that add
    // the location as a switch of its own after their fixed "/AUTO /SILENT".
    if (value.empty()) zel::FindSwitch(params, u"DEST", value);
    if (value.empty()) value = FProductInfo->GetDefaultPath();
    SetDestPath(value);
    if (zel::HasSwitch(params, u"NOBACKUP")) FFlags |= FlagBit(TInstallerFlag::NoBackup);
    if (zel::HasSwitch(params, u"RUN")) FFlags |= FlagBit(TInstallerFlag::Run);
    if (zel::HasSwitch(params, u"UPDATE")) {
      if (!FProductInfo->CanUpdate())
        throw EInstallerUpdateError(
            zel::Format(u"Cannot install update on v%s", FProductInfo->GetInstalledVersionText()));
    } else {
      if (zel::HasSwitch(params, u"PORTABLE")) FFlags |= FlagBit(TInstallerFlag::Portable);
      if (zel::HasSwitch(params, u"SILENT")) FFlags |= FlagBit(TInstallerFlag::Silent);
    }
    return;
  }
  FMode = TInstallerMode::Install;
  FFlags = FlagBit(TInstallerFlag::Update);
  SetDestPath(FProductInfo->GetDefaultPath());
}

void TInstaller::SetDestPath(StringView path) {
  if (path == FDestPath) return;
  // One value for every step: the files, the uninstaller, Uninstall.ini and the
  // registry all name the same folder.
  const String normalized = NormalizeDestPath(path);
  String reason;
  if (!normalized.empty() && IsRefusedDestination(normalized, reason))
    throw EInstallerInstallError(u"The folder \"" + normalized + u"\" cannot be used by the setup: " + reason + u".");
  FDestPath = normalized;
  FRegistrationOwned = -1;
  FResources->SetDestPath(FDestPath);
  FProductInfo->LoadInstalledConfig();
  if (FProductInfo->CanUpdate()) {
    FFlags |= FlagBit(TInstallerFlag::Update);
    if (FProductInfo->IsPortable()) FFlags |= FlagBit(TInstallerFlag::Portable);
  } else {
    FFlags &= static_cast<TInstallerFlags>(~FlagBit(TInstallerFlag::Update));
  }
  ValidateFlags();
}

bool TInstaller::ValidateFlags() {
  if (!FProductInfo->CanUpdate()) FFlags &= static_cast<TInstallerFlags>(~FlagBit(TInstallerFlag::Update));
  const bool programFiles = IsProgramFilesPath();
  if (programFiles) FFlags &= static_cast<TInstallerFlags>(~FlagBit(TInstallerFlag::Portable));
  return programFiles;
}

bool TInstaller::IsProgramFilesPath() const {
  auto under = [this](const String& folder) { return !folder.empty() && zel::StartsWithText(FDestPath, folder); };
  return under(FResources->ProgramFilesFolder()) || under(FResources->NativeProgramFilesFolder());
}

void TInstaller::SetFlag(TInstallerFlag flag, bool value) {
  SetFlags(value ? (FFlags | FlagBit(flag)) : (FFlags & static_cast<TInstallerFlags>(~FlagBit(flag))));
}

void TInstaller::SetFlags(TInstallerFlags newFlags) {
  if (newFlags == FFlags) return;
  const TInstallerFlags fixed = FlagBit(TInstallerFlag::Auto) | FlagBit(TInstallerFlag::Silent);
  if ((newFlags & fixed) != (FFlags & fixed)) throw EInstallerMysteryError(u"Invalid Arguments");
  FFlags = newFlags;
  ValidateFlags();
}

void TInstaller::Start(bool wait) {
  if (FState != 0) return;
  if (FDestPath.empty()) throw EInstallerInstallError(u"DestPath is empty");
  ValidateFlags();
  FState = 1;
  RunLog().Log(u"Run starts: destination \"" + FDestPath + u"\", flags " + FlagsText(FFlags));
  FThread = std::make_unique<TInstallerThread>();
  FThread->Resume();
  if (wait) FThread->WaitFor(INFINITE);
}

void TInstaller::StopThread() {
  std::unique_ptr<TInstallerThread> thread = std::move(FThread);
  // Destroying the worker asks it to stop, tells its action and waits, serving the
  // worker's notifications meanwhile.
  thread.reset();
}

void TInstaller::RequestStop() {
  if (FThread) FThread->RequestStop();
}

void TInstaller::RunFinishActions() {
  if (HasErrors() || FMode != TInstallerMode::Install) return;
  const TInstallerFlags all =
      FlagBit(TInstallerFlag::Auto) | FlagBit(TInstallerFlag::Update) | FlagBit(TInstallerFlag::Run);
  const bool byDefault = (FFlags & all) == all;
  auto& actions = FResources->Script().Actions;
  for (size_t i = 0; i < actions.Count(); ++i) {
    const TInstallerScriptFile& entry = actions.Items(i);
    if (!FOptions->ReadBool(u"Actions", entry.Name, byDefault)) continue;
    const String command = FResources->ExpandPath(entry.Name);
    RunLog().Log(u"Finish action: open \"" + command + u"\"");
    TInstallerSpawnService::Spawn(command);
  }
}

void TInstaller::AddListener(IInstallerNotify* listener) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FListeners.push_back(listener);
}

void TInstaller::RemoveListener(IInstallerNotify* listener) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (size_t i = FListeners.size(); i-- > 0;)
    if (FListeners[i] == listener) {
      FListeners.erase(FListeners.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
}

void TInstaller::Notify(int code, intptr_t data) {
  TNotifyRecord record;
  record.Code = code;
  record.Data = data;
  SendRecord(FNotifyWindow.Get(), record);
}

void TInstaller::NotifyText(int code, StringView text) {
  // The listeners get a terminated copy that lives for the call.
  const String copy(text);
  TNotifyRecord record;
  record.Code = code;
  record.Data = reinterpret_cast<intptr_t>(copy.c_str());
  SendRecord(FNotifyWindow.Get(), record);
}

void TInstaller::AddError(StringView text) {
  FErrors.Add(String(text));
  RunLog().Log(u"Error: " + String(text));
}

void TInstaller::CallOnMainThread(const std::function<void()>& fn) {
  TNotifyRecord record;
  record.Function = &fn;
  SendRecord(FNotifyWindow.Get(), record);
  if (record.Error) std::rethrow_exception(record.Error);
}

void TInstaller::DispatchNotify(int code, intptr_t data) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (code == NotifyEnded) {
    FState = 2;
    FCancelled = data != 0;
    if (data != 0) AddError(FResources->GetText(u"Common", u"E4"));
    RunLog().Log(data != 0 ? u"Run cancelled" : u"Run ended");
  } else if (code == NotifyStatus) {
    RunLog().Log(u"Status: " + String(reinterpret_cast<const char16_t*>(data)));
  }
  // Last registered first; a listener may remove itself during its call.
  for (size_t i = FListeners.size(); i-- > 0;) {
    if (i >= FListeners.size()) continue;
    FListeners[i]->Notify(code, data);
  }
}

LRESULT CALLBACK TInstaller::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message != NotifyMessage() || !Outstanding().Contains(reinterpret_cast<const void*>(lParam)))
    return ::DefWindowProcW(window, message, wParam, lParam);
  auto* self = reinterpret_cast<TInstaller*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  auto* record = reinterpret_cast<TNotifyRecord*>(lParam);
  try {
    if (record->Function) (*record->Function)();
    else if (self) self->DispatchNotify(record->Code, record->Data);
  } catch (...) {
    // A call's error goes back to the worker that made it; a listener's is logged, so
    // the worker is not taken down by the window's code.
    if (record->Function) {
      record->Error = std::current_exception();
    } else {
      try {
        throw;
      } catch (const std::exception& e) {
        RunLog().Log(u"Notification failed: " + zel::FromUtf8(e.what()));
      } catch (...) {
        RunLog().Log(u"Notification failed");
      }
    }
  }
  return 0;
}

}  // namespace kivo
