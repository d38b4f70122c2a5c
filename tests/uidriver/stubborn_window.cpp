// A window that ignores WM_CLOSE, standing in for a player that does not close when the
// setup asks it to: "stubborn_window CLASS RELEASE [TIMEOUT_MS]" shows a window of the
// class CLASS and ends when the file RELEASE appears (or after TIMEOUT_MS, default
// 60000). Exit code 0 when released, 1 on the time-out, 2 for a wrong command line.
#include <windows.h>

namespace {

const wchar_t* ReleaseFile = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE: return 0;  // refused
    case WM_TIMER:
      if (::GetFileAttributesW(ReleaseFile) != INVALID_FILE_ATTRIBUTES) ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  ReleaseFile = argv[2];
  const DWORD timeout = argc > 3 ? static_cast<DWORD>(::_wtoi(argv[3])) : 60000;
  WNDCLASSW wc{};
  wc.lpfnWndProc = &WindowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = argv[1];
  if (!::RegisterClassW(&wc)) return 2;
  HWND window = ::CreateWindowExW(0, argv[1], L"stubborn", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  wc.hInstance, nullptr);
  if (!window) return 2;
  // Shown, so that the tests can wait until it is there; without taking the activation.
  ::ShowWindow(window, SW_SHOWNOACTIVATE);
  ::SetTimer(window, 1, 100, nullptr);
  const ULONGLONG start = ::GetTickCount64();
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::GetTickCount64() - start > timeout) return 1;
    ::DispatchMessageW(&message);
  }
  return 0;
}
