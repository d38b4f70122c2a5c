#pragma once
// The colours the toolkit's controls paint with. The application chooses them (light,
// dark, high contrast) and gives them to the toolkit; the controls only read them.
// Portable: values are 0xRRGGBB.
#include <cstdint>

namespace zel {

using TColor = uint32_t;  // 0xRRGGBB

// The system's colours in high-contrast mode (0xRRGGBB each).
struct TSystemColors {
  TColor Window = 0;
  TColor WindowText = 0;
  TColor Highlight = 0;
  TColor HighlightText = 0;
  TColor ButtonFace = 0;
  TColor ButtonText = 0;
  TColor GrayText = 0;
};

// The colours of the controls on a page (buttons, boxes, edits, progress bars, viewers).
struct TSkinColors {
  TColor Window = 0;  // page and control background
  TColor Text = 0;
  TColor DisabledText = 0;
  TColor ButtonFace = 0;
  TColor ButtonFaceHot = 0;  // pressed
  TColor ButtonText = 0;
  TColor Border = 0;
  TColor DefaultBorder = 0;  // the default button and ticked boxes
  TColor EditBackground = 0;
  TColor ProgressBar = 0;
  TColor ProgressBackground = 0;
  TColor Check = 0;  // the tick and the radio dot
  TColor Link = 0;
  TColor Warning = 0;  // texts that warn
  bool operator==(const TSkinColors&) const = default;
};

// The skin the application gave last; all black until it gives one, which it does
// before it shows a window.
const TSkinColors& Skin();
void SetSkin(const TSkinColors& skin);

}  // namespace zel
