#!/usr/bin/env bash
# An update while an obsolete program of the old installation is running (so it can be
# renamed but not deleted, as Windows treats a running executable): the update succeeds,
# the file leaves its folder for a "delete" name in a private folder of the system's
# temporary folder, and it is scheduled for deletion at the next restart there.
# Then a file held open that the update must replace (held without leave to rename, so
# the run ends with "Abort" on a hidden window station): five runs in a row, as a
# deployment tool retries, each fail with 1603 and each is undone: the installation,
# its settings and its backups are exactly as before, and once the file is released the
# update succeeds.
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
wait_for_file "$C/e2e/ready"
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
check_contains "scheduled: the private folder" "\\\\windows\\\\Temp\\\\KIVO Setup " "$PENDING"
# Kept aside in the program folder during the run, then off to the private folder.
check_contains "log: moved away" 'Plugins\AutoUpdate\Updater.exe -> C:\windows\Temp\KIVO Setup ' \
  "$(grep -F 'In use, moved aside until restart: C:\KIVO\~KIVO Setup ' <<<"$LOG")"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"

step "five runs with a held file, as a deployment tool retries"
use_prefix locked-retry fresh
C=$(drive_c)
DEST=$C/KIVO
fixture_accounts
fixture_460 KIVO
fixture_old_backups "$DEST"
fixture_snapshot retry "Program=$DEST" "Profiles/root=$(fixture_roaming root)/KIVO"
ARCHIVES=$(ls "$DEST/!Backup")
rm -f "$C/e2e/ready2" "$C/e2e/release2"
cp "$(helper file_holder.exe)" "$C/e2e/holder.exe"
"$WINE" 'C:\e2e\holder.exe' 'C:\KIVO\Langs\English.lng' read 'C:\e2e\ready2' 'C:\e2e\release2' 600000 \
  >/dev/null 2>&1 </dev/null &
HOLDER=$!
wait_for_file "$C/e2e/ready2"
[ -f "$C/e2e/ready2" ] || fatal "the holder did not start"
for run in 1 2 3 4 5; do
  start_win "$WORK/retry$run.out" "$(winpath "$(helper run_in_station.exe)")" 60000 "$(winpath "$SETUP_EXE")" \
    '/AUTO=C:\KIVO' /SILENT "/LOG=C:\\retry$run.log"
  end_win 70
  check "run $run: exit code" 1603 "$RUN_EXIT"
  check "run $run: the program folder is as before" "" \
    "$(diff -r -x '!Backup' "$FIXTURE_REF/retry/Program" "$DEST" 2>&1)"
  # (Caches are deleted without a backup, by design.)
  check "run $run: the profile is as before" "" \
    "$(diff -r -x AlbumArtCache.db "$FIXTURE_REF/retry/Profiles/root" "$(fixture_roaming root)/KIVO" 2>&1)"
  check "run $run: the backups are as before" "$ARCHIVES" "$(ls "$DEST/!Backup")"
done
RETRY=$(log_text "$C/retry5.log")
check_contains "log: the run is undone" 'The run did not complete: undoing its actions' "$RETRY"
check_contains "log: the old files come back" 'Restored: C:\KIVO\KIVO.exe' "$RETRY"
# On a desktop someone sees, the question comes in the setup's own box: Abort undoes the run.
start_win "$WORK/retry-asked.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\retry-asked.log'
if QUESTION=$(drive texts --class TZELMessageForm --title 'KIVO Setup' --timeout 60000); then
  check_contains "asked: the box names the file" 'C:\KIVO\Langs\English.lng' "$QUESTION"
  drive click --class TZELMessageForm --title 'KIVO Setup' --button '&Abort' >/dev/null || fail "asked: could not click Abort"
  answer_setup_box "asked: the failure" && check_contains "asked: the failure says nothing changed" \
    'Nothing was changed: the previous installation is in place' "$BOX_TEXT"
else
  fail "asked: no question in the setup's box ($QUESTION)"
  visible_windows
fi
end_win 60
check "asked: Abort ends the run with 1603" 1603 "$RUN_EXIT"
check "asked: the program folder is as before" "" "$(diff -r -x '!Backup' "$FIXTURE_REF/retry/Program" "$DEST" 2>&1)"
touch "$C/e2e/release2"
wait "$HOLDER"
run_win "$WORK/retry-final.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\retry-final.log'
check "released: the update succeeds" 0 "$RUN_EXIT"
check_same_file "released: the new version is in place" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$DEST/KIVO.exe"
check "released: no kept files are left behind" "" "$(ls -d "$DEST"/~KIVO\ Setup* 2>/dev/null)"
check "released: the user's plug-in stays" "a plug-in the user added" "$(tr -d '\r' <"$DEST/Plugins/Lyrics.dll")"
finish
