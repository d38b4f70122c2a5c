#pragma once
// Push buttons, check boxes and radio buttons: the system's button control for its
// behaviour (keyboard, mnemonics, default button, accessibility, check state), painted
// in the skin's colours so that none stands white on a dark page.
#include "ui/toolkit/Control.h"

namespace zel {

class TZELCustomButton : public TZELControl {
public:
  void Command(WORD code) override;

protected:
  TZELCustomButton(TZELContainer& parent, DWORD style);
  bool OwnPaint() const override { return true; }
  bool RepaintsAfter(UINT message) const override;
  UINT PrefixFlag() const { return HideAccelerators() ? DT_HIDEPREFIX : 0; }
};

class TZELButton : public TZELCustomButton {
public:
  explicit TZELButton(TZELContainer& parent);

protected:
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;
};

class TZELCheckBox : public TZELCustomButton {
public:
  explicit TZELCheckBox(TZELContainer& parent);
  bool Checked() const;
  void SetChecked(bool checked);

protected:
  TZELCheckBox(TZELContainer& parent, DWORD style);
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;
  virtual void PaintMark(TZELCanvas& canvas, const TRect& box, bool checked);
};

class TZELRadioButton : public TZELCheckBox {
public:
  explicit TZELRadioButton(TZELContainer& parent);
  // This button begins a group (the arrow keys stay inside it up to the next group).
  void StartGroup();

protected:
  void PaintMark(TZELCanvas& canvas, const TRect& box, bool checked) override;
};

}  // namespace zel
