#!/usr/bin/env bash
# The wizard follows the user's app theme live: with "AppsUseLightTheme" = 1 it is
# light; set to 0 and told "ImmersiveColorSet", the open wizard turns dark (page,
# header, labels, buttons), and back again. Read from the screen's pixels.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

PERSONALIZE='HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize'
# pixel X Y: the colour at a point of the client, as "RRGGBB". Without a window manager
# the client is all that is drawn on the black screen: its corner is where the
# non-black part of the screenshot begins.
pixel() {
  screenshot theme-probe
  local box left top
  box=$(convert "$SHOTS/theme-probe.png" -format '%@' info: 2>/dev/null)
  left=$(cut -d+ -f2 <<<"$box")
  top=$(cut -d+ -f3 <<<"$box")
  convert "$SHOTS/theme-probe.png" -format "%[hex:p{$((left + $1)),$((top + $2))}]" info: 2>/dev/null | cut -c1-6
}
# box_pixel NAME: a point of the question box left of its icon (the box, about 490 wide for
# this text, is centred on the wizard, which is centred on the screen).
box_pixel() { convert "$SHOTS/$1.png" -format '%[hex:p{404,500}]' info: 2>/dev/null | cut -c1-6; }
set_theme() {
  wine_out reg add "$PERSONALIZE" /v AppsUseLightTheme /t REG_DWORD /d "$1" /f >/dev/null
  drive setting --title "$WIZARD_TITLE" --text ImmersiveColorSet >/dev/null
}

use_prefix wizard_theme fresh
wine_out reg add "$PERSONALIZE" /v AppsUseLightTheme /t REG_DWORD /d 1 /f >/dev/null
start_wizard "$WORK/wizard_theme.out"
choose_language
expect_page PageWelcome
click_button "$(lng Common bNext)"
expect_page PageLicense
# Points: the page background beside the viewer, the header's right part, Next's face.
check_soon "light: page background" FFFFFF pixel 10 200
LIGHT_HEADER=$(pixel 600 4)
LIGHT_BUTTON=$(pixel 520 460)

step "dark, told while open"
set_theme 0
check_soon "dark: page background" 262626 pixel 10 200
DARK_HEADER=$(pixel 600 4)
[ "$DARK_HEADER" != "$LIGHT_HEADER" ] && pass || fail "the header picture did not change ($DARK_HEADER)"
DARK_BUTTON=$(pixel 520 460)
[ "$DARK_BUTTON" != "$LIGHT_BUTTON" ] && pass || fail "the Next button kept its light face ($DARK_BUTTON)"
screenshot theme-dark-live
# The question box follows the theme too.
drive close --title "$WIZARD_TITLE" >/dev/null
QM=$(lng Common QM)
check "dark: the question in the toolkit's box" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
screenshot theme-box
check "dark: the box is dark" 262626 "$(box_pixel theme-box)"
answer_box "$WIZARD_TITLE" Cancel
soon 10 1 eval 'no_box "$WIZARD_TITLE" && echo 1' || fail "dark: the question stays open"
check "dark: Cancel keeps the wizard" PageLicense "$(wizard_page)"

step "a settings change of another name changes nothing"
wine_out reg add "$PERSONALIZE" /v AppsUseLightTheme /t REG_DWORD /d 1 /f >/dev/null
# The driver has the window repainted once the message is handled: no pause needed.
drive setting --title "$WIZARD_TITLE" --text Environment >/dev/null
check "still dark" 262626 "$(pixel 10 200)"

step "light again"
set_theme 1
check_soon "light again: page background" FFFFFF pixel 10 200
check "light again: header" "$LIGHT_HEADER" "$(pixel 600 4)"
# The same box, light now.
drive close --title "$WIZARD_TITLE" >/dev/null
check "light: the same question box" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
screenshot theme-box-light
check "light: the box is light" FFFFFF "$(box_pixel theme-box-light)"
answer_box "$WIZARD_TITLE" OK
end_win 30
check "exit code" 1602 "$RUN_EXIT"
finish
