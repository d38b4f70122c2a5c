#pragma once
// Drawing on a window's (memory) device context: fills, pictures with opacity and
// single-line text, in pixels.
#include <windows.h>

#include <functional>
#include <optional>

#include "library/Strings.h"
#include "library/win/Handles.h"
#include "ui/toolkit/DeviceContext.h"
#include "ui/toolkit/Scaling.h"
#include "ui/toolkit/Skin.h"
#include "ui/toolkit/Theme.h"

namespace Gdiplus {
class Image;
}

namespace zel {

RECT ToRECT(const TRect& rect);
TRect FromRECT(const RECT& rect);

class TZELCanvas {
public:
  TZELCanvas(HDC dc, const TScale& scale) : FDC(dc), FScale(scale) {}

  HDC DC() const { return FDC; }
  const TScale& Scale() const { return FScale; }
  void SetFont(HFONT font) { ::SelectObject(FDC, font); }

  void FillRect(const TRect& rect, TColor color);
  // opacity from 0 to 255; the picture is stretched to rect.
  void DrawImage(Gdiplus::Image* image, const TRect& rect, int opacity = 255);
  SIZE TextExtent(StringView text);
  // One line (unless text holds breaks), top-aligned, clipped to rect; flags add DT_RIGHT etc.
  void DrawText(StringView text, const TRect& rect, TColor color, UINT flags = 0);

private:
  void DrawRightAligned(StringView text, const TRect& rect);

  HDC FDC;
  TScale FScale;
};

// The size in pixels of text in the toolkit's font at that DPI, on one line, or wrapped
// at wrapWidth pixels when that is not 0 (flags may add DT_NOPREFIX; "&" marks a
// mnemonic otherwise and takes no room).
SIZE MeasureText(StringView text, const TFontStyle& font, unsigned dpi, UINT flags = 0, int wrapWidth = 0);

// Calls each(line) for every line of text, split at "\n", a "\r" before it left out; an
// empty text is one empty line.
void ForEachLine(StringView text, const std::function<void(StringView line)>& each);

// A memory bitmap the size of a client rectangle, copied to the target on destruction:
// painting without flicker.
class TZELBufferedPaint {
public:
  TZELBufferedPaint(HDC target, const RECT& client);
  ~TZELBufferedPaint();
  TZELBufferedPaint(const TZELBufferedPaint&) = delete;
  TZELBufferedPaint& operator=(const TZELBufferedPaint&) = delete;
  HDC DC() const { return FMemory ? FMemory.Get() : FTarget; }

private:
  HDC FTarget;
  RECT FClient;
  // Freed in the reverse order: the bitmap is selected out before it and the DC go.
  TMemoryDC FMemory;
  TGdiObject FBitmap;
  std::optional<TSelectedObject> FSelected;
};

}  // namespace zel
