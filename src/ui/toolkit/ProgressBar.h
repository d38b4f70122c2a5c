#pragma once
// A progress bar from 0 to 100: the system's control keeps the position (and tells
// screen readers), the toolkit paints it in the skin's colours, since neither the
// visual style nor every system honours the bar colours.
#include "ui/toolkit/Control.h"

namespace zel {

class TZELProgressBar : public TZELControl {
public:
  explicit TZELProgressBar(TZELContainer& parent);
  int Position() const;
  void SetPosition(int position);
  bool HasCaption() const override { return false; }
  void ApplyTheme() override;

protected:
  bool OwnPaint() const override { return true; }
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;
};

}  // namespace zel
