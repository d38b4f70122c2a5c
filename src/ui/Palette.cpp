#include "ui/Palette.h"

namespace kivo {

TInstallerPalette Palette = MakePalette(false);

namespace {
// The toolkit paints in the light skin until the window's theme says otherwise: a box
// or the language dialog before the wizard looks as it always did.
const bool kLightSkinGiven = [] {
  zel::SetSkin(MakeSkin(false));
  return true;
}();
}  // namespace

TInstallerPalette MakePalette(bool dark) {
  TInstallerPalette p;
  p.Accent = dark ? 0xAC671C : 0xDE8C33;
  p.Surface = dark ? 0x2A2A2A : 0xFFFFFF;
  p.Background = dark ? 0x262626 : 0xFFFFFF;
  p.BackgroundEnd = p.Background;
  p.Footer = p.Accent;
  p.FooterLine = p.Accent;
  // Small text on the accent: black reads at 8:1 (light) and 5:1 (dark), white at 2.3:1
  // and 3.9:1.
  p.FooterText = 0x000000;
  p.Text = dark ? 0xFFFFFF : 0x000000;
  p.ProgressFill = p.Accent;
  p.StripBackground = p.Surface;
  p.ProgressDots = p.Accent;
  return p;
}

TSkinColors MakeSkin(bool dark) {
  const TInstallerPalette p = MakePalette(dark);
  TSkinColors s;
  s.Window = p.Background;
  s.Text = p.Text;
  s.DisabledText = dark ? 0x8A8A8A : 0x6D6D6D;
  s.ButtonFace = dark ? 0x3A3A3A : 0xF3F3F3;
  s.ButtonFaceHot = dark ? 0x4A4A4A : 0xE0E0E0;
  s.ButtonText = p.Text;
  s.Border = dark ? 0x6A6A6A : 0x8C8C8C;
  s.DefaultBorder = p.Accent;
  s.EditBackground = dark ? 0x1E1E1E : 0xFFFFFF;
  s.ProgressBar = p.Accent;
  s.ProgressBackground = dark ? 0x3A3A3A : 0xE6E6E6;
  s.Check = dark ? 0xFFFFFF : 0x000000;
  s.Link = dark ? 0x5CA8FF : 0x0066CC;
  s.Warning = dark ? 0xFF6B6B : 0xD00000;
  return s;
}

TInstallerPalette MakeHighContrastPalette(const TSystemColors& system) {
  TInstallerPalette p;
  p.Accent = system.Highlight;
  p.Surface = system.Window;
  p.Background = system.Window;
  p.BackgroundEnd = system.Window;
  // The footer's label stands on the footer: the highlight pair is made to be read together.
  p.Footer = system.Highlight;
  p.FooterLine = system.Highlight;
  p.FooterText = system.HighlightText;
  p.Text = system.WindowText;
  p.ProgressFill = system.Highlight;
  p.StripBackground = system.Window;
  p.ProgressDots = system.Highlight;
  return p;
}

TSkinColors MakeHighContrastSkin(const TSystemColors& system) {
  TSkinColors s;
  s.Window = system.Window;
  s.Text = system.WindowText;
  s.DisabledText = system.GrayText;
  s.ButtonFace = system.ButtonFace;
  s.ButtonFaceHot = system.Highlight;
  s.ButtonText = system.ButtonText;
  s.Border = system.WindowText;
  s.DefaultBorder = system.Highlight;
  s.EditBackground = system.Window;
  s.ProgressBar = system.Highlight;
  s.ProgressBackground = system.Window;
  s.Check = system.WindowText;
  s.Link = system.Highlight;
  s.Warning = system.WindowText;
  return s;
}

void UpdatePalette(bool dark, const TSystemColors* highContrast) {
  if (highContrast) {
    Palette = MakeHighContrastPalette(*highContrast);
    zel::SetSkin(MakeHighContrastSkin(*highContrast));
  } else {
    Palette = MakePalette(dark);
    zel::SetSkin(MakeSkin(dark));
  }
}

}  // namespace kivo
