#pragma once
// Starting the test helpers (probe_child.exe, spawn_client.exe, unreg_probe.dll),
// which the build puts beside the test executable.
#include <windows.h>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"

namespace kivo::test {

inline zel::String HelperPath(zel::StringView name) {
  return zel::ExtractFilePath(zel::ModuleFileName()) + zel::String(name);
}

inline zel::String Quoted(zel::StringView text) { return u"\"" + zel::String(text) + u"\""; }

// Starts a command line; the handle is null when it cannot be started.
inline zel::THandle StartProcess(zel::StringView commandLine) {
  zel::String command(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, zel::as_wcstr(command), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return zel::THandle();
  ::CloseHandle(info.hThread);
  return zel::THandle(info.hProcess);
}

inline DWORD ExitCodeOf(HANDLE process) {
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process, &code);
  return code;
}

inline bool FileExists(zel::StringView path) {
  const zel::String name(path);
  return ::GetFileAttributesW(zel::as_wcstr(name)) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace kivo::test
