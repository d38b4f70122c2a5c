// Runs a command line the way a service or a deployment tool running as SYSTEM does:
// on a window station of its own that nobody can see (no WSF_VISIBLE), so that any
// window it shows can never be answered.
//
//   run_in_station <milliseconds> <command line...>
//
// Waits that long for the program; ends with its exit code, or 258 (WAIT_TIMEOUT) when
// it did not end (it is then ended), 254 when it could not be started.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 253;
  const DWORD timeout = std::wcstoul(argv[1], nullptr, 10);
  // The rest of our own command line, exactly as it was given.
  std::wstring line = ::GetCommandLineW();
  const size_t at = line.find(argv[1]);
  std::wstring command = line.substr(line.find(L' ', at) + 1);

  const std::wstring station = L"KIVOHidden" + std::to_wstring(::GetCurrentProcessId());
  HWINSTA hidden = ::CreateWindowStationW(station.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
  if (!hidden) return 254;
  HWINSTA own = ::GetProcessWindowStation();
  ::SetProcessWindowStation(hidden);
  HDESK desktop = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ::SetProcessWindowStation(own);
  if (!desktop) return 254;

  std::wstring desktopName = station + L"\\Default";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktopName.data();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return 254;
  ::CloseHandle(info.hThread);
  DWORD code = WAIT_TIMEOUT;
  if (::WaitForSingleObject(info.hProcess, timeout) == WAIT_OBJECT_0) ::GetExitCodeProcess(info.hProcess, &code);
  else ::TerminateProcess(info.hProcess, WAIT_TIMEOUT);
  ::CloseHandle(info.hProcess);
  return static_cast<int>(code);
}
