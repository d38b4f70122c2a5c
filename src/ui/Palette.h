#pragma once
// The wizard's eleven named colours, light and dark, and the skin colours the toolkit
// paints its controls with. Portable: values are 0xRRGGBB.
#include <cstdint>

namespace kivo {

using TColor = uint32_t;  // 0xRRGGBB

struct TInstallerPalette {
  TColor Accent = 0;
  TColor Surface = 0;
  TColor Background = 0;
  TColor BackgroundEnd = 0;
  TColor Footer = 0;
  TColor FooterLine = 0;
  TColor FooterText = 0;
  TColor Text = 0;
  TColor ProgressFill = 0;
  TColor StripBackground = 0;
  TColor ProgressDots = 0;
};

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
  TColor Window = 0;          // page and control background
  TColor Text = 0;
  TColor DisabledText = 0;
  TColor ButtonFace = 0;
  TColor ButtonFaceHot = 0;   // pressed
  TColor ButtonText = 0;
  TColor Border = 0;
  TColor DefaultBorder = 0;   // the default button and ticked boxes
  TColor EditBackground = 0;
  TColor ProgressBar = 0;
  TColor ProgressBackground = 0;
  TColor Check = 0;           // the tick and the radio dot
  TColor Link = 0;
  TColor Warning = 0;         // the red texts of the welcome and finish pages
};

TInstallerPalette MakePalette(bool dark);
TSkinColors MakeSkin(bool dark);
// High contrast overrides both: every colour comes from the system's scheme.
TInstallerPalette MakeHighContrastPalette(const TSystemColors& system);
TSkinColors MakeHighContrastSkin(const TSystemColors& system);

// The palette of the pages unit: set at start-up and from the window's theme hook.
extern TInstallerPalette Palette;
extern TSkinColors Skin;
// Recomputes both; highContrast, when not null, takes precedence over dark.
void UpdatePalette(bool dark, const TSystemColors* highContrast = nullptr);

}  // namespace kivo
