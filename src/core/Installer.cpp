#include "core/Installer.h"

#include "core/InstallerErrors.h"
#include "core/InstallerThread.h"
#include "core/RunLog.h"
#include "core/SpawnService.h"
#include "package/win/ExtractHelper.h"
#include "library/CommandLine.h"
#include "library/win/OSError.h"

namespace kivo {

using zel::String;
using zel::StringView;

TProductInfoClass ProductInfoClass = nullptr;
TResourcesFactory ResourcesFactory;
TInstaller* Installer = nullptr;

namespace {

constexpr UINT WM_INSTALLER_NOTIFY = WM_USER;
// A call handed over from the worker; lParam points at a TMainThreadCall.
constexpr UINT WM_INSTALLER_CALL = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"TInstaller";

struct TMainThreadCall {
  const std::function<void()>* Function;
  std::exception_ptr Error;
};

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
  } catch (...) {
    // No destructor runs for a half-built object: the global must not dangle.
    Installer = nullptr;
    throw;
  }
  RunLog().Log(u"Mode: " + String(FMode == TInstallerMode::Install ? u"install" : u"uninstall") +
               u", flags: " + FlagsText(FFlags) + u", destination: \"" + FDestPath + u"\"");
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
  if (FResources->ProductPackage().ContainsFile(u"Uninstall.ini")) {
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
    if (value.empty()) value = FProductInfo->GetDefaultPath();
    SetDestPath(value);
    if (zel::HasSwitch(params, u"NOBACKUP")) FFlags |= FlagBit(TInstallerFlag::NoBackup);
    if (zel::HasSwitch(params, u"RUN")) FFlags |= FlagBit(TInstallerFlag::Run);
    if (zel::HasSwitch(params, u"UPDATE")) {
      if (!FProductInfo->CanUpdate())
        throw EInstallerUpdateError(zel::Format(u"Cannot install update on v%s", FProductInfo->GetInstalledVersionText()));
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
  String normalized(path);
  if (normalized.find(u".\\") != String::npos) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameW(zel::as_wcstr(normalized), MAX_PATH * 4, buffer, nullptr);
    if (n > 0 && n < MAX_PATH * 4) normalized = zel::from_wcstr(buffer, n);
  }
  if (normalized.find(u'~') != String::npos) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = ::GetLongPathNameW(zel::as_wcstr(normalized), buffer, MAX_PATH * 4);
    if (n > 0 && n < MAX_PATH * 4) normalized = zel::from_wcstr(buffer, n);
  }
  if (!normalized.empty()) normalized = zel::IncludeTrailingBackslash(normalized);
  FDestPath = normalized;
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

void TInstaller::RunFinishActions() {
  if (HasErrors() || FMode != TInstallerMode::Install) return;
  const TInstallerFlags all = FlagBit(TInstallerFlag::Auto) | FlagBit(TInstallerFlag::Update) |
                              FlagBit(TInstallerFlag::Run);
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
  ::SendMessageW(FNotifyWindow.Get(), WM_INSTALLER_NOTIFY, static_cast<WPARAM>(code), static_cast<LPARAM>(data));
}

void TInstaller::NotifyText(int code, StringView text) {
  COPYDATASTRUCT record{};
  record.dwData = static_cast<ULONG_PTR>(code);
  record.cbData = static_cast<DWORD>(text.size() * sizeof(char16_t));
  record.lpData = const_cast<char16_t*>(text.data());
  ::SendMessageW(FNotifyWindow.Get(), WM_COPYDATA, reinterpret_cast<WPARAM>(FNotifyWindow.Get()),
                 reinterpret_cast<LPARAM>(&record));
}

void TInstaller::AddError(StringView text) {
  FErrors.Add(String(text));
  RunLog().Log(u"Error: " + String(text));
}

void TInstaller::CallOnMainThread(const std::function<void()>& fn) {
  TMainThreadCall call{&fn, nullptr};
  ::SendMessageW(FNotifyWindow.Get(), WM_INSTALLER_CALL, 0, reinterpret_cast<LPARAM>(&call));
  if (call.Error) std::rethrow_exception(call.Error);
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
  auto* self = reinterpret_cast<TInstaller*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  try {
    if (self && message == WM_INSTALLER_NOTIFY) {
      self->DispatchNotify(static_cast<int>(wParam), static_cast<intptr_t>(lParam));
      return 0;
    }
    if (self && message == WM_COPYDATA) {
      const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (record && reinterpret_cast<HWND>(wParam) == window) {
        const String text(static_cast<const char16_t*>(record->lpData), record->cbData / 2);
        self->DispatchNotify(static_cast<int>(record->dwData), reinterpret_cast<intptr_t>(text.c_str()));
        return TRUE;
      }
    }
    if (message == WM_INSTALLER_CALL) {
      auto* call = reinterpret_cast<TMainThreadCall*>(lParam);
      try {
        (*call->Function)();
      } catch (...) {
        call->Error = std::current_exception();
      }
      return 0;
    }
  } catch (const std::exception& e) {
    // A listener failed; the worker must not be taken down by the window's code.
    RunLog().Log(u"Notification failed: " + zel::FromUtf8(e.what()));
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kivo
