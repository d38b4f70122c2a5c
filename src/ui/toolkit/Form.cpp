#include "ui/toolkit/Form.h"

#include <algorithm>
#include <vector>

#include "ui/toolkit/Application.h"

namespace zel {

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

std::vector<TZELForm*>& Forms() {
  static std::vector<TZELForm*> forms;
  return forms;
}

// The frame for a client size at a DPI (AdjustWindowRectExForDpi where it exists).
RECT FrameFor(int width, int height, unsigned dpi) {
  RECT frame{0, 0, width, height};
  using TAdjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = reinterpret_cast<TAdjust>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjust) adjust(&frame, kFormStyle, FALSE, kFormExStyle, dpi);
  else ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  return frame;
}

// Sizes the window so that its client is width × height; corrects by what the system
// really gives (Wine keeps the frame of the system DPI when the window's DPI changes).
void SetClientSize(HWND window, int left, int top, int width, int height, unsigned dpi, bool move) {
  const RECT frame = FrameFor(width, height, dpi);
  int frameWidth = frame.right - frame.left;
  int frameHeight = frame.bottom - frame.top;
  const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (move ? 0 : SWP_NOMOVE);
  ::SetWindowPos(window, nullptr, left, top, frameWidth, frameHeight, flags);
  RECT client{};
  ::GetClientRect(window, &client);
  if (client.right != width || client.bottom != height) {
    frameWidth += width - client.right;
    frameHeight += height - client.bottom;
    ::SetWindowPos(window, nullptr, 0, 0, frameWidth, frameHeight, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  }
}

}  // namespace

RECT WorkArea(HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  ::GetMonitorInfoW(monitor, &info);
  return info.rcWork;
}

TScale TZELForm::FittingScale(const TScale& wanted, const RECT& work) const {
  // The DPI's own scale when the window fits the work area; else the largest step of
  // 25 % below it that does (never below 100 %), so that no part is off-screen.
  TScale scale = wanted;
  while (scale.Numerator > 96) {
    const RECT frame = FrameFor(scale.Apply(FClientWidth), scale.Apply(FClientHeight), scale.Numerator);
    if (frame.right - frame.left <= work.right - work.left && frame.bottom - frame.top <= work.bottom - work.top) break;
    scale = TScale::ForDpi(std::max(96, (scale.Numerator - 1) / 24 * 24));
  }
  return scale;
}

TZELForm::TZELForm(const wchar_t* className, int clientWidth, int clientHeight)
    : FClientWidth(clientWidth), FClientHeight(clientHeight) {
  CreateWindowHandle(className, nullptr, kFormStyle, kFormExStyle, 0, 0);
  Forms().push_back(this);
  ResizeForScale();
  ApplyTitleBarTheme(Handle(), IsDarkMode() && !IsHighContrast());
}

TZELForm::~TZELForm() {
  auto& forms = Forms();
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
}

void TZELForm::ResizeForScale() {
  // Before any control exists, so the controls are made at the fitting scale.
  FScale = FittingScale(FScale, WorkArea(::MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY)));
  const int width = FScale.Apply(FClientWidth);
  const int height = FScale.Apply(FClientHeight);
  const RECT frame = FrameFor(width, height, Dpi());
  const int frameWidth = frame.right - frame.left;
  const int frameHeight = frame.bottom - frame.top;
  // Centred on the work area of the window's monitor.
  const RECT work = WorkArea(::MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY));
  const int left = work.left + std::max(0L, (work.right - work.left - frameWidth) / 2);
  const int top = work.top + std::max(0L, (work.bottom - work.top - frameHeight) / 2);
  SetClientSize(Handle(), left, top, width, height, Dpi(), true);
}

TZELForm* TZELForm::FromHandle(HWND window) {
  for (TZELForm* form : Forms())
    if (form->Handle() == window) return form;
  return nullptr;
}

void TZELForm::LimitScale(const TScale& limit) {
  if (FScale.Numerator * limit.Denominator <= limit.Numerator * FScale.Denominator) return;
  FScale = limit;
  ResizeForScale();
}

void TZELForm::SetDesignClientSize(int clientWidth, int clientHeight) {
  FClientWidth = clientWidth;
  FClientHeight = clientHeight;
  ResizeForScale();
}

void TZELForm::SetCaption(StringView caption) { ::SetWindowTextW(Handle(), as_wcstr(String(caption))); }

