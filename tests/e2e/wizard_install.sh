#!/usr/bin/env bash
# An interactive installation as a person makes it: language → welcome → licence (Next
# only while the box is ticked, the warning each time it is ticked) → ready (the
# summary) → install (progress and status) → finish (the action boxes; Finish closes,
# the ticked action starts the player afterwards).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

NEXT=$(lng Common bNext)
INSTALL=$(lng Common bInstall)
FINISH=$(lng Common bFinish)
BACK=$(lng Common bBack)
ACCEPT=$(lng PageLicense L1)
E6=$(lng Common E6)
DEST_UNIX="Program Files (x86)/KIVO"

use_prefix wizard_install fresh
step "Setup.exe without switches"
start_wizard "$WORK/wizard_install.out"
choose_language

step "welcome page"
expect_page PageWelcome
check "welcome: Next is shown and enabled" VE "$(control_flags "$NEXT" | tr -d 'F')"
check "welcome: Back is hidden" 0 "$(has_flag "$BACK" V && echo 1 || echo 0)"
check_true "welcome: the heading" has_flag "$(lng PageWelcome L1)" V
check_true "welcome: the E6 notice" has_flag "$E6" V
screenshot install-1-welcome
click_button "$NEXT"

step "licence page"
expect_page PageLicense
check "licence: Next disabled while the box is not ticked" V "$(control_flags "$NEXT")"
check "licence: Back hidden (the page refuses going back)" 0 "$(has_flag "$BACK" V && echo 1 || echo 0)"
LICENCE=$(wizard_state | awk -F'\t' 'tolower($1) == "richedit50w" { print $4 }')
check_contains "licence: the English licence text is shown" "KIVO" "$LICENCE"
click_button "$ACCEPT"
check "licence: ticking shows the E6 warning" "$E6" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" OK
check_soon "licence: Next enabled once ticked" 1 next_enabled
click_button "$ACCEPT"
check_soon "licence: Next disabled again" 0 next_enabled
check_true "licence: unticking shows no warning" no_box "$WIZARD_TITLE"
click_button "$ACCEPT"
check "licence: ticking again shows the warning again" "$E6" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" OK
check_soon "licence: Next enabled again" 1 next_enabled
screenshot install-2-licence
click_button "$NEXT"

step "setup and integration pages"
expect_page PageSetup
check "setup: the default destination" 'C:\Program Files (x86)\KIVO\' "$(visible_text Edit)"
click_button "$NEXT"
expect_page PageIntegration
click_button "$NEXT"

step "ready page"
expect_page PageReadyToInstall
check_true "ready: Next reads Install" has_flag "$INSTALL" E
check_true "ready: Back is shown" has_flag "$BACK" V
SUMMARY_SHOWN=$(wizard_state | awk -F'\t' 'tolower($1) == "richedit50w" && $3 ~ /V/ { print $4 }')
if [ -n "$SUMMARY_SHOWN" ]; then
  check_contains "ready: the summary names the destination" 'C:\Program Files (x86)\KIVO\' "$SUMMARY_SHOWN"
  check "ready: a new folder has nothing to back up" "" "$(grep -F "$(lng_plain PageSetup CB4)" <<<"$SUMMARY_SHOWN")"
fi
click_button "$BACK"
expect_page PageIntegration
click_button "$BACK"
expect_page PageSetup
click_button "$BACK"
expect_page PageLicense
check_true "back on the licence page the box is still ticked" has_flag "$ACCEPT" C
click_button "$NEXT"
expect_page PageSetup
click_button "$NEXT"
expect_page PageIntegration
click_button "$NEXT"
expect_page PageReadyToInstall
screenshot install-3-ready
click_button "$INSTALL"

step "install and finish pages"
expect_page PageFinish 60
check_contains "the install page was shown" "Wizard: page PageInstall" "$(wizard_log)"
check_contains "status texts reached the page" "Status: $(lng Common A4)" "$(wizard_log)"
BARS=$(wizard_state | awk -F'\t' '$1 == "msctls_progress32" { print $4 }' | sort | uniq -c | awk '{ print $1 " " $2 }')
check "both progress bars ended at 100 %" "2 pos=100" "$BARS"
check_true "finish: Next reads Finish" has_flag "$FINISH" E
check "finish: Back is hidden" 0 "$(has_flag "$BACK" V && echo 1 || echo 0)"
check "finish: run box ticked and shown" VEC "$(control_flags "$(lng PageFinish RunProduct)" | tr -d 'F')"
check "finish: what's new box ticked and shown" VEC "$(control_flags "$(lng PageFinish ShowWhatsNew)" | tr -d 'F')"
check_true "finish: the home-page link" has_flag "$(lng PageFinish L3)" V
screenshot install-4-finish
click_button "$(lng PageFinish ShowWhatsNew)"
check_soon "finish: what's new box unticked" VE eval 'control_flags "$(lng PageFinish ShowWhatsNew)" | tr -d F' 
click_button "$FINISH"
end_win 30
check "exit code" 0 "$RUN_EXIT"

