#pragma once
// A vertical scroll bar painted in the skin, laid over the system scroll bar of an edit
// or rich edit (which the system draws light only). It mirrors the control's scroll
// information and scrolls it; the control tells it after everything that may scroll.
#include "ui/toolkit/Control.h"

namespace zel {

class TZELScrollBar : public TZELControl {
public:
  TZELScrollBar(TZELContainer& parent, HWND target);
  bool HasCaption() const override { return false; }
  // Re-reads the target's scroll information; repaints when it changed.
  void Refresh();
  // Places the bar over the target's own scroll bar and clips that one away.
  void Cover(const TRect& targetPixels);

protected:
  bool OwnPaint() const override { return true; }
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;
  LRESULT SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  TScrollThumb Thumb() const;
  int MinThumb() const { return Scale().Apply(16); }
  HWND FTarget;
  SCROLLINFO FInfo{};
  bool FDragging = false;
  int FDragOffset = 0;
};

}  // namespace zel
