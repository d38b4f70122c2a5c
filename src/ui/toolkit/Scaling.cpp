#include "ui/toolkit/Scaling.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zel {

int MulDivRound(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t divisor = c;
  const bool negative = (product < 0) != (divisor < 0);
  const int64_t magnitude = (std::llabs(product) + std::llabs(divisor) / 2) / std::llabs(divisor);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

TRect DeflateRect(const TRect& rect, int left, int top, int right, int bottom) {
  return TRect{rect.Left + left, rect.Top + top, rect.Right - right, rect.Bottom - bottom};
}

TRect TScale::Bounds(int left, int top, int width, int height) const {
  const int x = Apply(left);
  const int y = Apply(top);
  return TRect{x, y, x + Apply(width), y + Apply(height)};
}

int RichEditZoomNumerator(int percent) {
  const double n = percent <= 100 ? percent * 0.63 + 1 : percent * 0.64;
  const int rounded = static_cast<int>(std::lround(n));
  return rounded > 1 && rounded < 4096 ? rounded : 0;
}

TScrollThumb ScrollThumb(int trackTop, int trackHeight, int min, int max, int page, int pos, int minThumb) {
  const int64_t range = static_cast<int64_t>(max) - min + 1;
  if (range <= 0 || page <= 0 || page >= range || trackHeight <= 0) return {};
  int height = static_cast<int>(static_cast<int64_t>(trackHeight) * page / range);
  height = std::min(trackHeight, std::max(height, minThumb));
  const int64_t span = range - page;
  const int64_t offset = std::clamp<int64_t>(static_cast<int64_t>(pos) - min, 0, span);
  return TScrollThumb{trackTop + static_cast<int>((trackHeight - height) * offset / span), height};
}

int ScrollPositionAt(int trackTop, int trackHeight, int min, int max, int page, int thumbTop, int minThumb) {
  const TScrollThumb thumb = ScrollThumb(trackTop, trackHeight, min, max, page, min, minThumb);
  if (thumb.Height == 0) return min;
  const int64_t span = static_cast<int64_t>(max) - min + 1 - page;
  const int free = trackHeight - thumb.Height;
  if (free <= 0) return min;
  const int64_t offset = std::clamp<int64_t>(thumbTop - trackTop, 0, free);
  return min + static_cast<int>((offset * span + free / 2) / free);
}

}  // namespace zel
