#pragma once
// The wizard's eleven named colours, light and dark, and the skin it gives the toolkit
// to paint its controls with. Portable: values are 0xRRGGBB.
#include "ui/toolkit/Skin.h"

namespace kivo {

using zel::TColor;
using zel::TSkinColors;
using zel::TSystemColors;

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

TInstallerPalette MakePalette(bool dark);
TSkinColors MakeSkin(bool dark);
// High contrast overrides both: every colour comes from the system's scheme.
TInstallerPalette MakeHighContrastPalette(const TSystemColors& system);
TSkinColors MakeHighContrastSkin(const TSystemColors& system);

// The wizard's palette: set at start-up and whenever the system's theme changes.
extern TInstallerPalette Palette;
// Recomputes it and gives the toolkit the matching skin; highContrast, when not null,
// takes precedence over dark. The toolkit's colour scheme (zel::SetColorScheme).
void UpdatePalette(bool dark, const TSystemColors* highContrast = nullptr);

}  // namespace kivo
