// Stand-in for the KIVO player: one top-level window of class "TKIVOMainForm",
// which the setup looks for to close running copies and to find an installation.
//
//   KIVO.exe               closes on WM_CLOSE, as the player does
//   KIVO.exe /ignoreclose  ignores WM_CLOSE but keeps serving messages (a player
//                          that asks a question instead of closing)
//   KIVO.exe /hang         sleeps for ever inside the WM_CLOSE handler (a hung
//                          player: a SendMessage to it never returns)
#include "CommandLineLog.h"

#include <cwchar>

namespace {

enum class TCloseMode { Close, Ignore, Hang };

TCloseMode CloseMode = TCloseMode::Close;

bool HasSwitch(const std::wstring& params, const wchar_t* name)
{
  const size_t n = wcslen(name);
  for (size_t i = 0; i + n <= params.size(); ++i) {
    const bool atStart = i == 0 || kivo_sample::IsBlank(params[i - 1]);
    const bool atEnd = i + n == params.size() || kivo_sample::IsBlank(params[i + n]);
    if (atStart && atEnd &&
        CompareStringOrdinal(params.c_str() + i, static_cast<int>(n), name, static_cast<int>(n), TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

void Paint(HWND window)
{
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);
  HBRUSH background = CreateSolidBrush(RGB(0x26, 0x26, 0x26));
  FillRect(dc, &client, background);
  DeleteObject(background);

  SetBkMode(dc, TRANSPARENT);
  HFONT title = CreateFontW(-48, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  HGDIOBJ old = SelectObject(dc, title);
  SetTextColor(dc, RGB(0xDE, 0x8C, 0x33));
  RECT band = client;
  band.bottom = client.bottom / 2 + 10;
  DrawTextW(dc, L"KIVO", -1, &band, DT_CENTER | DT_BOTTOM | DT_SINGLELINE);
  SelectObject(dc, old);
  DeleteObject(title);

  const wchar_t* note = CloseMode == TCloseMode::Hang     ? L"This window will hang when asked to close."
                        : CloseMode == TCloseMode::Ignore ? L"This window ignores requests to close."
                                                          : L"Media player";
  SetTextColor(dc, RGB(0xF0, 0xF0, 0xF0));
  band.top = band.bottom + 8;
  band.bottom = client.bottom;
  DrawTextW(dc, note, -1, &band, DT_CENTER | DT_TOP | DT_SINGLELINE);
  EndPaint(window, &ps);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
  switch (message) {
  case WM_CLOSE:
    if (CloseMode == TCloseMode::Hang) {
      for (;;) Sleep(INFINITE);
    }
    if (CloseMode == TCloseMode::Ignore) return 0;
    DestroyWindow(window);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  case WM_PAINT:
    Paint(window);
    return 0;
  case WM_ERASEBKGND:
    return 1;  // WM_PAINT fills the whole client
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
  const std::wstring params = kivo_sample::ParamsOf(GetCommandLineW(), kivo_sample::ModulePath(nullptr));
  if (HasSwitch(params, L"/hang"))
    CloseMode = TCloseMode::Hang;
  else if (HasSwitch(params, L"/ignoreclose"))
    CloseMode = TCloseMode::Ignore;

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"TKIVOMainForm";
  if (!RegisterClassExW(&windowClass)) return 1;

  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"KIVO", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 300, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, showCommand == SW_HIDE ? SW_SHOWNORMAL : showCommand);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
