#include "core/Elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "core/SpawnService.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/MessageWait.h"
#include "library/win/OSError.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

const DWORD ErrorCancelled = ERROR_CANCELLED;  // 1223: the elevation prompt was declined

String CurrentFolder() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) zel::RaiseLastOSError(u"GetCurrentDirectory");
  String folder(n, u'\0');
  const DWORD m = ::GetCurrentDirectoryW(n, as_wcstr(folder));
  // Longer than a moment ago: another thread changed it.
  if (m == 0 || m >= n) zel::RaiseOSError(m == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW, u"GetCurrentDirectory");
  folder.resize(m);
  return zel::IncludeTrailingBackslash(folder);
}

}  // namespace

bool RunElevated(StringView params, uint32_t* exitCode) {
  return RunElevatedFile(zel::ModuleFileName(), params, exitCode);
}

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
    zel::RaiseOSError(error, u"ShellExecuteEx (runas) \"" + file + u"\"");
  }
  zel::THandle process(info.hProcess);
  if (process) {
    // The user started us, so we may take the foreground: the elevated copy, whose
    // windows the user now works with, gets that right passed on.
    ::AllowSetForegroundWindow(::GetProcessId(process.Get()));
    // The copy sends its spawn requests to our window: keep serving them while waiting.
    zel::WaitServingMessages(process.Get(), INFINITE, 100);
    DWORD code = 0;
    if (exitCode && ::GetExitCodeProcess(process.Get(), &code)) *exitCode = code;
  }
  return true;
}

}  // namespace kivo
