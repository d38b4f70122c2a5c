#include "ui/WizardLayout.h"

#include <algorithm>

namespace kivo {

namespace {
constexpr int kHeaderHeight = 53;
constexpr int kStripHeight = 10;
constexpr int kFooterHeight = 44;
constexpr int kPageGap = 4;
}  // namespace

TRect HeaderBounds(const TRect& client, const TScale& scale) {
  return TRect{client.Left, client.Top, client.Right, client.Top + scale.Apply(kHeaderHeight)};
}

TRect ProgressBounds(const TRect& client, const TScale& scale) {
  const TRect header = HeaderBounds(client, scale);
  return TRect{client.Left, header.Bottom, client.Right, header.Bottom + scale.Apply(kStripHeight)};
}

TRect FooterBounds(const TRect& client, const TScale& scale) {
  return TRect{client.Left, client.Bottom - scale.Apply(kFooterHeight), client.Right, client.Bottom};
}

TRect PageBounds(const TRect& client, bool fullScreen, const TScale& scale) {
  const int top = fullScreen ? client.Top : ProgressBounds(client, scale).Bottom + scale.Apply(kPageGap);
  return TRect{client.Left, top, client.Right, FooterBounds(client, scale).Top};
}

TRect HeaderTextBounds(const TRect& client, const TScale& scale) {
  return zel::DeflateRect(HeaderBounds(client, scale), scale.Apply(144), scale.Apply(6), scale.Apply(16),
                          scale.Apply(12));
}

void TInstallerProgressLayout::Calculate(const TRect& bounds, int pageCount, const TScale& scale) {
  FBounds = bounds;
  FContent = zel::DeflateRect(bounds, 0, scale.Apply(2), 0, scale.Apply(2));
  // With two pages or fewer there is nothing between first and last: the width stays.
  if (pageCount > 2) FCellWidth = FContent.Width() / (pageCount - 1);
}

TRect TInstallerProgressLayout::GetCellBounds(int index) const {
  return TRect{FContent.Left + index * FCellWidth, FContent.Top, FContent.Left + (index + 1) * FCellWidth,
               FContent.Bottom};
}

std::vector<TRect> TInstallerProgressLayout::Dots(int index) const {
  const TRect cell = GetCellBounds(index);
  std::vector<TRect> dots;
  const int count = FCellWidth / 6;
  for (int i = 0; i < count; ++i)
    dots.push_back(TRect{cell.Left + i * 6, cell.Top, cell.Left + i * 6 + 3, cell.Bottom});
  return dots;
}

TRect TInstallerProgressLayout::Fill(int index, int progress) const {
  const TRect cell = GetCellBounds(index);
  return TRect{FContent.Left, cell.Top, cell.Left + zel::MulDivRound(FCellWidth, progress, 100), cell.Bottom};
}

const char16_t* NextButtonKey(TNextPageKind next) {
  switch (next) {
    case TNextPageKind::None: return u"bFinish";
    case TNextPageKind::Uninstall: return u"bUninstall";
    case TNextPageKind::Install: return u"bInstall";
    case TNextPageKind::Normal: break;
  }
  return u"bNext";
}

int NextAvailableIndex(const std::vector<bool>& available, int index) {
  for (int i = index + 1; i < static_cast<int>(available.size()); ++i)
    if (available[static_cast<size_t>(i)]) return i;
  return -1;
}

int PrevAvailableIndex(const std::vector<bool>& available, int index) {
  for (int i = index - 1; i >= 0; --i)
    if (i < static_cast<int>(available.size()) && available[static_cast<size_t>(i)]) return i;
  return -1;
}

zel::String PictureNameAt(zel::StringView name, int percent) {
  if (percent == 100) return zel::String(name);
  size_t dot = name.rfind(u'.');
  const size_t slash = name.find_last_of(u"\\/");
  if (slash != zel::StringView::npos && dot != zel::StringView::npos && dot < slash) dot = zel::StringView::npos;
  const zel::StringView stem = dot == zel::StringView::npos ? name : name.substr(0, dot);
  const zel::StringView extension = dot == zel::StringView::npos ? zel::StringView() : name.substr(dot);
  return zel::String(stem) + u"-" + zel::IntToStr(percent) + zel::String(extension);
}

int PictureScaleFor(const TScale& scale, const std::vector<int>& available) {
  const int wanted = zel::MulDivRound(100, scale.Numerator, scale.Denominator);
  int smallestLarger = 0;
  int largest = 0;
  for (int percent : available) {
    if (percent >= wanted && (smallestLarger == 0 || percent < smallestLarger)) smallestLarger = percent;
    largest = std::max(largest, percent);
  }
  return smallestLarger ? smallestLarger : largest;
}

}  // namespace kivo
