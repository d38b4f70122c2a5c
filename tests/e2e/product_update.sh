#!/usr/bin/env bash
# An update over version 4.60 on Windows 7, as a deployment tool runs it:
#   Setup.exe /AUTO=C:\KIVO /SILENT /LOG=C:\update.log
# (the installed 4.60 makes it an update; "/UPDATE" takes no "/SILENT" and so needs the
# wizard's window).
# Four actions (close, prepare, extract, configuration): the user's integration and
# shortcuts are not redone, and before Windows 10 the shell caches are not refreshed.
# /UPDATE over a folder without an installation fails with 1603.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix product-update fresh
set_windows_version win7
fixture_460 KIVO
DEST=$(drive_c)/KIVO
# The 4.60 registration program is a stand-in file; the new one logs every start.
rm -f "$DEST/Elevator.log"
shortcuts_before=$(ls "$(common_desktop)" "$(common_programs)" 2>/dev/null | md5sum)

step "Windows 7: Setup.exe /AUTO=C:\\KIVO /SILENT /LOG=C:\\update.log"
run_win "$WORK/product-update.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update.log'
stop_server
LOG=$(log_text "$(drive_c)/update.log" 2>/dev/null)
check "exit code" 0 "$RUN_EXIT"
check_contains "an update" 'Update' "$(grep '^Run starts' <<<"$LOG")"
check "four actions" "CloseApplications Prepare Extract Config" "$(action_order "$LOG")"
check "the registration program was not run" "" "$(ls "$DEST/Elevator.log" 2>/dev/null)"
check "no shortcut made or changed" "$shortcuts_before" \
  "$(ls "$(common_desktop)" "$(common_programs)" 2>/dev/null | md5sum)"
check_contains "KIVO.ini: the new version" 'Version=5100' "$(iconv -f UTF-16 -t UTF-8 "$DEST/KIVO.ini" | tr -d '\r')"
check "log: last entry" 'Exit code: 0' "$(tail -n1 <<<"$LOG")"

step "/UPDATE where nothing is installed: 1603"
mkdir -p "$(drive_c)/Empty"
run_win "$WORK/product-update-none.out" "$(winpath "$(helper run_in_station.exe)")" 40000 "$(winpath "$SETUP_EXE")" \
  '/AUTO=C:\Empty' /UPDATE '/LOG=C:\none.log'
stop_server
check "exit code" 1603 "$RUN_EXIT"
check "nothing installed" "" "$(ls "$(drive_c)/Empty")"
finish
