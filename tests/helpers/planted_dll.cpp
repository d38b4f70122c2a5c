// A DLL planted beside Setup.exe under a system DLL's name (bcrypt.dll, comctl32.dll,
// ...): when anything loads it, it appends its own file name to C:\planted.log. The
// setup must never load it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t name[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(instance, name, MAX_PATH);
  HANDLE log = ::CreateFileW(L"C:\\planted.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(log, name, n * sizeof(wchar_t), &written, nullptr);
    ::WriteFile(log, L"\r\n", 4, &written, nullptr);
    ::CloseHandle(log);
  }
  return TRUE;
}
