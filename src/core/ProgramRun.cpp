#include "core/ProgramRun.h"

#include <windows.h>

#include "library/win/Handles.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

// Restores the thread's error mode and the current directory when a load is over.
class TLoadGuard {
public:
  explicit TLoadGuard(StringView folder) {
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &FErrorMode);
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    if (n > 0) {
      FFolder.resize(n);
      const DWORD m = ::GetCurrentDirectoryW(n, as_wcstr(FFolder));
      FFolder.resize(m < n ? m : 0);
    }
    const String target(folder);
    if (!target.empty()) ::SetCurrentDirectoryW(as_wcstr(target));
  }
  ~TLoadGuard() {
    if (!FFolder.empty()) ::SetCurrentDirectoryW(as_wcstr(FFolder));
    ::SetThreadErrorMode(FErrorMode, nullptr);
  }
  TLoadGuard(const TLoadGuard&) = delete;
  TLoadGuard& operator=(const TLoadGuard&) = delete;

private:
  DWORD FErrorMode = 0;
  String FFolder;
};

}  // namespace

bool RunAndWait(StringView commandLine) {
  String command(commandLine);  // CreateProcess may write into its command line
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, as_wcstr(command), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return false;
  zel::THandle process(info.hProcess);
  zel::THandle thread(info.hThread);
  // A console program has no input-idle state: the wait then ends at once.
  if (::WaitForInputIdle(process.Get(), 5000) == WAIT_TIMEOUT) return false;
  ::WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

bool RunProgramAndWait(StringView program, StringView switches) {
  const String application(program);
  String command = u"\"" + application + u"\"" + String(switches);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(as_wcstr(application), as_wcstr(command), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    return false;
  zel::THandle process(info.hProcess);
  zel::THandle thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

namespace {

// Loads the library and calls one of its registration exports; passed over silently
// when it does not load or lacks the export. True when the export was called.
bool CallRegistrationExport(StringView fileName, const char* exportName) {
  const String file(fileName);
  HMODULE library;
  {
    // Its dependencies come from its own folder and the system folder only (the DLL
    // search of this process leaves out the current folder); no "disk not ready" boxes.
    TLoadGuard guard(zel::ExtractFilePath(file));
    const bool absolute = file.size() > 2 && (file[1] == u':' || zel::StartsWith(file, u"\\\\"));
    library = ::LoadLibraryExW(as_wcstr(zel::platform::ExtendedLengthPath(file)), nullptr,
                               absolute ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS : 0);
  }
  if (!library) return false;
  zel::TModuleHandle module(library);
  using TRegistrationProc = HRESULT(WINAPI*)();
  auto call = reinterpret_cast<TRegistrationProc>(reinterpret_cast<void*>(::GetProcAddress(module.Get(), exportName)));
  if (!call) return false;
  call();  // the result is ignored: the caller cleans up or puts back, and cannot do more
  return true;
}

}  // namespace

void TInstallerActiveX::Unregister(StringView fileName) { CallRegistrationExport(fileName, "DllUnregisterServer"); }

bool TInstallerActiveX::Register(StringView fileName) { return CallRegistrationExport(fileName, "DllRegisterServer"); }

}  // namespace kivo
