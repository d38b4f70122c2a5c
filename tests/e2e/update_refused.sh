#!/usr/bin/env bash
# An update where there is nothing this setup can update:
#   Setup.exe /AUTO=C:\Empty /UPDATE
# stops before any work with one "Setup" message box, "Cannot install update on v0.00",
# and the exit code 1603 once the box is answered; the folder stays empty.
source "$(dirname "$0")/lib.sh"
need_display "$@"

use_prefix update fresh
mkdir -p "$(drive_c)/Empty"

step "Setup.exe /AUTO=C:\\Empty /UPDATE /LOG=C:\\update.log"
start_win "$WORK/update.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Empty' /UPDATE '/LOG=C:\update.log'
if answer_setup_box "refused update"; then
  check "message" 'Cannot install update on v0.00' "$BOX_TEXT"
fi
end_win 30
check "exit code" 1603 "$RUN_EXIT"
stop_server

check "C:\\Empty is still empty" "" "$(ls -A "$(drive_c)/Empty")"
LOG=$(log_text "$(drive_c)/update.log" 2>/dev/null)
check "log: the error" 'Setup error: Cannot install update on v0.00' "$(grep '^Setup error:' <<<"$LOG")"
check "log: no run started" "" "$(grep -E '^(Run starts|Action )' <<<"$LOG")"
check "log: last entry" 'Exit code: 1603' "$(tail -n1 <<<"$LOG")"
finish
