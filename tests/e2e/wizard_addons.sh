#!/usr/bin/env bash
# The add-ons page, offered in Russian only: after the setup page it shows its picture
# (top right), the three boxes ticked and the two formatted texts with their links
# (the address from addons.ini, the licence and the privacy policy), each opened through
# the spawn service. The boxes' choices reach the summary and the add-ons action, which
# starts the add-on installer with the matching switches. In English the page and its
# action are absent and the options never written.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

export WIZARD_LANGUAGE=Russian
WIZARD_TITLE="$(lng Common Caption)"
NEXT=$(lng Common bNext)
BACK=$(lng Common bBack)
ADDRESS='https://www.kivo-player.example/addons/'
unlines() { printf '%s' "${1//\\r\\n/$'\n'}"; }
# picture_spread NAME: how much the colours vary where the picture belongs (top right
# of the page: client 450..600 × 75..135 of the window centred on the screen).
picture_spread() {
  convert "$SHOTS/$1.png" -crop 150x60+770+356 +repage -colorspace Gray \
    -format '%[fx:round(standard_deviation*1000)]' info:
}

use_prefix wizard_addons fresh
step "Setup.exe in Russian, to the add-ons page"
start_wizard "$WORK/wizard_addons.out"
choose_language_named "$(lng File Name)"
expect_page PageWelcome
click_button "$NEXT"
accept_licence
expect_page PageSetup
sleep 0.3
screenshot addons-before
click_button "$NEXT"
expect_page PageAddons
sleep 0.5
screenshot addons-page
check_contains "the heading" "$(lng PageAddons L0)" "$(visible_texts)"
for key in CB1 CB2 CB3; do
  check "$key ticked" VEC "$(control_flags "$(lng PageAddons "$key")" | tr -d 'F')"
done
TEXT1=$(visible_texts | grep -F "$(lng PageAddons L1 | sed 's/%s.*//')")
check "text 1: the address as a link" "$(lng PageAddons L1 | sed "s|%s|<a href=\"$ADDRESS\">$ADDRESS</a>|")" "$TEXT1"
TEXT2=$(visible_texts | grep -F 'addons/license/')
check_contains "text 2: the licence link" '<a href="https://www.kivo-player.example/addons/license/">' "$TEXT2"
check_contains "text 2: the privacy link" '<a href="https://www.kivo-player.example/addons/privacy/">' "$TEXT2"
SPREAD_PAGE=$(picture_spread addons-page)
SPREAD_BEFORE=$(picture_spread addons-before)
check_true "the picture is drawn at the top right ($SPREAD_PAGE against $SPREAD_BEFORE on the setup page)" \
  test "${SPREAD_PAGE:-0}" -gt $((${SPREAD_BEFORE:-0} + 50))

step "the links"
LINKS=$(awk -F'\t' 'NR > 1 && $3 ~ /V/ && $4 ~ /<a href=/ { print $2 }' <<<"$(wizard_state)")
check "two link controls" 2 "$(grep -c . <<<"$LINKS")"
drive link --title "$WIZARD_TITLE" --id "$(sed -n 1p <<<"$LINKS")" >/dev/null
drive link --title "$WIZARD_TITLE" --id "$(sed -n 2p <<<"$LINKS")" --index 1 >/dev/null
check_soon "both opened, in order" "Wizard: link $ADDRESS|Wizard: link https://www.kivo-player.example/addons/privacy/" \
  eval "wizard_log | grep '^Wizard: link' | paste -sd'|'"
check "still on the add-ons page" PageAddons "$(wizard_page)"

step "the choices"
click_button "$(lng PageAddons CB2)"
click_button "$NEXT"
expect_page PageIntegration
click_button "$NEXT"
expect_page PageReadyToInstall
SUMMARY=$(unlines "$(summary)")
check_contains "summary: the viewer" "$(lng_plain PageAddons CB1)" "$SUMMARY"
check_contains "summary: the shortcuts" "$(lng_plain PageAddons CB3)" "$SUMMARY"
check "summary: no extensions" "" "$(grep -F "$(lng_plain PageAddons CB2)" <<<"$SUMMARY")"
click_button "$BACK"
expect_page PageIntegration
click_button "$BACK"
expect_page PageAddons
check "back on the page: the unticked box stays unticked" VE "$(control_flags "$(lng PageAddons CB2)" | tr -d 'F')"
click_button "$NEXT"
click_button "$NEXT"
expect_page PageReadyToInstall
click_button "$(lng Common bInstall)"
expect_page PageFinish 90
for box in RunProduct ShowWhatsNew; do click_button "$(lng PageFinish "$box")"; done
click_button "$(lng Common bFinish)"
end_win 30
check "exit code" 0 "$RUN_EXIT"
LOG=$(wizard_log)
check "the add-ons action between prepare and extraction" \
  "CloseApplications Prepare AddonsInstall Extract Config Integrate Shortcuts UpdateShellCache" "$(action_order "$LOG")"
OPENED=$(grep '^Opened:' <<<"$LOG")
check_contains "the add-on installer started without extensions" "/noextensions" "$OPENED"
check_contains "with the viewer" "/viewer" "$OPENED"
check_contains "with the shortcuts" "/shortcuts" "$OPENED"
stop_server
find_temp_folder
check_true "the add-on installer ran (AddonSetup.log)" test -n "$(find "$TEMP_UNIX" -name AddonSetup.log | head -1)"
check "pages" "PageWelcome PageLicense PageSetup PageAddons PageIntegration PageReadyToInstall PageIntegration \
PageAddons PageIntegration PageReadyToInstall PageInstall PageFinish" "$(pages_seen)"
finish
