#include "ui/toolkit/ScrollBar.h"

#include <windowsx.h>

#include <algorithm>

namespace zel {

namespace {

const wchar_t* ScrollBarClass() {
  static const wchar_t* name = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"TZELScrollBar";
    ::RegisterClassExW(&wc);
    return L"TZELScrollBar";
  }();
  return name;
}

}  // namespace

TZELScrollBar::TZELScrollBar(TZELContainer& parent, HWND target) : TZELControl(parent), FTarget(target) {
  SetAlign(TAlign::Owner);
  CreateHandle(ScrollBarClass(), 0);
  FInfo.cbSize = sizeof(FInfo);
}

void TZELScrollBar::Cover(const TRect& targetPixels) {
  RECT window{}, client{};
  ::GetWindowRect(FTarget, &window);
  ::GetClientRect(FTarget, &client);
  // What the window has beyond its client on the right is the system's scroll bar.
  int width = (window.right - window.left) - client.right;
  if (width <= 0) width = ::GetSystemMetrics(SM_CXVSCROLL);
  const int targetWidth = targetPixels.Width();
  ::SetWindowRgn(FTarget, ::CreateRectRgn(0, 0, std::max(0, targetWidth - width), targetPixels.Height()), TRUE);
  ApplyScale(TRect{targetPixels.Right - width, targetPixels.Top, targetPixels.Right, targetPixels.Bottom});
  Refresh();
}

void TZELScrollBar::Refresh() {
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_ALL;
  if (!::GetScrollInfo(FTarget, SB_VERT, &info)) info = SCROLLINFO{sizeof(info)};
  const bool changed =
      info.nMin != FInfo.nMin || info.nMax != FInfo.nMax || info.nPage != FInfo.nPage || info.nPos != FInfo.nPos;
  FInfo = info;
  if (changed && !FDragging) Invalidate();
}

TScrollThumb TZELScrollBar::Thumb() const {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  const int inset = Scale().Apply(2);
  return ScrollThumb(inset, client.bottom - 2 * inset, FInfo.nMin, FInfo.nMax, static_cast<int>(FInfo.nPage),
                     FDragging ? FInfo.nTrackPos : FInfo.nPos, MinThumb());
}

void TZELScrollBar::PaintControl(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, Skin().EditBackground);
  const int inset = Scale().Apply(2);
  const TRect track = DeflateRect(client, inset, inset, inset, inset);
  canvas.FillRect(track, Skin().ProgressBackground);
  const TScrollThumb thumb = Thumb();
  if (thumb.Height > 0 && ::IsWindowEnabled(FTarget))
    canvas.FillRect(TRect{track.Left, thumb.Top, track.Right, thumb.Top + thumb.Height}, Skin().Border);
}

LRESULT TZELScrollBar::SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN: {
      if (!::IsWindowEnabled(FTarget)) return 0;
      Refresh();
      const int y = GET_Y_LPARAM(lParam);
      const TScrollThumb thumb = Thumb();
      if (thumb.Height == 0) return 0;
      if (y >= thumb.Top && y < thumb.Top + thumb.Height) {
        FDragging = true;
        FDragOffset = y - thumb.Top;
        FInfo.nTrackPos = FInfo.nPos;
        ::SetCapture(Handle());
      } else {
        ::SendMessageW(FTarget, WM_VSCROLL, y < thumb.Top ? SB_PAGEUP : SB_PAGEDOWN, 0);
        Refresh();
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (FDragging) {
        RECT client{};
        ::GetClientRect(Handle(), &client);
        const int inset = Scale().Apply(2);
        const int position =
            ScrollPositionAt(inset, client.bottom - 2 * inset, FInfo.nMin, FInfo.nMax, static_cast<int>(FInfo.nPage),
                             GET_Y_LPARAM(lParam) - FDragOffset, MinThumb());
        FInfo.nTrackPos = position;
        ::SendMessageW(FTarget, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position), 0);
        Invalidate();
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (FDragging) {
        FDragging = false;
        if (message == WM_LBUTTONUP) ::ReleaseCapture();
        ::SendMessageW(FTarget, WM_VSCROLL, SB_ENDSCROLL, 0);
        FInfo.nPos = -1;  // repaint at the final place
        Refresh();
      }
      return 0;
    case WM_MOUSEWHEEL: return ::SendMessageW(FTarget, message, wParam, lParam);
  }
  return TZELControl::SubclassProc(message, wParam, lParam);
}

}  // namespace zel