String TZELForm::Caption() const {
  wchar_t buffer[512];
  const int n = ::GetWindowTextW(Handle(), buffer, 512);
  return from_wcstr(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

void TZELForm::Show() {
  // The control that was given the focus while the window was hidden gets it back once
  // the window is active (activation alone focuses the window itself).
  HWND focus = ::GetFocus();
  if (focus && ::IsChild(Handle(), focus)) FLastFocus = focus;
  ::ShowWindow(Handle(), SW_SHOWNORMAL);
  ::UpdateWindow(Handle());
  ::SetForegroundWindow(Handle());
  RestoreFocus();
}

void TZELForm::RestoreFocus() {
  if (::GetActiveWindow() != Handle()) return;
  HWND focus = ::GetFocus();
  if (focus && focus != Handle() && ::IsChild(Handle(), focus)) return;
  if (FLastFocus && ::IsWindow(FLastFocus) && ::IsChild(Handle(), FLastFocus) && ::IsWindowVisible(FLastFocus) &&
      ::IsWindowEnabled(FLastFocus))
    ::SetFocus(FLastFocus);
  else if (HWND first = ::GetNextDlgTabItem(Handle(), nullptr, FALSE)) ::SetFocus(first);
}

void TZELForm::Close() {
  if (FDestroyed) return;
  // Inside a notification the worker is blocked in its send; stopping it there would
  // wait for a thread that waits for us.
  if (Application::InNotification()) {
    ::PostMessageW(Handle(), Application::DeferredCloseMessage(), 0, 0);
    return;
  }
  if (FInCloseQuery) return;
  FInCloseQuery = true;
  bool canClose = false;
  try {
    canClose = CloseQuery();
  } catch (...) {
    FInCloseQuery = false;
    throw;
  }
  FInCloseQuery = false;
  if (canClose && !FDestroyed) ::DestroyWindow(Handle());
}

void TZELForm::BroadcastThemeChange(int flags) {
  const std::vector<TZELForm*> forms = Forms();
  for (TZELForm* form : forms) form->ThemeChangedFlags(flags);
}

void TZELForm::ThemeChangedFlags(int flags) {
  ApplyTitleBarTheme(Handle(), IsDarkMode() && !IsHighContrast());
  ThemeChanged();
}

LRESULT TZELForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == Application::DeferredCloseMessage()) {
    Close();
    return 0;
  }
  switch (message) {
    case WM_CLOSE: Close(); return 0;
    case WM_ACTIVATE:
      // As dialogs do: the focus leaves with the window and comes back to the same control.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(Handle(), focus)) FLastFocus = focus;
        break;
      }
      TZELContainer::WindowProc(message, wParam, lParam);
      RestoreFocus();
      return 0;
    case WM_DESTROY:
      FDestroyed = true;
      if (FMainForm) ::PostQuitMessage(0);
      break;
    case WM_COMMAND:
      // From the dialog manager: Esc is IDCANCEL, Enter the default id.
      if (lParam == 0 && LOWORD(wParam) == IDCANCEL) {
        Close();
        return 0;
      }
      break;
    case DM_GETDEFID: {
      // Enter presses the focused push button, else the default one.
      HWND focus = ::GetFocus();
      if (focus && ::GetParent(focus) == Handle() &&
          (::SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
        return MAKELRESULT(::GetDlgCtrlID(focus), DC_HASDEFID);
      if (FDefaultButton) return MAKELRESULT(FDefaultButton->Id(), DC_HASDEFID);
      return 0;
    }
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      const TScale scale = FittingScale(TScale::ForDpi(HIWORD(wParam)),
                                        WorkArea(::MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST)));
      // The suggested place, at the fixed client size for the new DPI.
      SetClientSize(Handle(), suggested->left, suggested->top, scale.Apply(FClientWidth), scale.Apply(FClientHeight),
                    static_cast<unsigned>(scale.Numerator), true);
      ScaleChanged(scale);
      return 0;
    }
    case WM_SETTINGCHANGE:
      if (lParam && ::lstrcmpiW(reinterpret_cast<const wchar_t*>(lParam), L"ImmersiveColorSet") == 0) {
        if (RefreshDarkMode()) {
          UpdateSkin();
          BroadcastThemeChange(ThemeChangeDarkMode);
        }
      } else if (wParam == SPI_SETHIGHCONTRAST) {
        UpdateSkin();
        BroadcastThemeChange(ThemeChangeHighContrast);
      }
      break;
    case WM_SYSCOLORCHANGE:
      if (IsHighContrast()) {
        UpdateSkin();
        BroadcastThemeChange(ThemeChangeHighContrast);
      }
      break;
  }
  return TZELContainer::WindowProc(message, wParam, lParam);
}

}  // namespace zel
