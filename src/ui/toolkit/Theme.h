#pragma once
// The toolkit's look: the application-wide dark-mode flag (the user's app theme),
// high contrast, the monitor's DPI, cached fonts and brushes, and the dark title bar.
#include <windows.h>

#include "library/Strings.h"
#include "ui/toolkit/Scaling.h"
#include "ui/toolkit/Skin.h"

namespace zel {

inline COLORREF ToColorRef(TColor color) { return RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF); }
inline TColor FromColorRef(COLORREF color) {
  return (static_cast<TColor>(GetRValue(color)) << 16) | (static_cast<TColor>(GetGValue(color)) << 8) |
         GetBValue(color);
}

// "AppsUseLightTheme" under HKCU\...\Themes\Personalize: dark when it is 0; light when
// it is not 0 or missing.
bool ReadDarkModeSetting();
// The flag the toolkit paints by; read at start-up and on "ImmersiveColorSet".
bool IsDarkMode();
// Re-reads the setting; true when the flag changed.
bool RefreshDarkMode();
bool IsHighContrast();
TSystemColors SystemColors();
// The application's colour scheme: told the flags (highContrast, when not null, takes
// precedence over dark), it computes its colours and gives the toolkit its skin (SetSkin).
using TColorScheme = void (*)(bool dark, const TSystemColors* highContrast);
void SetColorScheme(TColorScheme scheme);
// Has the scheme recompute the skin from the flags above; without a scheme the skin stays.
void UpdateSkin();

// The DPI of the monitor the window is on (per-monitor aware), else the system's.
unsigned WindowDpi(HWND window);
unsigned SystemDpi();
TScale WindowScale(HWND window);

// Dark title bar through DWMWA_USE_IMMERSIVE_DARK_MODE (ignored where the system lacks it).
void ApplyTitleBarTheme(HWND window, bool dark);
// Dark or light scroll bars for controls that draw their own (edits, rich edits).
void ApplyScrollBarTheme(HWND control, bool dark);

struct TFontStyle {
  int Points = 9;
  bool Bold = false;
  bool operator==(const TFontStyle& other) const = default;
};
// A font of the toolkit's face ("Segoe UI") at the given size and DPI; owned by the cache.
HFONT GetFont(const TFontStyle& style, unsigned dpi);
// A solid brush of the colour; owned by the cache.
HBRUSH GetBrush(TColor color);

}  // namespace zel
