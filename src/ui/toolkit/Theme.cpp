#include "ui/toolkit/Theme.h"

#include <dwmapi.h>
#include <uxtheme.h>

#include <map>
#include <tuple>

#include "library/win/Handles.h"
#include "ui/toolkit/DeviceContext.h"

namespace zel {

namespace {

bool DarkMode = ReadDarkModeSetting();
TColorScheme ColorScheme = nullptr;

// DWMWA_USE_IMMERSIVE_DARK_MODE: 20 from Windows 10 20H1 on, 19 before it.
constexpr DWORD kDarkModeAttribute = 20;
constexpr DWORD kDarkModeAttributeOld = 19;

}  // namespace

bool ReadDarkModeSetting() {
  DWORD value = 1;
  DWORD size = sizeof(value);
  const LSTATUS status =
      ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                     L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return status == ERROR_SUCCESS && value == 0;
}

bool IsDarkMode() { return DarkMode; }

bool RefreshDarkMode() {
  const bool dark = ReadDarkModeSetting();
  if (dark == DarkMode) return false;
  DarkMode = dark;
  return true;
}

bool IsHighContrast() {
  HIGHCONTRASTW info{};
  info.cbSize = sizeof(info);
  return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(info), &info, 0) && (info.dwFlags & HCF_HIGHCONTRASTON);
}

TSystemColors SystemColors() {
  TSystemColors c;
  c.Window = FromColorRef(::GetSysColor(COLOR_WINDOW));
  c.WindowText = FromColorRef(::GetSysColor(COLOR_WINDOWTEXT));
  c.Highlight = FromColorRef(::GetSysColor(COLOR_HIGHLIGHT));
  c.HighlightText = FromColorRef(::GetSysColor(COLOR_HIGHLIGHTTEXT));
  c.ButtonFace = FromColorRef(::GetSysColor(COLOR_BTNFACE));
  c.ButtonText = FromColorRef(::GetSysColor(COLOR_BTNTEXT));
  c.GrayText = FromColorRef(::GetSysColor(COLOR_GRAYTEXT));
  return c;
}

void SetColorScheme(TColorScheme scheme) { ColorScheme = scheme; }

void UpdateSkin() {
  if (!ColorScheme) return;
  if (IsHighContrast()) {
    const TSystemColors system = SystemColors();
    ColorScheme(false, &system);
  } else {
    ColorScheme(DarkMode, nullptr);
  }
}

unsigned SystemDpi() {
  const TWindowDC screen(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
  return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

unsigned WindowDpi(HWND window) {
  // GetDpiForWindow exists from Windows 10 1607 on; bound late so older systems start.
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && window)
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  return SystemDpi();
}

TScale WindowScale(HWND window) { return TScale::ForDpi(static_cast<int>(WindowDpi(window))); }

void ApplyTitleBarTheme(HWND window, bool dark) {
  const BOOL value = dark ? TRUE : FALSE;
  // dwmapi is delay-loaded; where it or the attribute is missing the title stays light.
  if (FAILED(::DwmSetWindowAttribute(window, kDarkModeAttribute, &value, sizeof(value))))
    ::DwmSetWindowAttribute(window, kDarkModeAttributeOld, &value, sizeof(value));
}

void ApplyScrollBarTheme(HWND control, bool dark) {
  ::SetWindowTheme(control, dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
}

HFONT GetFont(const TFontStyle& style, unsigned dpi) {
  static std::map<std::tuple<int, bool, unsigned>, TGdiObject> cache;
  auto& slot = cache[{style.Points, style.Bold, dpi}];
  if (!slot) {
    LOGFONTW font{};
    font.lfHeight = TScale::ForDpi(static_cast<int>(dpi)).FontHeight(style.Points);
    font.lfWeight = style.Bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    ::lstrcpynW(font.lfFaceName, L"Segoe UI", LF_FACESIZE);
    slot.Reset(::CreateFontIndirectW(&font));
  }
  return static_cast<HFONT>(slot.Get());
}

HBRUSH GetBrush(TColor color) {
  static std::map<TColor, TGdiObject> cache;
  auto& slot = cache[color];
  if (!slot) slot.Reset(::CreateSolidBrush(ToColorRef(color)));
  return static_cast<HBRUSH>(slot.Get());
}

}  // namespace zel
