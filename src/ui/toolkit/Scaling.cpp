#include "ui/toolkit/Scaling.h"

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

}  // namespace zel
