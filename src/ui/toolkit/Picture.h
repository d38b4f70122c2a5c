#pragma once
// Pictures and formatted text: a control that shows a picture (with opacity), and a
// label whose text may hold links ("<a href=\"https://...\">text</a>"), opened through
// the application's link handler.
#include <vector>

#include "ui/toolkit/Control.h"
#include "ui/toolkit/LinkMarkup.h"

namespace Gdiplus {
class Image;
}

namespace zel {

class TZELPicture : public TZELControl {
public:
  explicit TZELPicture(TZELContainer& parent);
  bool HasCaption() const override { return false; }
  // Not owned; stretched to the control. opacity from 0 to 255.
  void SetImage(Gdiplus::Image* image, int opacity = 255);

protected:
  bool OwnPaint() const override { return true; }
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;

private:
  Gdiplus::Image* FImage = nullptr;
  int FOpacity = 255;
};

// Word-wrapped text with links, drawn in the skin's colours (the system's link control
// wraps and parses by the font's break character, which Wine's stand-in fonts do not
// report as a blank). A click on a link, or Enter or Space on the focused one (arrow
// keys move between links), opens its address.
class TZELFormattedLabel : public TZELControl {
public:
  explicit TZELFormattedLabel(TZELContainer& parent);
  void SetCaption(StringView text) override;
  // The links' addresses in order (for tests and tools).
  std::vector<String> Links() const;

protected:
  bool OwnPaint() const override { return true; }
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;
  LRESULT SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  struct TPiece {
    String Text;
    int Run;
    RECT Bounds;
  };
  void Layout(HDC dc, int width);
  int RunAt(POINT point);
  void Open(int run);
  std::vector<TTextRun> FRuns;
  std::vector<TPiece> FPieces;
  int FFocusLink = 0;  // among the links, in order
};

}  // namespace zel
