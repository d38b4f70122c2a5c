#!/usr/bin/env bash
# Automatic runs with the window (/AUTO without /SILENT): no language dialog, only the
# install and finish pages. A run that succeeds closes the window itself (exit 0); one
# that fails stays on the finish page with the error list until Finish (exit 1603),
# and runs no finish action.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

FINISH=$(lng Common bFinish)
pages_shown() { sed -n 's/^Wizard: page //p' <<<"$(wizard_log)" | tr '\n' ' ' | sed 's/ $//'; }

use_prefix wizard_auto fresh
step "Setup.exe /AUTO=C:\\KIVO /RUN: succeeds and closes by itself"
start_wizard "$WORK/wizard_auto.out" '/AUTO=C:\KIVO' /RUN
end_win 60
check "exit code" 0 "$RUN_EXIT"
check "only the install page was shown" "PageInstall" "$(pages_shown)"
check_true "no language dialog was shown" bash -c '! grep -q "Select Language" "$1"' _ "$WORK/wizard_auto.out"
check_true "the product is installed" test -f "$(drive_c)/KIVO/KIVO.exe"
# Neither Update nor the finish page's boxes: the actions' default is off.
check "no finish action without Update" "" "$(wizard_log | grep '^Finish action')"
stop_server

use_prefix wizard_auto_failed fresh
echo "a file, not a folder" >"$(drive_c)/blocker"
E3=$(lng Common E3)
step "Setup.exe /AUTO=C:\\blocker\\KIVO: fails and stays on the finish page"
start_wizard "$WORK/wizard_auto_failed.out" '/AUTO=C:\blocker\KIVO'
expect_page PageFinish 60
STATE=$(wizard_state)
MEMO=$(awk -F'\t' '$1 == "Edit" && $3 ~ /V/ { print $4 }' <<<"$STATE")
check_contains "the error list is shown" "${E3/\%s/C:\\blocker\\KIVO\\}" "$MEMO"
check_true "the failure heading" has_flag "$(lng PageFinish E1)" V
check_true "the failure text" has_flag "$(lng PageFinish E2)" V
check "the action boxes are hidden" 0 "$(has_flag "$(lng PageFinish RunProduct)" V && echo 1 || echo 0)"
check_true "Finish is enabled" has_flag "$FINISH" E
screenshot auto-failed-finish
click_button "$FINISH"
end_win 30
check "exit code" 1603 "$RUN_EXIT"
check "the pages" "PageInstall PageFinish" "$(pages_shown)"
check "no finish action after a failure" "" "$(wizard_log | grep '^Finish action')"
finish
