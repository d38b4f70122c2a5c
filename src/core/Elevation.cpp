#include "core/Elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "core/SpawnService.h"
#include "library/CommandLine.h"
#include "library/win/Handles.h"
#include "library/win/MessageWait.h"
#include "library/win/OSError.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

const DWORD ErrorCancelled = ERROR_CANCELLED;  // 1223: the elevation prompt was declined

String ExtendedPath(StringView path) { return zel::platform::ExtendedLengthPath(path); }

// The user's temporary folder, long form, with a trailing backslash.
String TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) zel::RaiseLastOSError();
  String path = zel::from_wcstr(buffer, n);
  // GetTempPath may answer with 8.3 names; the copies' paths are shown and compared.
  String longPath(32768, u'\0');
  const DWORD m = ::GetLongPathNameW(as_wcstr(path), as_wcstr(longPath), static_cast<DWORD>(longPath.size()));
  if (m > 0 && m < longPath.size()) {
    longPath.resize(m);
    path = std::move(longPath);
  }
  return zel::IncludeTrailingBackslash(path);
}

String CurrentFolder() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) zel::RaiseLastOSError();
  String folder(n, u'\0');
  const DWORD m = ::GetCurrentDirectoryW(n, as_wcstr(folder));
  if (m == 0 || m >= n) zel::RaiseLastOSError();
  folder.resize(m);
  return zel::IncludeTrailingBackslash(folder);
}

bool FileExists(StringView path) {
  const DWORD attributes = ::GetFileAttributesW(as_wcstr(ExtendedPath(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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

bool RunElevated(StringView params, uint32_t* exitCode) { return RunElevatedFile(OwnFileName(), params, exitCode); }

bool RunElevatedFile(StringView program, StringView params, uint32_t* exitCode) {
  if (exitCode) *exitCode = 0;
  TInstallerSpawnService::Initialize(nullptr);
  // Window handles are 32-bit values, sign-extended: the copy reads them back the same way.
  const int32_t window = static_cast<int32_t>(reinterpret_cast<intptr_t>(TInstallerSpawnService::TargetWindow()));
  const String parameters = zel::Format(u"/%s=%d %s", u"SKIPUAC", window, params);
  const String file(program);
  const String folder = CurrentFolder();

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  info.lpVerb = L"runas";
  info.lpFile = as_wcstr(file);
  info.lpParameters = as_wcstr(parameters);
  info.lpDirectory = as_wcstr(folder);
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info)) {
    const DWORD error = ::GetLastError();
    if (error == ErrorCancelled) return false;
    zel::RaiseOSError(error);
  }
  zel::THandle process(info.hProcess);
  if (process) {
    // The copy sends its spawn requests to our window: keep serving them while waiting.
    zel::WaitServingMessages(process.Get(), INFINITE, 100);
    DWORD code = 0;
    if (exitCode && ::GetExitCodeProcess(process.Get(), &code)) *exitCode = code;
  }
  return true;
}

void RunUninstallerFromTemp() { RunUninstallerFromTemp(OwnFileName(), zel::GetCommandLineParams()); }

void RunUninstallerFromTemp(StringView ownFile, StringView params) {
  const String tempExe = CopyToTemp(ownFile);
  CopyToTemp(zel::ChangeFileExt(ownFile, u".dat"));
  // The installation folder must not stay our current directory, or it cannot be removed.
  ::SetCurrentDirectoryW(as_wcstr(zel::ExtractFilePath(tempExe)));
  const String parameters = zel::Format(u"/%s=\"%s\" %s", u"PATH", zel::ExtractFilePath(ownFile), params);
  ShellOpen(tempExe, parameters);
}

String CopyToTemp(StringView fileName) {
  const String target = TempFolder() + zel::ExtractFileName(fileName);
  CopyFileOrRaise(fileName, target);
  DeleteAtReboot(target);
  return target;
}

void CopyFileOrRaise(StringView source, StringView target) {
  if (!::CopyFileW(as_wcstr(ExtendedPath(source)), as_wcstr(ExtendedPath(target)), FALSE))
    zel::RaiseLastOSError(String(source) + u" -> " + String(target));
}

bool DeleteAtReboot(StringView fileName) {
  return ::MoveFileExW(as_wcstr(ExtendedPath(fileName)), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool SafeDeleteFile(StringView fileName) {
  // Clean-up never reports failures: every error below ends in "the file stays".
  try {
    const String path = ExtendedPath(fileName);
    if (!FileExists(fileName)) return true;
    ::SetFileAttributesW(as_wcstr(path), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileW(as_wcstr(path))) return true;

    // In use (a running program, a loaded library): move it out of the way, so the
    // folder can be removed, and delete it at the next restart.
    const String folder = TempFolder();
    wchar_t placeholder[MAX_PATH];
    if (!::GetTempFileNameW(as_wcstr(folder), L"delete", 0, placeholder)) return false;
    ::DeleteFileW(placeholder);
    const String moved = zel::from_wcstr(placeholder);
    if (!::MoveFileExW(as_wcstr(path), as_wcstr(ExtendedPath(moved)), 0)) return false;
    DeleteAtReboot(moved);
    return true;
  } catch (...) {
    return false;
  }
}

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

bool IsUninstaller() { return IsUninstallerFileName(OwnFileName()); }

String OwnFileName() {
  String name(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, as_wcstr(name), static_cast<DWORD>(name.size()));
    if (n == 0) zel::RaiseLastOSError();
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    name.resize(name.size() * 2);
  }
}

void TInstallerActiveX::Unregister(StringView fileName) {
  const String file(fileName);
  HMODULE library;
  {
    // Dependencies are looked up in the library's own folder; no "disk not ready" boxes.
    TLoadGuard guard(zel::ExtractFilePath(file));
    library = ::LoadLibraryW(as_wcstr(file));
  }
  if (!library) return;
  zel::TModuleHandle module(library);
  using TUnregisterProc = HRESULT(WINAPI*)();
  auto unregister = reinterpret_cast<TUnregisterProc>(
      reinterpret_cast<void*>(::GetProcAddress(module.Get(), "DllUnregisterServer")));
  if (unregister) unregister();  // the result is ignored: unregistering is clean-up
}

}  // namespace kivo
