#!/usr/bin/env bash
# Demo: screenshots of every wizard page, light and dark, at 100 %, 150 % and 200 %, under
# Xvfb; the product's own pages (setup, add-ons, integration, uninstall options) in
# English, German and Russian too (language-page-theme-percent.png): the setup page with
# a refused folder, at an updatable 4.60 installation (W1), with the update declined
# (W3) and portable, and the uninstall options of an installed copy. The DPI is the
# prefix's "LogPixels" (HKCU\Control Panel\Desktop), dark mode its "AppsUseLightTheme"
# = 0; the install page is held by a player window that does not close, so that it can
# be seen; a failed automatic run shows the finish page's error list. The pictures go
# to $KIVO_WIZARD_SHOTS (default build/windows/wizard-screens), named
# page-theme-percent.png.
#
#   tests/e2e/wizard_screens.sh [light|dark ...] [100|150|200 ...] [English|German|Russian ...]
#
# Run from the source tree after a Windows build; the paths default to build/windows.
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KIVO_BUILD_DIR:-$root/build/windows}
export KIVO_E2E_WORK=${KIVO_E2E_WORK:-$build/tests/e2e/screens-work}
export KIVO_SETUP_EXE=${KIVO_SETUP_EXE:-$build/src/setup/Setup.exe}
export KIVO_UIDRIVER_EXE=${KIVO_UIDRIVER_EXE:-$build/tests/uidriver/uidriver.exe}
export KIVO_SETUP_STAGE=${KIVO_SETUP_STAGE:-$build/sample/setup-stage}
export KIVO_WIZARD_SHOTS=${KIVO_WIZARD_SHOTS:-$build/wizard-screens}
source "$here/lib.sh"
source "$here/wizard_lib.sh"
source "$here/../fixtures/older_install.sh"
need_display "$@"

themes=() scales=() languages=()
for a in "$@"; do
  case $a in
    light | dark) themes+=("$a") ;;
    100 | 150 | 200) scales+=("$a") ;;
    English | German | Russian) languages+=("$a") ;;
    *) echo "usage: $0 [light|dark ...] [100|150|200 ...] [English|German|Russian ...]" >&2; exit 2 ;;
  esac
