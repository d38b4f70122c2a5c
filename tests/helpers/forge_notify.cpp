// Plays another program on the desktop that forges messages to the installer's
// notification window: "ended, cancelled", a status text, a progress value and a
// main-thread call, through every message the window could take.
//
//   forge_notify <window handle, decimal>
//
// Exit code 0 when every message was sent (whatever the window made of them).
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(std::wcstol(argv[1], nullptr, 10)));
  if (!::IsWindow(window)) return 3;
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  // The window's own message number is no secret to a program that knows its name.
  const std::wstring name = L"TInstaller.Notify." + std::to_wstring(process);
  const UINT own = ::RegisterWindowMessageW(name.c_str());
  DWORD_PTR result = 0;
  auto send = [&](UINT message, WPARAM wParam, LPARAM lParam) {
    ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
  };
  // Addresses it might guess: small numbers, the high half, anything.
  for (LPARAM guess : {LPARAM(0), LPARAM(1), LPARAM(0x10000), LPARAM(0x7FFE0000), LPARAM(-1)}) {
    send(own, 1, guess);
    send(WM_USER, 1, guess);     // "ended", cancelled
    send(WM_USER, 2, guess);     // progress
    send(WM_APP + 1, 0, guess);  // a main-thread call
  }
  const std::wstring text = L"forged status";
  for (ULONG_PTR code : {ULONG_PTR(1), ULONG_PTR(4)}) {
    COPYDATASTRUCT data{code, static_cast<DWORD>(text.size() * 2), const_cast<wchar_t*>(text.data())};
    send(WM_COPYDATA, reinterpret_cast<WPARAM>(window), reinterpret_cast<LPARAM>(&data));
  }
  return 0;
}
