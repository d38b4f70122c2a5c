#include "ui/toolkit/Control.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "library/Exceptions.h"
#include "ui/toolkit/Dialogs.h"
#include "ui/toolkit/DeviceContext.h"

namespace zel {

namespace {

constexpr wchar_t kControlProperty[] = L"ZEL.Control";
constexpr UINT_PTR kSubclassId = 1;
int NextControlId = 1000;

TErrorHandler& ErrorHandler() {
  static TErrorHandler handler = [](const String& message) { ShowErrorBox(message, u"Setup"); };
  return handler;
}

void RegisterContainerClass(const wchar_t* className, WNDPROC proc) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  if (::GetClassInfoExW(instance, className, &wc)) return;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.lpszClassName = className;
  if (!::RegisterClassExW(&wc)) throw Exception(u"RegisterClassEx failed for " + from_wcstr(className));
}

}  // namespace

void SetErrorHandler(TErrorHandler handler) { ErrorHandler() = std::move(handler); }

void ReportCurrentException() noexcept {
  try {
    try {
      throw;
    } catch (const Exception& e) {
      if (ErrorHandler()) ErrorHandler()(e.Message());
    } catch (const std::exception& e) {
      if (ErrorHandler()) ErrorHandler()(FromUtf8(e.what()));
    }
  } catch (...) {
    // Reporting itself failed: nothing more can be done at this edge.
  }
}

// --- TZELControl

TZELControl::TZELControl(TZELContainer& parent) : FParent(&parent), FId(NextControlId++) {}

TZELControl::~TZELControl() {
  if (Handle()) {
    ::RemoveWindowSubclass(Handle(), &TZELControl::StaticSubclassProc, kSubclassId);
    ::RemovePropW(Handle(), kControlProperty);
  }
}

TZELControl* TZELControl::FromHandle(HWND window) {
  return window ? static_cast<TZELControl*>(::GetPropW(window, kControlProperty)) : nullptr;
}

void TZELControl::CreateHandle(const wchar_t* className, DWORD style, DWORD exStyle) {
  HWND window =
      ::CreateWindowExW(exStyle, className, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, FParent->Handle(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(FId)), ::GetModuleHandleW(nullptr), nullptr);
  if (!window) throw Exception(u"Cannot create a control of class " + from_wcstr(className));
  FHandle.Reset(window);
  ::SetPropW(window, kControlProperty, this);
  ::SetWindowSubclass(window, &TZELControl::StaticSubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont(FFont, FontDpi())), FALSE);
}

TScale TZELControl::Scale() const { return FParent->Scale(); }

unsigned TZELControl::FontDpi() const { return FParent->Dpi(); }

void TZELControl::SetBounds(int left, int top, int width, int height) {
  FDesign = TRect{left, top, left + width, top + height};
  const TScale scale = Scale();
  ApplyScale(scale.Bounds(left, top, width, height));
}

void TZELControl::SetAlign(TAlign align, const TMargins& margins) {
  FAlign = align;
  FMargins = margins;
}

void TZELControl::SetVisible(bool visible) {
  FVisible = visible;
  ::ShowWindow(Handle(), visible ? SW_SHOWNA : SW_HIDE);
  if (FAlign != TAlign::None && FAlign != TAlign::Owner) FParent->Realign();
}

void TZELControl::SetEnabled(bool enabled) { ::EnableWindow(Handle(), enabled ? TRUE : FALSE); }

bool TZELControl::Enabled() const { return ::IsWindowEnabled(Handle()) != FALSE; }

void TZELControl::SetCaption(StringView text) { ::SetWindowTextW(Handle(), as_wcstr(String(text))); }

String TZELControl::Caption() const {
  const int length = ::GetWindowTextLengthW(Handle());
  String text(static_cast<size_t>(length) + 1, u'\0');
  const int copied = ::GetWindowTextW(Handle(), as_wcstr(text), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

void TZELControl::SetFont(const TFontStyle& font) {
  FFont = font;
  ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(GetFont(FFont, FontDpi())), TRUE);
}

void TZELControl::SetTextColor(std::optional<TColor> color) {
  FTextColor = color;
  Invalidate();
}

void TZELControl::SetFocus() { ::SetFocus(Handle()); }

void TZELControl::Invalidate() { ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME); }

void TZELControl::ApplyScale(const TRect& pixels) {
  ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(GetFont(FFont, FontDpi())), FALSE);
  ::SetWindowPos(Handle(), nullptr, pixels.Left, pixels.Top, pixels.Width(), pixels.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  Invalidate();
}

