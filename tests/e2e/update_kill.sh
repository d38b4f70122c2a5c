#!/usr/bin/env bash
# Setup.exe killed (wineserver -k) at several points of an update of 4.60 with two
# profiles: during the backup, as the backup is done, during the clean-up, during the
# extraction, once the new uninstall entry is registered, and at a few fixed delays. After
# each kill, every file of the old installation and of both profiles is either in place or
# in a complete archive; after some kills a second run completes the update, having first
# undone what the killed run left, and that still holds.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

# kill_at NAME PATTERN|DELAY: a fresh 4.60 installation, the update started, killed when
# the run log first holds a line matching PATTERN (or after DELAY seconds).
kill_at() {
  local name=$1 when=$2 deadline=$((SECONDS + 120))
  use_prefix "kill-$name" fresh
  fixture_accounts
  fixture_460 KIVO
  # Something that takes the backup a while: incompressible data.
  head -c $((48 * 1024 * 1024)) /dev/urandom >"$(drive_c)/KIVO/Video.bin"
  fixture_snapshot "kill-$name" "Program=$(drive_c)/KIVO" "Profiles/root=$(fixture_roaming root)/KIVO" \
    "Profiles/alice=$(fixture_roaming alice)/KIVO"
  LOGFILE=$(drive_c)/update.log
  start_win "$WORK/kill-$name.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update.log'
  if [[ "$when" =~ ^[0-9.]+$ ]]; then
    sleep "$when"
  else
    while ! grep -qaE "$when" "$LOGFILE" 2>/dev/null && [ $SECONDS -lt $deadline ] && kill -0 "$RUN_PID" 2>/dev/null; do
      sleep 0.02
    done
  fi
  "$WINESERVER" -k 2>/dev/null
  wait "$RUN_PID" 2>/dev/null
  LAST=$(log_text "$LOGFILE" 2>/dev/null | grep -aE '^(Archived|Backup|Update task|Deleted|Kept|Action|Run ended|Folder)' |
    tail -n1 | cut -c1-70)
  note "killed after: ${LAST:-nothing logged}"
}

# no_loss NAME: the check of kill_check.py for the prefix of kill_at NAME.
no_loss() {
  local out
  out=$(python3 "$(dirname "$0")/../fixtures/kill_check.py" "$(drive_c)/KIVO/!Backup" "$FIXTURE_REF/kill-$1" \
    "Program=$(drive_c)/KIVO" "Profiles/root=$(fixture_roaming root)/KIVO" "Profiles/alice=$(fixture_roaming alice)/KIVO")
  local status=$?
  echo "$out"
  check "$1: nothing lost" 0 "$status"
}

for point in 'ahead=The new files are written ahead into' 'backup=^.{25}Archived: C:\\users\\alice' \
  'backup-done=^.{25}Backup: ' 'cleanup=^.{25}Deleted: ' \
  'extraction=Noted for an undo: the [0-9]+ files this run makes' 'registered=Registered the uninstall entry' \
  'at-0.5s=0.5' 'at-1.5s=1.5' 'at-3s=3'; do
  step "killed: ${point%%=*}"
  kill_at "${point%%=*}" "${point#*=}"
  no_loss "${point%%=*}"
  case "${point%%=*}" in ahead | cleanup | extraction | registered) ;; *) stop_server ;; esac
done

step "after the kill while the new files were written ahead, the next run deletes them"
use_prefix kill-ahead
AHEAD=$(ls -d "$(drive_c)"/KIVO/~KIVO\ Setup\ * 2>/dev/null)
check "the killed run's folder of new files is there" 1 "$(grep -c . <<<"$AHEAD")"
run_win "$WORK/kill-ahead-rerun.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update4.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
check_contains "the killed run's folder removed" "Folder removed: C:\KIVO\\${AHEAD##*/}" \
  "$(log_text "$(drive_c)/update4.log" 2>/dev/null)"
check "no run folder left" "" "$(ls -d "$(drive_c)"/KIVO/~KIVO* 2>/dev/null)"
check_same_file "the new version is in place" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$(drive_c)/KIVO/KIVO.exe"

step "after the kill during the extraction, the next run removes the files the killed run made"
use_prefix kill-extraction
JOURNAL=$(cat "$(drive_c)"/KIVO/~KIVO\ Setup\ */journal.txt 2>/dev/null | tr -d '\r')
MADE=()
while IFS=$'\t' read -r kind path; do
  [ "$kind" == made ] && [ -f "$(drive_c)/KIVO/${path//\\//}" ] && MADE+=("$path")
done <<<"$JOURNAL"
note "${#MADE[@]} files of the killed run on disk"
check "the journal lists the files the run makes" 1 "$(grep -c $'^made\tKIVO.exe$' <<<"$JOURNAL")"
run_win "$WORK/kill-extraction-rerun.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update3.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$(drive_c)/update3.log" 2>/dev/null)
for path in "${MADE[@]}"; do
  check_contains "removed before the run begins again: $path" \
    "Removed (made by the run that did not complete): C:\KIVO\\$path" "$LOG"
done
no_loss extraction

step "after the kill once the new entry was registered, the next run puts the old entry back first"
use_prefix kill-registered
check_contains "the killed run had registered its entry" 'Registered the uninstall entry "KIVO"' \
  "$(log_text "$(drive_c)/update.log" 2>/dev/null)"
run_win "$WORK/kill-registered-rerun.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update5.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
check_contains "the entry as it was before the killed run" 'Uninstall entry as it was (the run did not complete): KIVO' \
  "$(log_text "$(drive_c)/update5.log" 2>/dev/null)"
check_same_file "the new version is in place" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$(drive_c)/KIVO/KIVO.exe"
no_loss registered

step "after the kill during the clean-up, the update once more"
use_prefix kill-cleanup
run_win "$WORK/kill-rerun.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update2.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
check_same_file "the new version is in place" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$(drive_c)/KIVO/KIVO.exe"
no_loss cleanup
finish
