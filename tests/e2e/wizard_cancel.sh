#!/usr/bin/env bash
# Closing the wizard: on the welcome page the question "QM" comes, Cancel keeps the
# wizard, OK ends it (exit 1602, nothing installed). During the installation (held in
# its first action by a player window that will not close) OK lets that action finish,
# runs no further one, lists "E4" on the finish page and exits with 1602.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

QM=$(lng Common QM)
E4=$(lng Common E4)
NEXT=$(lng Common bNext)

use_prefix wizard_cancel fresh
step "close on the welcome page: Cancel, then OK"
start_wizard "$WORK/wizard_cancel.out"
choose_language
expect_page PageWelcome
drive close --title "$WIZARD_TITLE" >/dev/null
check "the question" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
screenshot cancel-question
answer_box "$WIZARD_TITLE" Cancel
sleep 0.5
check "Cancel keeps the wizard on its page" PageWelcome "$(wizard_page)"
drive key --title "$WIZARD_TITLE" --key escape >/dev/null
check "Esc asks the same question" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" OK
end_win 30
check "exit code" 1602 "$RUN_EXIT"
check "no run began" "" "$(wizard_log | grep '^Run starts')"
stop_server

use_prefix wizard_cancel_running fresh
step "close during the installation"
RELEASE=$(drive_c)/release-player
"$WINE" "$STUBBORN_EXE" TKIVOMainForm 'C:\release-player' 120000 >/dev/null 2>&1 &
PLAYER=$!
drive wait --class TKIVOMainForm --timeout 20000 >/dev/null 2>&1 || sleep 2
start_wizard "$WORK/wizard_cancel_running.out"
choose_language
expect_page PageWelcome
# Keyboard only: Enter on Next, the licence box by its mnemonic, Enter again.
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageLicense
drive key --title "$WIZARD_TITLE" --mnemonic a >/dev/null
answer_box "$WIZARD_TITLE" OK || fail "no E6 warning after Alt+A"
sleep 0.5
check_true "the mnemonic ticked the box" has_flag "$(lng PageLicense L1)" C
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageSetup
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageIntegration
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageReadyToInstall
click_button "$(lng Common bInstall)"
expect_page PageInstall
sleep 1
drive close --title "$WIZARD_TITLE" >/dev/null
check "the question during the run" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" Cancel
sleep 1
check "Cancel: the run goes on" PageInstall "$(wizard_page)"
drive close --title "$WIZARD_TITLE" >/dev/null
box_text "$WIZARD_TITLE" >/dev/null || fail "no question the second time"
screenshot cancel-running
answer_box "$WIZARD_TITLE" OK
sleep 1
# The first action is still waiting for the player; let it go.
touch "$RELEASE"
end_win 60
wait "$PLAYER" 2>/dev/null
check "exit code" 1602 "$RUN_EXIT"
LOG=$(wizard_log)
check_contains "E4 in the error list" "Error: $E4" "$LOG"
check "no further action ran (no files)" 0 "$(test -e "$(drive_c)/Program Files (x86)/KIVO/KIVO.exe" && echo 1 || echo 0)"
check_contains "the finish page came before the end" "Wizard: page PageFinish" "$LOG"
check "no finish action" "" "$(grep '^Finish action' <<<"$LOG")"
finish
