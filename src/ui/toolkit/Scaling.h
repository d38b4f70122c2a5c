#pragma once
// Design units at 96 DPI and the integer multiply-divide that turns them into pixels,
// free of the window system so that the rules are tested natively.
#include <cstdint>

namespace zel {

// a × b ÷ c rounded half away from zero, as the system's MulDiv; -1 when c is 0.
int MulDivRound(int a, int b, int c);

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect& other) const = default;
};

// Moves every edge inwards by its amount (outwards for negative amounts).
TRect DeflateRect(const TRect& rect, int left, int top, int right, int bottom);

// A window's scale factor: value × Numerator ÷ Denominator, skipped at 1:1.
struct TScale {
  int Numerator = 96;
  int Denominator = 96;

  static TScale ForDpi(int dpi) { return TScale{dpi > 0 ? dpi : 96, 96}; }
  bool IsIdentity() const { return Numerator == Denominator; }
  int Apply(int value) const { return IsIdentity() ? value : MulDivRound(value, Numerator, Denominator); }
  // A rectangle given as left, top, width, height in design units.
  TRect Bounds(int left, int top, int width, int height) const;
  // Points to the font height in pixels (negative: the character height, as fonts take it).
  int FontHeight(int points) const { return -MulDivRound(points, Numerator, 72); }
};

// The rich-edit zoom ratio n ÷ 64 for a scale percentage: percent × 0.63 + 1 up to 100,
// percent × 0.64 above, to the nearest integer; 0 when n is outside 1 < n < 4096 (no zoom).
int RichEditZoomNumerator(int percent);

// The thumb of a scroll bar over a track: its top and height for the scroll range
// min..max with page size page at position pos; height 0 when everything is in view.
struct TScrollThumb {
  int Top = 0;
  int Height = 0;
};
TScrollThumb ScrollThumb(int trackTop, int trackHeight, int min, int max, int page, int pos, int minThumb);
// The position that puts the thumb's top at thumbTop (clamped to the range).
int ScrollPositionAt(int trackTop, int trackHeight, int min, int max, int page, int thumbTop, int minThumb);

}  // namespace zel
