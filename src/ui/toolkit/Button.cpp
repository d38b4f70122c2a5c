#include "ui/toolkit/Button.h"

#include <algorithm>

#include "ui/toolkit/DeviceContext.h"

namespace zel {

namespace {

void FrameRect(HDC dc, const TRect& rect, TColor color, int width) {
  for (int i = 0; i < width; ++i) {
    const RECT r{rect.Left + i, rect.Top + i, rect.Right - i, rect.Bottom - i};
    ::FrameRect(dc, &r, GetBrush(color));
  }
}

}  // namespace

TZELCustomButton::TZELCustomButton(TZELContainer& parent, DWORD style) : TZELControl(parent) {
  CreateHandle(L"BUTTON", style | WS_TABSTOP);
}

void TZELCustomButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

bool TZELCustomButton::RepaintsAfter(UINT message) const {
  switch (message) {
    case BM_SETCHECK:
    case BM_SETSTATE:
    case BM_SETSTYLE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_UPDATEUISTATE:
    case WM_CAPTURECHANGED: return true;
  }
  return false;
}

TZELButton::TZELButton(TZELContainer& parent) : TZELCustomButton(parent, BS_PUSHBUTTON) {}

void TZELButton::PaintControl(TZELCanvas& canvas, const TRect& client) {
  const HDC dc = canvas.DC();
  const LRESULT state = ::SendMessageW(Handle(), BM_GETSTATE, 0, 0);
  const bool pressed = (state & BST_PUSHED) != 0;
  const bool isDefault = (::GetWindowLongPtrW(Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON) == BS_DEFPUSHBUTTON;
  canvas.FillRect(client, BackColor());
  canvas.FillRect(client, pressed ? Skin().ButtonFaceHot : Skin().ButtonFace);
  const bool accent = Enabled() && (isDefault || Focused());
  FrameRect(dc, client, accent ? Skin().DefaultBorder : Skin().Border, accent ? Scale().Apply(2) : 1);
  TRect text = client;
  if (pressed) {
    text.Left += 1;
    text.Top += 1;
  }
  const TColor color = Enabled() ? Skin().ButtonText : Skin().DisabledText;
  RECT r = ToRECT(text);
  const String caption = Caption();
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(color));
  ::DrawTextW(dc, as_wcstr(caption), static_cast<int>(caption.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | PrefixFlag());
  if (Focused() && !HideFocus()) {
    const int inset = Scale().Apply(4);
    const RECT focus{client.Left + inset, client.Top + inset, client.Right - inset, client.Bottom - inset};
    ::SetTextColor(dc, ToColorRef(Skin().Text));
    ::SetBkColor(dc, ToColorRef(Skin().ButtonFace));
    ::DrawFocusRect(dc, &focus);
  }
}

TZELCheckBox::TZELCheckBox(TZELContainer& parent) : TZELCustomButton(parent, BS_AUTOCHECKBOX) {}

TZELCheckBox::TZELCheckBox(TZELContainer& parent, DWORD style) : TZELCustomButton(parent, style) {}

bool TZELCheckBox::Checked() const { return ::SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TZELCheckBox::SetChecked(bool checked) {
  ::SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  // Radio buttons make one tab stop, the chosen one, as in the system's dialogs; the
  // arrow keys move inside their group.
  const LONG_PTR style = ::GetWindowLongPtrW(Handle(), GWL_STYLE);
  if ((style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, checked ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
}

void TZELRadioButton::StartGroup() {
  ::SetWindowLongPtrW(Handle(), GWL_STYLE, ::GetWindowLongPtrW(Handle(), GWL_STYLE) | WS_GROUP);
}

void TZELCheckBox::PaintMark(TZELCanvas& canvas, const TRect& box, bool checked) {
  const HDC dc = canvas.DC();
  canvas.FillRect(box, Skin().EditBackground);
  FrameRect(dc, box, checked && Enabled() ? Skin().DefaultBorder : Skin().Border, 1);
  if (!checked) return;
  // The tick: two strokes, as thick as the scale allows.
  const int w = box.Width();
  const POINT points[3] = {{box.Left + w * 2 / 9, box.Top + w / 2},
                           {box.Left + w * 4 / 9, box.Top + w * 5 / 7},
                           {box.Left + w * 7 / 9, box.Top + w * 2 / 7}};
  TGdiObject pen(::CreatePen(PS_SOLID, std::max(2, w / 7), ToColorRef(Enabled() ? Skin().Check : Skin().DisabledText)));
  const TSelectedObject selected(dc, pen.Get());
  ::Polyline(dc, points, 3);
}

void TZELCheckBox::PaintControl(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, BackColor());
  const int size = Scale().Apply(13);
  const int top = client.Top + (client.Height() - size) / 2;
  PaintMark(canvas, TRect{client.Left, top, client.Left + size, top + size}, Checked());
  const int gap = Scale().Apply(6);
  TRect text{client.Left + size + gap, client.Top, client.Right, client.Bottom};
  const HDC dc = canvas.DC();
  const String caption = Caption();
  RECT measure = ToRECT(text);
  ::DrawTextW(dc, as_wcstr(caption), static_cast<int>(caption.size()), &measure,
              DT_SINGLELINE | DT_VCENTER | DT_CALCRECT | PrefixFlag());
  RECT r = ToRECT(text);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(TextColor()));
  ::DrawTextW(dc, as_wcstr(caption), static_cast<int>(caption.size()), &r,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | PrefixFlag());
  if (Focused() && !HideFocus()) {
    const int height = measure.bottom - measure.top;
    const int y = client.Top + (client.Height() - height) / 2;
    const RECT focus{text.Left - 1, y, std::min<LONG>(client.Right, text.Left + (measure.right - measure.left) + 1),
                     y + height};
    ::SetTextColor(dc, ToColorRef(Skin().Text));
    ::SetBkColor(dc, ToColorRef(BackColor()));
    ::DrawFocusRect(dc, &focus);
  }
}

TZELRadioButton::TZELRadioButton(TZELContainer& parent) : TZELCheckBox(parent, BS_AUTORADIOBUTTON) {}

void TZELRadioButton::PaintMark(TZELCanvas& canvas, const TRect& box, bool checked) {
  const HDC dc = canvas.DC();
  TGdiObject pen(::CreatePen(PS_SOLID, 1, ToColorRef(checked && Enabled() ? Skin().DefaultBorder : Skin().Border)));
  const TSelectedObject ring(dc, pen.Get());
  const TSelectedObject fill(dc, GetBrush(Skin().EditBackground));
  ::Ellipse(dc, box.Left, box.Top, box.Right, box.Bottom);
  if (checked) {
    const int inset = box.Width() / 4 + 1;
    const TSelectedObject dot(dc, GetBrush(Enabled() ? Skin().Check : Skin().DisabledText));
    const TSelectedObject noOutline(dc, ::GetStockObject(NULL_PEN));
    ::Ellipse(dc, box.Left + inset, box.Top + inset, box.Right - inset + 1, box.Bottom - inset + 1);
  }
}

}  // namespace zel
