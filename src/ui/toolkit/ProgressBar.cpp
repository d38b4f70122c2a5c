#include "ui/toolkit/ProgressBar.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>

namespace zel {

TZELProgressBar::TZELProgressBar(TZELContainer& parent) : TZELControl(parent) {
  CreateHandle(PROGRESS_CLASSW, 0);
  ::SendMessageW(Handle(), PBM_SETRANGE32, 0, 100);
  ApplyTheme();
}

int TZELProgressBar::Position() const { return static_cast<int>(::SendMessageW(Handle(), PBM_GETPOS, 0, 0)); }

void TZELProgressBar::SetPosition(int position) {
  ::SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TZELProgressBar::ApplyTheme() {
  // No visual style: no animation that would draw outside WM_PAINT.
  ::SetWindowTheme(Handle(), L"", L"");
  Invalidate();
}

void TZELProgressBar::PaintControl(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, Skin().ProgressBackground);
  const RECT frame = ToRECT(client);
  ::FrameRect(canvas.DC(), &frame, GetBrush(Skin().Border));
  const TRect inner = DeflateRect(client, 1, 1, 1, 1);
  const int position = std::clamp(Position(), 0, 100);
  canvas.FillRect(TRect{inner.Left, inner.Top, inner.Left + MulDivRound(inner.Width(), position, 100), inner.Bottom},
                  Skin().ProgressBar);
}

}  // namespace zel
