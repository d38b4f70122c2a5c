#pragma once
// Pictures and formatted text: a control that shows a picture (with opacity), and a
// label whose text may hold links ("<a href=\"https://...\">text</a>"), opened through
// the application's link handler.
#include "ui/toolkit/Control.h"

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

class TZELFormattedLabel : public TZELControl {
public:
  explicit TZELFormattedLabel(TZELContainer& parent);
  bool Notify(NMHDR* header, LRESULT& result) override;
  HBRUSH ControlColor(HDC dc) override;
};

}  // namespace zel
