#!/usr/bin/env bash
# Leaving and starting: Esc in the language dialog quits (1602); a second Setup.exe while
# one runs says so and ends with 1618 (silent: logs it), the first goes on.
# Closing the wizard: on the welcome page the question "QM" comes, Cancel keeps the
# wizard, OK ends it (exit 1602, nothing installed). During the installation (held in
# its first action by a player window that will not close, or that hangs in the close
# request) OK ends that action within a second, runs no further one, logs "E4" and
# exits with 1602 without flashing the failure page; the window answers meanwhile.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

QM=$(lng Common QM)
E4=$(lng Common E4)
NEXT=$(lng Common bNext)

use_prefix wizard_cancel fresh
step "Esc in the language dialog quits"
start_wizard "$WORK/wizard_cancel_language.out"
drive wait --class '#32770' --title "Select Language" --timeout 30000 >/dev/null || fail "no language dialog"
drive key --class '#32770' --title "Select Language" --key escape >/dev/null
end_win 30
check "exit code" 1602 "$RUN_EXIT"
check "no wizard came" "" "$(wizard_log | grep '^Wizard: page')"
check "no message for the user" "" "$(wizard_log | grep '^Setup error')"

step "one setup at a time"
start_wizard "$WORK/wizard_cancel_first.out"
choose_language
expect_page PageWelcome
FIRST_PID=$RUN_PID
FIRST_OUT=$RUN_OUT
RUN_TIMEOUT=$WIZARD_RUN_TIMEOUT start_win "$WORK/wizard_cancel_second.out" "$(winpath "$SETUP_EXE")" '/LOG=C:\second.log'
check "a second start says so" "$(lng Common AlreadyRunning)" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" OK
end_win 30
check "and ends with 1618" 1618 "$RUN_EXIT"
check "without a language dialog" "" "$(log_text "$(drive_c)/second.log" | grep '^Language chosen')"
start_win "$WORK/wizard_cancel_silent.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Second' /SILENT '/LOG=C:\second-silent.log'
end_win 30
check "a silent second start ends with 1618" 1618 "$RUN_EXIT"
check_contains "and logs why" "Another setup is running" "$(log_text "$(drive_c)/second-silent.log")"
check "nothing installed by it" 0 "$(test -e "$(drive_c)/Second" && echo 1 || echo 0)"
RUN_PID=$FIRST_PID
RUN_OUT=$FIRST_OUT
check "the first goes on" PageWelcome "$(wizard_page)"
drive close --title "$WIZARD_TITLE" >/dev/null
answer_box "$WIZARD_TITLE" OK
end_win 30
check "the first ends as closed" 1602 "$RUN_EXIT"
stop_server

step "close on the welcome page: Cancel, then OK"
start_wizard "$WORK/wizard_cancel.out"
choose_language
expect_page PageWelcome
drive close --title "$WIZARD_TITLE" >/dev/null
check "the question" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
screenshot cancel-question
answer_box "$WIZARD_TITLE" Cancel
soon 10 1 eval 'no_box "$WIZARD_TITLE" && echo 1'
check "Cancel keeps the wizard on its page" PageWelcome "$(wizard_page)"
drive key --title "$WIZARD_TITLE" --key escape >/dev/null
check "Esc asks the same question" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" OK
end_win 30
check "exit code" 1602 "$RUN_EXIT"
check "no run began" "" "$(wizard_log | grep '^Run starts')"
stop_server

