#!/usr/bin/env bash
# An update while an obsolete program of the old installation is running (so it can be
# renamed but not deleted, as Windows treats a running executable): the update succeeds,
# the file leaves its folder for a "delete" name in a private folder of the system's
# temporary folder, and it is scheduled for deletion at the next restart there.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix locked fresh
fixture_accounts
fixture_460 KIVO
C=$(drive_c)
DEST=$C/KIVO
RUNNING=$DEST/Plugins/AutoUpdate/Updater.exe
cp "$(helper file_holder.exe)" "$RUNNING"
fixture_file "$C/e2e/held.txt" "held"
SYSTEM_TEMP=$C/windows/temp
moved_files() { find "$SYSTEM_TEMP" -path '*/KIVO Setup */delete *' -type f 2>/dev/null | sort; }
BEFORE=$(moved_files)

step "Updater.exe runs"
"$WINE" 'C:\KIVO\Plugins\AutoUpdate\Updater.exe' 'C:\e2e\held.txt' read 'C:\e2e\ready' 'C:\e2e\release' 120000 \
  >/dev/null 2>&1 </dev/null &
HOLDER=$!
for _ in $(seq 100); do [ -f "$C/e2e/ready" ] && break; sleep 0.1; done
[ -f "$C/e2e/ready" ] || fatal "the updater stand-in did not start"

step "Setup.exe /AUTO=C:\\KIVO /SILENT /LOG=C:\\update.log"
run_win "$WORK/locked.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update.log'
check "exit code" 0 "$RUN_EXIT"
LOG=$(log_text "$C/update.log")
check "the running file left its folder" "" "$(ls "$RUNNING" 2>/dev/null)"
MOVED=$(comm -13 <(echo "$BEFORE") <(moved_files))
check "one new \"delete\" file in a private folder" 1 "$(grep -c . <<<"$MOVED")"
[ -n "$MOVED" ] && check_same_file "it is the running file" "$(helper file_holder.exe)" "$(head -n1 <<<"$MOVED")"
touch "$C/e2e/release"
wait "$HOLDER"
stop_server
# Wine keeps the list as a string list value: "\??\<moved file>\0\0" (no new name: delete).
PENDING=$(tr -d '\r' <"$WINEPREFIX/system.reg" | grep -i '^"PendingFileRenameOperations"=')
MOVED_NAME=$(basename "$(head -n1 <<<"$MOVED")")
check_contains "scheduled for deletion at restart, in the private folder" "\\$MOVED_NAME\\0\\0" "$PENDING"
check_contains "scheduled: the private folder" "\\\\windows\\\\temp\\\\KIVO Setup " "$PENDING"
check_contains "log: moved away" 'In use, moved aside until restart: C:\KIVO\Plugins\AutoUpdate\Updater.exe -> C:\windows\temp\KIVO Setup ' "$LOG"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"
finish
