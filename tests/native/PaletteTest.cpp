#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "ui/Palette.h"

using namespace kivo;

TEST(Palette, LightAndDarkValues) {
  struct TCase {
    bool Dark;
    TColor Accent, Surface, Background, Text;
  } cases[] = {{false, 0xDE8C33, 0xFFFFFF, 0xFFFFFF, 0x000000}, {true, 0xAC671C, 0x2A2A2A, 0x262626, 0xFFFFFF}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Dark);
    const TInstallerPalette p = MakePalette(c.Dark);
    EXPECT_EQ(p.Accent, c.Accent);
    EXPECT_EQ(p.Surface, c.Surface);
    EXPECT_EQ(p.Background, c.Background);
    EXPECT_EQ(p.BackgroundEnd, c.Background);  // a plain fill
    EXPECT_EQ(p.Text, c.Text);
    // The accent entries follow the accent, the strip background the surface.
    EXPECT_EQ(p.Footer, c.Accent);
    EXPECT_EQ(p.FooterLine, c.Accent);
    EXPECT_EQ(p.ProgressFill, c.Accent);
    EXPECT_EQ(p.ProgressDots, c.Accent);
    EXPECT_EQ(p.StripBackground, c.Surface);
  }
}

namespace {
// Relative luminance contrast in the sense of WCAG, from 0xRRGGBB.
double Luminance(TColor c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel((c >> 16) & 255) + 0.7152 * channel((c >> 8) & 255) + 0.0722 * channel(c & 255);
}
double Contrast(TColor a, TColor b) {
  double la = Luminance(a), lb = Luminance(b);
  if (la < lb) std::swap(la, lb);
  return (la + 0.05) / (lb + 0.05);
}
}  // namespace

TEST(Palette, SkinTextsReadableOnTheirBackgrounds) {
  for (bool dark : {false, true}) {
    SCOPED_TRACE(dark);
    const TSkinColors s = MakeSkin(dark);
    EXPECT_EQ(s.Window, MakePalette(dark).Background);
    EXPECT_GE(Contrast(s.Text, s.Window), 7.0);
    EXPECT_GE(Contrast(s.ButtonText, s.ButtonFace), 7.0);
    EXPECT_GE(Contrast(s.Text, s.EditBackground), 7.0);
    EXPECT_GE(Contrast(s.Warning, s.Window), 4.5);
    EXPECT_GE(Contrast(s.Link, s.Window), 4.5);
    EXPECT_GE(Contrast(s.DisabledText, s.Window), 3.0);
    EXPECT_GE(Contrast(s.Check, s.EditBackground), 7.0);
    const TInstallerPalette p = MakePalette(dark);
    EXPECT_GE(Contrast(p.FooterText, p.Footer), 4.5);  // the version text is small
  }
  // Dark mode: no control face is light.
  const TSkinColors dark = MakeSkin(true);
  for (TColor face : {dark.ButtonFace, dark.EditBackground, dark.ProgressBackground, dark.Window})
    EXPECT_LT(Luminance(face), 0.1) << std::hex << face;
}

TEST(Palette, HighContrastTakesTheSystemColours) {
  TSystemColors system;
  system.Window = 0x000000;
  system.WindowText = 0xFFFF00;
  system.Highlight = 0x00FFFF;
  system.HighlightText = 0x000001;
  system.ButtonFace = 0x000002;
  system.ButtonText = 0xFFFFFF;
  system.GrayText = 0x00FF00;
  UpdatePalette(true, &system);
  EXPECT_EQ(Palette.Background, 0x000000u);
  EXPECT_EQ(Palette.Text, 0xFFFF00u);
  EXPECT_EQ(Palette.Footer, 0x00FFFFu);
  EXPECT_EQ(Palette.FooterText, 0x000001u);  // the pair the system makes readable
  EXPECT_EQ(zel::Skin().ButtonFace, 0x000002u);
  EXPECT_EQ(zel::Skin().ButtonText, 0xFFFFFFu);
  EXPECT_EQ(zel::Skin().DisabledText, 0x00FF00u);
  UpdatePalette(true);
  EXPECT_EQ(Palette.Background, 0x262626u);
  EXPECT_EQ(zel::Skin().Text, 0xFFFFFFu);
  UpdatePalette(false);
  EXPECT_EQ(Palette.Background, 0xFFFFFFu);
}

// The toolkit paints a page's background from its skin and the wizard from its palette:
// in every scheme the two agree, and the toolkit is given the whole skin.
TEST(Palette, TheToolkitIsGivenTheSkinOfTheScheme) {
  TSystemColors system;
  system.Window = 0x101010;
  system.WindowText = 0xFEFEFE;
  system.Highlight = 0x2020F0;
  for (int scheme = 0; scheme < 3; ++scheme) {
    SCOPED_TRACE(scheme);
    const bool dark = scheme == 1;
    UpdatePalette(dark, scheme == 2 ? &system : nullptr);
    EXPECT_EQ(zel::Skin(), scheme == 2 ? MakeHighContrastSkin(system) : MakeSkin(dark));
    EXPECT_EQ(zel::Skin().Window, Palette.Background);
  }
  UpdatePalette(false);
}