use_prefix wizard_cancel_running fresh
step "close during the installation, held by a player that ignores the close request"
RELEASE=$(drive_c)/release-player
"$WINE" "$STUBBORN_EXE" TKIVOMainForm 'C:\release-player' 120000 >/dev/null 2>&1 &
PLAYER=$!
drive wait --class TKIVOMainForm --timeout 20000 >/dev/null 2>&1 || fail "the stubborn player has no window"
start_wizard "$WORK/wizard_cancel_running.out"
choose_language
expect_page PageWelcome
# Keyboard only: Enter on Next, the licence box by its mnemonic, Enter again.
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageLicense
drive key --title "$WIZARD_TITLE" --mnemonic a >/dev/null
answer_box "$WIZARD_TITLE" OK || fail "no E6 warning after Alt+A"
check_soon "the mnemonic ticked the box" 1 eval 'has_flag "$(lng PageLicense L1)" C && echo 1'
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageSetup
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageIntegration
drive key --title "$WIZARD_TITLE" --key enter >/dev/null
expect_page PageReadyToInstall
click_button "$(lng Common bInstall)"
expect_page PageInstall
soon 30 1 eval 'wizard_log | grep -q "^Closing a window of class TKIVOMainForm" && echo 1' ||
  fail "the close pass never asked the player"
drive close --title "$WIZARD_TITLE" >/dev/null
check "the question during the run" "${QM//\\n/\\r\\n}" "$(box_text "$WIZARD_TITLE")"
answer_box "$WIZARD_TITLE" Cancel
soon 10 1 eval 'no_box "$WIZARD_TITLE" && echo 1'
check "Cancel: the run goes on" PageInstall "$(wizard_page)"
drive close --title "$WIZARD_TITLE" >/dev/null
box_text "$WIZARD_TITLE" >/dev/null || fail "no question the second time"
screenshot cancel-running
answer_box "$WIZARD_TITLE" OK
end_win 60
check "exit code" 1602 "$RUN_EXIT"
touch "$RELEASE"
wait "$PLAYER" 2>/dev/null
LOG=$(wizard_log)
check_contains "E4 in the error list" "Error: $E4" "$LOG"
check "no further action ran (no files)" 0 "$(test -e "$(drive_c)/Program Files (x86)/KIVO/KIVO.exe" && echo 1 || echo 0)"
MS=$(log_ms "Wizard: the user cancelled" "Run cancelled")
check_true "the run stopped within a second of the confirmation (${MS:-no end} ms)" test "${MS:-99999}" -lt 1000
check "no failure page flashed before the end" "" "$(grep '^Wizard: page PageFinish' <<<"$LOG")"
check "no finish action" "" "$(grep '^Finish action' <<<"$LOG")"
stop_server

use_prefix wizard_cancel_hung fresh
step "close during the installation, held by a player hanging in its close request"
PLAYER_EXE=$(winpath "${KIVO_HELPER_DIR:?}/../sample/KIVO.exe")
"$WINE" "$PLAYER_EXE" /hang >/dev/null 2>&1 &
drive wait --class TKIVOMainForm --timeout 20000 >/dev/null 2>&1 || fail "the sample player has no window"
start_wizard "$WORK/wizard_cancel_hung.out" '/AUTO=C:\KIVO'
expect_page PageInstall 30
soon 30 1 eval 'wizard_log | grep -q "^Closing a window of class TKIVOMainForm" && echo 1' ||
  fail "the close pass never asked the player"
drive close --title "$WIZARD_TITLE" >/dev/null
box_text "$WIZARD_TITLE" >/dev/null || fail "no question during the hung close pass"
answer_box "$WIZARD_TITLE" OK
# The window still answers while the worker stops (it is not waiting in the close question).
drive state --title "$WIZARD_TITLE" --timeout 2000 >/dev/null 2>&1 || check_true "the window is gone already" test -z "$(drive list | grep -F "$WIZARD_TITLE")"
end_win 60
check "exit code" 1602 "$RUN_EXIT"
MS=$(log_ms "Wizard: the user cancelled" "Run cancelled")
check_true "the hung close pass stopped within a second of the confirmation (${MS:-no end} ms)" test "${MS:-99999}" -lt 1000
check "nothing installed" 0 "$(test -e "$(drive_c)/KIVO/KIVO.exe" && echo 1 || echo 0)"
# The hung player never ends by itself.
"$WINESERVER" -k 2>/dev/null
finish
