#include "ui/toolkit/Canvas.h"

// WIN32_LEAN_AND_MEAN leaves out the COM declarations that gdiplus.h uses.
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "library/win/Handles.h"
#include "package/win/InstallerImage.h"
#include "ui/toolkit/Theme.h"
#include "ui/toolkit/DeviceContext.h"

namespace zel {

RECT ToRECT(const TRect& rect) { return RECT{rect.Left, rect.Top, rect.Right, rect.Bottom}; }
TRect FromRECT(const RECT& rect) { return TRect{rect.left, rect.top, rect.right, rect.bottom}; }

void TZELCanvas::FillRect(const TRect& rect, TColor color) {
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
  Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0},
                                  {0, 1, 0, 0, 0},
                                  {0, 0, 1, 0, 0},
                                  {0, 0, 0, static_cast<Gdiplus::REAL>(opacity) / 255, 0},
                                  {0, 0, 0, 0, 1}}};
  Gdiplus::ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix);
  graphics.DrawImage(image, target, 0, 0, static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()),
                     Gdiplus::UnitPixel, &attributes);
}

SIZE MeasureText(StringView text, const TFontStyle& font, unsigned dpi, UINT flags, int wrapWidth) {
  const TWindowDC screen(nullptr);
  const TSelectedObject selected(screen.Get(), GetFont(font, dpi));
  RECT r{0, 0, wrapWidth, 0};
  const String copy(text);
  flags |= wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE;
  ::DrawTextW(screen.Get(), as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_CALCRECT | flags);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE TZELCanvas::TextExtent(StringView text) {
  RECT r{0, 0, 0, 0};
  const String copy(text);
  ::DrawTextW(FDC, as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_CALCRECT | DT_NOPREFIX);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void TZELCanvas::DrawText(StringView text, const TRect& rect, TColor color, UINT flags) {
  ::SetBkMode(FDC, TRANSPARENT);
  ::SetTextColor(FDC, ToColorRef(color));
  if (flags & DT_RIGHT) {
    DrawRightAligned(text, rect);
    return;
  }
  RECT r = ToRECT(rect);
  const String copy(text);
  ::DrawTextW(FDC, as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_NOPREFIX | DT_TOP | flags);
}

namespace {

// How wide a line of text comes out when it is drawn in the DC's font: the columns up to
// its last painted one. Wine draws a string by advances of its own, which at some sizes
// differ from its measure by several per cent (the header's title and description then
// ended up to 14 pixels apart, or the description ran past the edge); only the drawing
// tells where it ends.
int DrawnWidth(HDC dc, const String& line, const SIZE& measured) {
  // Room for a drawing wider than the measure.
  const int width = measured.cx + measured.cy;
  const int height = measured.cy;
  if (width <= 0 || height <= 0) return measured.cx;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  TGdiObject bitmap(::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  std::unique_ptr<std::remove_pointer_t<HDC>, decltype(&::DeleteDC)> memory(::CreateCompatibleDC(dc), &::DeleteDC);
  // Out of GDI resources: the measure is the best there is.
  if (!bitmap || !bits || !memory) return measured.cx;
  const TSelectedObject selectedBitmap(memory.get(), bitmap.Get());
  const TSelectedObject selectedFont(memory.get(), ::GetCurrentObject(dc, OBJ_FONT));
  auto* pixels = static_cast<uint32_t*>(bits);
  std::fill(pixels, pixels + static_cast<size_t>(width) * height, 0xFFFFFFu);
  ::SetBkMode(memory.get(), TRANSPARENT);
  ::SetTextColor(memory.get(), RGB(0, 0, 0));
  ::ExtTextOutW(memory.get(), 0, 0, 0, nullptr, as_wcstr(line), static_cast<UINT>(line.size()), nullptr);
  ::GdiFlush();  // the bits are read directly
  int drawn = 0;
  for (int y = 0; y < height; ++y)
    for (int x = width - 1; x >= drawn; --x)
      if ((pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFFu) != 0xFFFFFFu) {
        drawn = x + 1;
        break;
      }
  // Nothing painted (spaces only): the measure.
  return drawn ? drawn : measured.cx;
}

}  // namespace

void TZELCanvas::DrawRightAligned(StringView text, const TRect& rect) {
  // Placed by where its drawing ends, not by its measure (above); drawn by our own
  // placement, as Wine's right alignment drops a trailing full stop.
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(FDC, &metrics);
  const RECT clip = ToRECT(rect);
  int top = rect.Top;
  ForEachLine(text, [&](StringView part) {
    if (!part.empty()) {
      const String line(part);
      SIZE measured{};
      ::GetTextExtentPoint32W(FDC, as_wcstr(line), static_cast<int>(line.size()), &measured);
      const int left = std::max(rect.Left, rect.Right - DrawnWidth(FDC, line, measured));
      ::ExtTextOutW(FDC, left, top, ETO_CLIPPED, &clip, as_wcstr(line), static_cast<UINT>(line.size()), nullptr);
    }
    top += metrics.tmHeight;
  });
}

void ForEachLine(StringView text, const std::function<void(StringView line)>& each) {
  size_t start = 0;
  for (;;) {
    size_t end = text.find(u'\n', start);
    if (end == StringView::npos) end = text.size();
    size_t length = end - start;
    if (length && text[start + length - 1] == u'\r') --length;
    each(text.substr(start, length));
    if (end == text.size()) return;
    start = end + 1;
  }
}

TZELBufferedPaint::TZELBufferedPaint(HDC target, const RECT& client) : FTarget(target), FClient(client) {
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  TMemoryDC memory(::CreateCompatibleDC(target));
  TGdiObject bitmap(::CreateCompatibleBitmap(target, width, height));
  // Out of GDI resources: paint straight onto the window instead.
  if (!memory || !bitmap) return;
  FMemory = std::move(memory);
  FBitmap = std::move(bitmap);
  FSelected.emplace(FMemory.Get(), FBitmap.Get());
  ::SetWindowOrgEx(FMemory.Get(), client.left, client.top, nullptr);
}

TZELBufferedPaint::~TZELBufferedPaint() {
  if (!FMemory) return;
  ::BitBlt(FTarget, FClient.left, FClient.top, FClient.right - FClient.left, FClient.bottom - FClient.top,
           FMemory.Get(), FClient.left, FClient.top, SRCCOPY);
}

}  // namespace zel
