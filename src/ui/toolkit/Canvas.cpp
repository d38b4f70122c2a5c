#include "ui/toolkit/Canvas.h"

// WIN32_LEAN_AND_MEAN leaves out the COM declarations that gdiplus.h uses.
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>

#include "library/win/Handles.h"
#include "package/win/InstallerImage.h"
#include "ui/toolkit/Theme.h"

namespace zel {

RECT ToRECT(const TRect& rect) { return RECT{rect.Left, rect.Top, rect.Right, rect.Bottom}; }
TRect FromRECT(const RECT& rect) { return TRect{rect.left, rect.top, rect.right, rect.bottom}; }

void TZELCanvas::FillRect(const TRect& rect, kivo::TColor color) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  const RECT r = ToRECT(rect);
  ::FillRect(FDC, &r, GetBrush(color));
}

void TZELCanvas::DrawImage(Gdiplus::Image* image, const TRect& rect, int opacity) {
  if (!image || opacity <= 0) return;
  Gdiplus::Graphics graphics(FDC);
  if (auto* installerImage = dynamic_cast<kivo::TInstallerImage*>(image)) installerImage->ApplyTo(graphics);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  const Gdiplus::Rect target(rect.Left, rect.Top, rect.Width(), rect.Height());
  if (opacity >= 255) {
    graphics.DrawImage(image, target);
    return;
  }
  Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0},
                                  {0, 0, 0, static_cast<Gdiplus::REAL>(opacity) / 255, 0}, {0, 0, 0, 0, 1}}};
  Gdiplus::ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix);
  graphics.DrawImage(image, target, 0, 0, static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()),
                     Gdiplus::UnitPixel, &attributes);
}

SIZE MeasureText(StringView text, const TFontStyle& font, unsigned dpi, UINT flags, int wrapWidth) {
  HDC dc = ::GetDC(nullptr);
  const HGDIOBJ old = ::SelectObject(dc, GetFont(font, dpi));
  RECT r{0, 0, wrapWidth, 0};
  const String copy(text);
  flags |= wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE;
  ::DrawTextW(dc, as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_CALCRECT | flags);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE TZELCanvas::TextExtent(StringView text) {
  RECT r{0, 0, 0, 0};
  const String copy(text);
  ::DrawTextW(FDC, as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_CALCRECT | DT_NOPREFIX);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void TZELCanvas::DrawText(StringView text, const TRect& rect, kivo::TColor color, UINT flags) {
  RECT r = ToRECT(rect);
  const String copy(text);
  if (flags & DT_RIGHT) {
    // Placed by its measured width: Wine's right alignment drops a trailing full stop.
    // Room to spare on the right: Wine's drawing can come out a little wider than its
    // measure, and then it leaves out the last letters instead of clipping them.
    const SIZE extent = TextExtent(copy);
    r.left = std::max<LONG>(r.left, r.right - extent.cx);
    r.right = r.left + extent.cx + extent.cy;
    flags &= ~static_cast<UINT>(DT_RIGHT);
  }
  ::SetBkMode(FDC, TRANSPARENT);
  ::SetTextColor(FDC, ToColorRef(color));
  ::DrawTextW(FDC, as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_NOPREFIX | DT_TOP | flags);
}

TZELBufferedPaint::TZELBufferedPaint(HDC target, const RECT& client) : FTarget(target), FClient(client) {
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  FMemory = ::CreateCompatibleDC(target);
  FBitmap = ::CreateCompatibleBitmap(target, width, height);
  if (!FMemory || !FBitmap) {
    // Out of GDI resources: paint straight onto the window instead.
    if (FBitmap) ::DeleteObject(FBitmap);
    if (FMemory) ::DeleteDC(FMemory);
    FMemory = nullptr;
    FBitmap = nullptr;
    return;
  }
  FOldBitmap = ::SelectObject(FMemory, FBitmap);
  ::SetWindowOrgEx(FMemory, client.left, client.top, nullptr);
}

TZELBufferedPaint::~TZELBufferedPaint() {
  if (!FMemory) return;
  ::BitBlt(FTarget, FClient.left, FClient.top, FClient.right - FClient.left, FClient.bottom - FClient.top, FMemory,
           FClient.left, FClient.top, SRCCOPY);
  ::SelectObject(FMemory, FOldBitmap);
  ::DeleteObject(FBitmap);
  ::DeleteDC(FMemory);
}

}  // namespace zel
