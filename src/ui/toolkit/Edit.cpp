#include "ui/toolkit/Edit.h"

#include <algorithm>

#include "ui/toolkit/DeviceContext.h"

namespace zel {

TZELEdit::TZELEdit(TZELContainer& parent) : TZELControl(parent) {
  CreateHandle(L"EDIT", ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP | WS_BORDER);
}

void TZELEdit::Command(WORD code) {
  if (code == EN_CHANGE && OnChange) OnChange();
}

HBRUSH TZELEdit::ControlColor(HDC dc) {
  ::SetTextColor(dc, ToColorRef(Enabled() ? Skin().Text : Skin().DisabledText));
  ::SetBkColor(dc, ToColorRef(Skin().EditBackground));
  return GetBrush(Skin().EditBackground);
}

LRESULT TZELEdit::SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCPAINT) {
    // The one-pixel border: the skin's frame, the accent while the edit has the focus.
    const TWindowDC dc(Handle(), TWindowDC::TArea::Window);
    RECT window{};
    ::GetWindowRect(Handle(), &window);
    const RECT frame{0, 0, window.right - window.left, window.bottom - window.top};
    ::FrameRect(dc.Get(), &frame, GetBrush(Focused() ? Skin().DefaultBorder : Skin().Border));
    return 0;
  }
  const LRESULT result = TZELControl::SubclassProc(message, wParam, lParam);
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS)
    ::SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  return result;
}

TZELButtonEdit::TZELButtonEdit(TZELContainer& parent) : TZELEdit(parent), FButton(parent.Add<TZELButton>()) {
  FButton->SetAlign(TAlign::Owner);
  FButton->OnClick = [this] {
    if (OnButtonClick) OnButtonClick();
  };
}

void TZELButtonEdit::SetButtonWidth(int width) {
  FButtonWidth = width;
  Parent().Realign();
}

void TZELButtonEdit::ApplyScale(const TRect& pixels) {
  const int button = std::min(pixels.Width(), Scale().Apply(FButtonWidth));
  TZELEdit::ApplyScale(TRect{pixels.Left, pixels.Top, pixels.Right - button, pixels.Bottom});
  FButton->ApplyScale(TRect{pixels.Right - button, pixels.Top, pixels.Right, pixels.Bottom});
}

void TZELButtonEdit::SetVisible(bool visible) {
  TZELEdit::SetVisible(visible);
  FButton->SetVisible(visible);
}

void TZELButtonEdit::SetEnabled(bool enabled) {
  TZELEdit::SetEnabled(enabled);
  FButton->SetEnabled(enabled);
}

}  // namespace zel