done
[ ${#themes[@]} -gt 0 ] || themes=(light dark)
[ ${#scales[@]} -gt 0 ] || scales=(100 150)
[ ${#languages[@]} -gt 0 ] || languages=(English German Russian)

if [ ! -f "$BASE_PREFIX/system.reg" ]; then
  step "base prefix"
  make_base_prefix || fatal "wineboot failed"
fi

# settings: the prefix's DPI and theme for this round.
settings() {
  wine_out reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $((96 * percent / 100)) /f >/dev/null
  wine_out reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' /v AppsUseLightTheme \
    /t REG_DWORD /d "$([ "$theme" == dark ] && echo 0 || echo 1)" /f >/dev/null
  stop_server
}

# product_pages LANGUAGE: the product's pages in that language (pictures LANGUAGE-NAME-...).
product_pages() {
  local language=$1
  export WIZARD_LANGUAGE=$language
  WIZARD_TITLE=$(lng Common Caption)
  use_prefix "screens-$language-$theme-$percent" fresh
  settings
  fixture_460 KIVO
  start_wizard "$WORK/screens-$language.out"
  drive select --class '#32770' --title "Select Language" --id 100 --text "$(lng File Name)" --timeout 30000 >/dev/null
  choose_language
  wait_page PageWelcome && click_button "$(lng Common bNext)"
  wait_page PageLicense && click_button "$(lng PageLicense L1)"
  box_text "$WIZARD_TITLE" >/dev/null
  answer_box "$WIZARD_TITLE" OK
  click_button "$(lng Common bNext)"
  # The longest refusal: a folder that holds the user's profile.
  wait_page PageSetup && type_path 'C:\users' && sleep 0.5 && shot "$language-setup-refused"
  type_path 'C:\KIVO' && sleep 0.5 && shot "$language-setup-update"
  click_button "$(lng PageSetup CB1)"
  sleep 0.5 && shot "$language-setup-declined"
  click_button "$(lng PageSetup CB3)"
  sleep 0.5 && shot "$language-setup-portable"
  click_button "$(lng PageSetup CB2)"
  click_button "$(lng Common bNext)"
  if [ "$language" == Russian ]; then
    wait_page PageAddons && sleep 0.5 && shot "$language-addons"
    click_button "$(lng Common bNext)"
  fi
  wait_page PageIntegration && sleep 0.5 && shot "$language-integration"
  click_button "$(lng Common bNext)"
  wait_page PageReadyToInstall && sleep 0.5 && shot "$language-ready"
  drive close --title "$WIZARD_TITLE" >/dev/null
  box_text "$WIZARD_TITLE" >/dev/null
  answer_box "$WIZARD_TITLE" OK
  end_win 30
  stop_server
  # The uninstall options of an installed copy.
  run_win "$WORK/screens-install.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Installed' /SILENT
  RUN_TIMEOUT=$WIZARD_RUN_TIMEOUT start_win "$WORK/screens-uninstall.out" 'C:\Installed\Uninstall.exe'
  drive select --class '#32770' --title "Select Language" --id 100 --text "$(lng File Name)" --timeout 30000 >/dev/null
  choose_language
  WIZARD_TITLE=$(lng Common CaptionUninstall)
  wait_page PageUninstallParams 30 && sleep 0.5 && shot "$language-uninstall-options"
  click_button "$(lng PageUninstallParams CB2)"
  box_text "$WIZARD_TITLE" >/dev/null && shot "$language-uninstall-confirm-user-data"
  answer_box "$WIZARD_TITLE" OK
  sleep 0.3 && shot "$language-uninstall-options-ticked"
  drive close --title "$WIZARD_TITLE" >/dev/null
  box_text "$WIZARD_TITLE" >/dev/null
  answer_box "$WIZARD_TITLE" OK
  WIZARD_TITLE=$(lng Common Caption)
  end_win 30
  stop_server
  unset WIZARD_LANGUAGE
  WIZARD_TITLE="KIVO Setup"
}

# shot NAME: the wizard's part of the screen (the window is centred on a 1280 × 1024
# screen); on another screen the whole of it, as the window may have been fitted to it.
shot() {
  local w=$((640 * percent / 100 + 40)) h=$((480 * percent / 100 + 70)) size
  screenshot "$1-$theme-$percent"
  size=$(identify -format '%wx%h' "$SHOTS/$1-$theme-$percent.png" 2>/dev/null)
  [ "$size" == 1280x1024 ] || return 0
  convert "$SHOTS/$1-$theme-$percent.png" -crop "${w}x${h}+$(((1280 - w) / 2))+$(((1024 - h) / 2))" +repage \
    "$SHOTS/$1-$theme-$percent.png" 2>/dev/null
}

for theme in "${themes[@]}"; do
  for percent in "${scales[@]}"; do
    step "$theme, $percent %"
    for language in "${languages[@]}"; do product_pages "$language"; done
    use_prefix "screens-$theme-$percent" fresh
    settings
    # From a folder of its own: the setup takes a running player's folder for the
    # destination, and the page below types the standard one over it.
    mkdir -p "$(drive_c)/Holder" && cp "$STUBBORN_EXE" "$(drive_c)/Holder/"
    "$WINE" 'C:\Holder\stubborn_window.exe' TKIVOMainForm 'C:\release-player' 120000 >/dev/null 2>&1 &
    player=$!
    start_wizard "$WORK/screens.out"
    drive wait --title "Select Language" --timeout 30000 >/dev/null && sleep 0.5 && shot language
    choose_language
    wait_page PageWelcome && sleep 0.5 && shot welcome
    click_button "$(lng Common bNext)"
    wait_page PageLicense && sleep 0.5 && shot licence
    click_button "$(lng PageLicense L1)"
    box_text "$WIZARD_TITLE" >/dev/null && shot licence-warning
    answer_box "$WIZARD_TITLE" OK
    click_button "$(lng Common bNext)"
    wait_page PageSetup && type_path 'C:\Program Files (x86)\KIVO' && sleep 0.5 && shot setup
    click_button "$(lng Common bNext)"
    wait_page PageIntegration && sleep 0.5 && shot integration
    click_button "$(lng Common bNext)"
    wait_page PageReadyToInstall && sleep 0.5 && shot ready
    click_button "$(lng Common bInstall)"
    wait_page PageInstall && sleep 1 && shot install
    drive close --title "$WIZARD_TITLE" >/dev/null
    box_text "$WIZARD_TITLE" >/dev/null && shot question
    answer_box "$WIZARD_TITLE" Cancel
    touch "$(drive_c)/release-player"
    wait_page PageFinish 60 && sleep 0.5 && shot finish
    click_button "$(lng Common bFinish)"
    end_win 30
    wait "$player" 2>/dev/null
    drive close --class TKIVOMainForm --wait --timeout 5000 >/dev/null 2>&1
    stop_server
    # A failed automatic run: the finish page with the error list.
    echo "a file, not a folder" >"$(drive_c)/blocker"
    start_wizard "$WORK/screens-failed.out" '/AUTO=C:\blocker\KIVO'
    wait_page PageFinish 60 && sleep 0.5 && shot finish-failed
    click_button "$(lng Common bFinish)"
    end_win 30
    stop_server
    note "$(ls "$SHOTS" | grep -c -- "-$theme-$percent.png") pictures"
  done
done
echo "screenshots in $SHOTS"
