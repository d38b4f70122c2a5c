#pragma once
// The wizard window's regions, its step strip and its navigation rules, apart from the
// window so that they are tested natively. Lengths are design units at 96 DPI unless
// a function takes a TScale; then the result is in pixels.
#include <vector>

#include "library/Strings.h"
#include "ui/toolkit/Scaling.h"

namespace kivo {

using zel::TRect;
using zel::TScale;

// The room a block of a page (a text box, a list, a line of text) keeps above and below
// itself: two blocks, one under the other, stand twice this apart.
inline constexpr int kBlockMargin = 4;

// The regions of the window, from its client rectangle (pixels).
TRect HeaderBounds(const TRect& client, const TScale& scale);
TRect ProgressBounds(const TRect& client, const TScale& scale);
TRect FooterBounds(const TRect& client, const TScale& scale);
// Normal pages start below the strip; full-screen pages cover header and strip.
TRect PageBounds(const TRect& client, bool fullScreen, const TScale& scale);
TRect HeaderTextBounds(const TRect& client, const TScale& scale);

// The step strip: one cell per page after the first, a dotted cell for the active page.
class TInstallerProgressLayout {
public:
  void Calculate(const TRect& bounds, int pageCount, const TScale& scale);
  const TRect& Bounds() const { return FBounds; }
  const TRect& Content() const { return FContent; }
  int CellWidth() const { return FCellWidth; }
  TRect GetCellBounds(int index) const;
  // The dots of the active cell: bars 3 pixels wide, one every 6 pixels.
  std::vector<TRect> Dots(int index) const;
  // The filled part: from the content's left edge into the active cell by progress %.
  TRect Fill(int index, int progress) const;

private:
  TRect FBounds;
  TRect FContent;
  int FCellWidth = 0;
};

// What kind of page follows the active one, for the Next button's caption.
enum class TNextPageKind { None, Normal, Install, Uninstall };
// The language key in section "Common" for the Next button.
const char16_t* NextButtonKey(TNextPageKind next);

// Navigation over the availability of the pages in list order: the index of the next
// (previous) available page after (before) index, or -1.
int NextAvailableIndex(const std::vector<bool>& available, int index);
int PrevAvailableIndex(const std::vector<bool>& available, int index);

// The pictures come at these scales ("header.png", "header-150.png", "header-200.png").
inline constexpr int kPictureScales[] = {100, 150, 200};
// The picture's name at a scale: "-<percent>" before the extension above 100 %.
zel::String PictureNameAt(zel::StringView name, int percent);
// Which of the available scales to draw at a window's scale: the smallest that is at
// least as large (a picture is reduced, never enlarged, when a sharper one exists), else
// the largest; 0 when none is available.
int PictureScaleFor(const TScale& scale, const std::vector<int>& available);

}  // namespace kivo