LOG=$(wizard_log)
check "pages in order" "PageWelcome PageLicense PageSetup PageIntegration PageReadyToInstall PageIntegration PageSetup \
PageLicense PageSetup PageIntegration PageReadyToInstall PageInstall PageFinish" \
  "$(sed -n 's/^Wizard: page //p' <<<"$LOG" | tr '\n' ' ' | sed 's/ $//')"
check "the ticked finish action ran, the unticked one did not" \
  'Finish action: open "C:\Program Files (x86)\KIVO\KIVO.exe"' "$(grep '^Finish action' <<<"$LOG")"
check_true "the product is installed" test -f "$(drive_c)/$DEST_UNIX/KIVO.exe"
if drive wait --class TKIVOMainForm --timeout 15000 >/dev/null; then
  pass
  drive close --class TKIVOMainForm --wait >/dev/null
else
  fail "the player was not started after Finish"
fi

step "the same installation by keys alone, in Wine's desktop window"
# From the first key to the last, nothing clicked: every window must be active with its
# focus on a control when it appears, and each key must do what a person expects.
use_prefix wizard_install_keys fresh
use_desktop_window
start_wizard "$WORK/wizard_install_keys.out"
drive wait --class '#32770' --title "Select Language" --timeout 30000 >/dev/null || fail "no language dialog"
keys Return
expect_page PageWelcome
keys Return
expect_page PageLicense
# Tab leaves the licence text for the box, Space ticks it, Enter closes the notice.
keys Tab space
check "keys: ticking shows the E6 warning" "$E6" "$(box_text "$WIZARD_TITLE")"
keys Return
check_soon "keys: Next enabled after the notice" 1 next_enabled
# The focus came back to the box: Space unticks it, and ticks it again with the notice.
keys space
check_soon "keys: the box keeps the focus after the notice" 0 next_enabled
keys space
check "keys: the notice again" "$E6" "$(box_text "$WIZARD_TITLE")"
keys Return
check_soon "keys: Next enabled again" 1 next_enabled
keys alt+n
expect_page PageSetup
# The access keys of the page: Browse opens the folder browser, Esc closes it again.
keys alt+r
drive wait --class '#32770' --title "$(lng Common lBrowse)" --timeout 10000 >/dev/null || fail "keys: Alt+R opens no folder browser"
keys Escape
soon 10 "" eval 'drive list | grep -F "$(lng Common lBrowse)"' >/dev/null || fail "keys: Esc leaves the folder browser open"
keys alt+p
check_soon "keys: Alt+P chooses portable" 1 eval 'has_flag "$(lng PageSetup CB3)" C && echo 1'
keys alt+s
check_soon "keys: Alt+S chooses standard again" 1 eval 'has_flag "$(lng PageSetup CB2)" C && echo 1'
keys alt+n
expect_page PageIntegration
keys Return
expect_page PageReadyToInstall
keys Return
wait_page PageFinish 120 || fail "keys: no finish page; the wizard shows [$(wizard_page)]"
# The focus is on Finish; Tab goes on to the page's first box (not to the link at the
# bottom), Space unticks it, and Alt+F finishes without starting the player.
keys Tab space
check_soon "keys: Tab from Finish reaches the first action" VE eval \
  'control_flags "$(lng PageFinish RunProduct)" | tr -d F'
keys alt+f
end_win 30
check "keys: exit code" 0 "$RUN_EXIT"
check_true "keys: the product is installed" test -f "$(drive_c)/$DEST_UNIX/KIVO.exe"
check "keys: the unticked player was not started" "" "$(wizard_log | grep '^Finish action: open .*KIVO.exe')"

step "and uninstalled by keys alone"
# Through the uninstaller's relay: the copy it starts must take the foreground too.
RUN_TIMEOUT=$WIZARD_RUN_TIMEOUT start_win "$WORK/wizard_uninstall_keys.out" \
  'C:\Program Files (x86)\KIVO\Uninstall.exe' '/LOG=C:\uninstall-keys.log'
drive wait --class '#32770' --title "Select Language" --timeout 30000 >/dev/null || fail "keys: no language dialog"
keys Return
WIZARD_TITLE=$(lng Common CaptionUninstall) expect_page PageUninstallParams 30
keys alt+u
WIZARD_TITLE=$(lng Common CaptionUninstall) wait_page PageUninstallFinish 120 ||
  fail "keys: no uninstall finish page"
keys Return
end_win 60
check "keys: the uninstall's exit code" 0 "$RUN_EXIT"
check "keys: the product is gone" "" "$(ls "$(drive_c)/$DEST_UNIX/KIVO.exe" 2>/dev/null)"
"$WINESERVER" -k 2>/dev/null
rm -rf "$WINEPREFIX"
finish