void TZELControl::SetTextRole(TTextRole role) {
  FTextRole = role;
  Invalidate();
}

TColor TZELControl::TextColor() const {
  if (!Enabled()) return Skin().DisabledText;
  if (FTextColor) return *FTextColor;
  switch (FTextRole) {
    case TTextRole::Warning: return Skin().Warning;
    case TTextRole::Link: return Skin().Link;
    case TTextRole::Default: break;
  }
  return Skin().Text;
}

TColor TZELControl::BackColor() const { return FParent->BackgroundColor(); }

HBRUSH TZELControl::ControlColor(HDC dc) {
  ::SetTextColor(dc, ToColorRef(TextColor()));
  ::SetBkColor(dc, ToColorRef(BackColor()));
  return GetBrush(BackColor());
}

bool TZELControl::HideFocus() const { return (::SendMessageW(Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0; }

bool TZELControl::HideAccelerators() const {
  return (::SendMessageW(Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) != 0;
}

void TZELControl::Click() {
  if (OnClick) OnClick();
}

void TZELControl::PaintNow(HDC dc) {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  TZELBufferedPaint buffer(dc, client);
  TZELCanvas canvas(buffer.DC(), Scale());
  canvas.SetFont(GetFont(FFont, FParent->Dpi()));
  PaintControl(canvas, FromRECT(client));
}

LRESULT TZELControl::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefSubclassProc(Handle(), message, wParam, lParam);
}

LRESULT TZELControl::SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (OwnPaint()) {
    switch (message) {
      case WM_ERASEBKGND: return 1;
      case WM_PAINT: {
        const TPaintDC dc(Handle());
        PaintNow(dc.Get());
        return 0;
      }
      case WM_PRINTCLIENT: PaintNow(reinterpret_cast<HDC>(wParam)); return 0;
    }
    if (RepaintsAfter(message)) {
      const LRESULT result = DefaultProc(message, wParam, lParam);
      // The system control has drawn itself straight away; draw over it at once.
      if (Handle()) ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      return result;
    }
  }
  return DefaultProc(message, wParam, lParam);
}

LRESULT CALLBACK TZELControl::StaticSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                 DWORD_PTR data) noexcept {
  auto* self = reinterpret_cast<TZELControl*>(data);
  try {
    if (self && self->Handle() == window) return self->SubclassProc(message, wParam, lParam);
  } catch (...) {
    ReportCurrentException();
    return 0;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

// --- TZELContainer

TZELContainer::~TZELContainer() {
  // The controls' windows go first, while their parent still exists.
  FControls.clear();
  if (Handle()) ::SetWindowLongPtrW(Handle(), GWLP_USERDATA, 0);
}

void TZELContainer::CreateWindowHandle(const wchar_t* className, HWND parent, DWORD style, DWORD exStyle, int width,
                                       int height) {
  RegisterContainerClass(className, &TZELContainer::StaticWindowProc);
  HWND window = ::CreateWindowExW(exStyle, className, L"", style, CW_USEDEFAULT, CW_USEDEFAULT, width, height, parent,
                                  nullptr, ::GetModuleHandleW(nullptr), this);
  if (!window) throw Exception(u"Cannot create a window of class " + from_wcstr(className));
  FHandle.Reset(window);
  FScale = WindowScale(window);
}

void TZELContainer::Remove(TZELControl* control) {
  auto it = std::find_if(FControls.begin(), FControls.end(), [&](const auto& item) { return item.get() == control; });
  if (it != FControls.end()) FControls.erase(it);
}

void TZELContainer::Realign() {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  TRect area = DeflateRect(FromRECT(client), FScale.Apply(FPadding.Left), FScale.Apply(FPadding.Top),
                           FScale.Apply(FPadding.Right), FScale.Apply(FPadding.Bottom));
  for (const auto& control : FControls) {
    const TRect& d = control->DesignBounds();
    const TMargins& m = control->Margins();
    switch (control->Align()) {
      case TAlign::None: control->ApplyScale(FScale.Bounds(d.Left, d.Top, d.Width(), d.Height())); break;
      case TAlign::Bottom: {
        if (!control->Visible()) break;
        const int left = area.Left + FScale.Apply(m.Left);
        const int right = area.Right - FScale.Apply(m.Right);
        int height = control->AutoHeight(right - left);
        if (height <= 0) height = FScale.Apply(d.Height());
        const int bottom = area.Bottom - FScale.Apply(m.Bottom);
        control->ApplyScale(TRect{left, bottom - height, right, bottom});
        area.Bottom = bottom - height - FScale.Apply(m.Top);
        break;
      }
      case TAlign::Client:
      case TAlign::Owner: break;
    }
  }
  for (const auto& control : FControls) {
    if (control->Align() != TAlign::Client) continue;
    const TMargins& m = control->Margins();
    control->ApplyScale(
        DeflateRect(area, FScale.Apply(m.Left), FScale.Apply(m.Top), FScale.Apply(m.Right), FScale.Apply(m.Bottom)));
  }
}

void TZELContainer::ScaleChanged(const TScale& scale) {
  FScale = scale;
  Realign();
  Invalidate();
}

void TZELContainer::ThemeChanged() {
  for (const auto& control : FControls) control->ApplyTheme();
  Invalidate();
}

void TZELContainer::Invalidate() {
  ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void TZELContainer::Paint(TZELCanvas& canvas, const TRect& client) { canvas.FillRect(client, BackgroundColor()); }

void TZELContainer::PaintWindow() {
  const TPaintDC dc(Handle());
  RECT client{};
  ::GetClientRect(Handle(), &client);
  TZELBufferedPaint buffer(dc.Get(), client);
  TZELCanvas canvas(buffer.DC(), FScale);
  canvas.SetFont(GetFont(TFontStyle{}, Dpi()));
  Paint(canvas, FromRECT(client));
}

LRESULT TZELContainer::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(Handle(), message, wParam, lParam);
}

LRESULT TZELContainer::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: return 1;  // painting covers the whole client
    case WM_PAINT: PaintWindow(); return 0;
    case WM_PRINTCLIENT: {
      RECT client{};
      ::GetClientRect(Handle(), &client);
      TZELCanvas canvas(reinterpret_cast<HDC>(wParam), FScale);
      Paint(canvas, FromRECT(client));
      return 0;
    }
    case WM_COMMAND:
      if (TZELControl* control = TZELControl::FromHandle(reinterpret_cast<HWND>(lParam))) {
        control->Command(HIWORD(wParam));
        return 0;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (TZELControl* control = TZELControl::FromHandle(header->hwndFrom)) {
        LRESULT result = 0;
        if (control->Notify(header, result)) return result;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      if (TZELControl* control = TZELControl::FromHandle(reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<LRESULT>(control->ControlColor(reinterpret_cast<HDC>(wParam)));
      ::SetTextColor(reinterpret_cast<HDC>(wParam), ToColorRef(Skin().Text));
      ::SetBkColor(reinterpret_cast<HDC>(wParam), ToColorRef(BackgroundColor()));
      return reinterpret_cast<LRESULT>(GetBrush(BackgroundColor()));
  }
  return DefaultProc(message, wParam, lParam);
}

LRESULT CALLBACK TZELContainer::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TZELContainer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
  // The handle is not stored yet while the window is being created.
  if (!self->FHandle) return ::DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->WindowProc(message, wParam, lParam);
  } catch (...) {
    ReportCurrentException();
    return 0;
  }
}

// --- TZELPanel

HWND ParkingWindow() {
  static TWindowHandle window = [] {
    RegisterContainerClass(L"TZELParking", &::DefWindowProcW);
    return TWindowHandle(::CreateWindowExW(WS_EX_TOOLWINDOW, L"TZELParking", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                           nullptr, ::GetModuleHandleW(nullptr), nullptr));
  }();
  return window.Get();
}

TZELPanel::TZELPanel(const wchar_t* className) {
  CreateWindowHandle(className, ParkingWindow(), WS_CHILD | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, 0, 0);
}

void TZELPanel::SetParentWindow(TZELContainer& parent) {
  if (::GetParent(Handle()) != parent.Handle()) ::SetParent(Handle(), parent.Handle());
  // A panel made on the parking window takes its new parent's scale.
  if (FScale.Numerator != parent.Scale().Numerator) ScaleChanged(parent.Scale());
}

void TZELPanel::SetBoundsPixels(const TRect& bounds) {
  ::SetWindowPos(Handle(), nullptr, bounds.Left, bounds.Top, bounds.Width(), bounds.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  Realign();
}

void TZELPanel::SetVisible(bool visible) { ::ShowWindow(Handle(), visible ? SW_SHOW : SW_HIDE); }

void TZELPanel::SetName(StringView name) {
  FName = String(name);
  ::SetWindowTextW(Handle(), as_wcstr(FName));
}

}  // namespace zel
