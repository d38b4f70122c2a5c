#pragma once
// A progress bar from 0 to 100 in the skin's colours (the system's control without its
// visual style, so that it takes the colours).
#include "ui/toolkit/Control.h"

namespace zel {

class TZELProgressBar : public TZELControl {
public:
  explicit TZELProgressBar(TZELContainer& parent);
  int Position() const;
  void SetPosition(int position);
  bool HasCaption() const override { return false; }
  void ApplyTheme() override;
};

}  // namespace zel
