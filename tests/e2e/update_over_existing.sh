#!/usr/bin/env bash
# A new installation over one this setup cannot update (version 3.40), backup on:
#   Setup.exe /AUTO=C:\KIVO /SILENT /LOG=C:\install.log
# Everything of the old installation and every account's "KIVO3" profile is archived,
# then deleted: afterwards the folder holds the new version's files only, and no old
# profile is left in place.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix over340 fresh
fixture_accounts
fixture_340 KIVO
C=$(drive_c)
DEST=$C/KIVO
fixture_snapshot over340 "Program=$DEST" "Profiles/root=$(fixture_roaming root)/KIVO3" \
  "Profiles/alice=$(fixture_roaming alice)/KIVO3"

step "Setup.exe /AUTO=C:\\KIVO /SILENT /LOG=C:\\install.log"
run_win "$WORK/over340.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\install.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$C/install.log")
check "log: no update" "" "$(grep '^Run starts' <<<"$LOG" | grep -F Update)"

step "everything archived"
NEW=$(cd "$DEST/!Backup" && ls | grep -E '^z Before install 5\.10 \[.*\]\.zip$')
check "one new archive" 1 "$(grep -c . <<<"$NEW")"
[ -n "$NEW" ] && check_true "archive = the whole old installation and both profiles" \
  fixture_check_archive "$DEST/!Backup/$NEW" "$FIXTURE_REF/over340"

step "then deleted"
for who in root alice; do
  check "$who: no KIVO3 profile left" "" "$(ls -d "$(fixture_roaming $who)/KIVO3" 2>/dev/null)"
done
# What is there now: the new version's files (from the stage folder), the uninstaller,
# KIVO.ini, the log that the new registration program writes when the integration runs
# it, and the backups; nothing of the old installation.
STAGE_FILES=$(cd "$KIVO_PRODUCT_STAGE" && find . -type f | sed 's|^\./||')
LEFT=$(cd "$DEST" && find . -path './!Backup' -prune -o -type f -print | sed 's|^\./||' | sort)
OLD_LEFT=$(while IFS= read -r f; do
  case "$f" in Uninstall.exe | Uninstall.dat | KIVO.ini | Elevator.log | Readme.txt | License.txt) continue ;; esac
  grep -qxF "$f" <<<"$STAGE_FILES" || echo "$f"
done <<<"$LEFT")
check "no file of the old installation left" "" "$OLD_LEFT"
check_same_file "KIVO.exe is the new one" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$DEST/KIVO.exe"
check "three archives left" 3 "$(ls "$DEST/!Backup" | grep -c '\.zip$')"
REG=$(tr -d '\r' <"$WINEPREFIX/system.reg")
check "the KIVO3 entry of this folder is gone" "" "$(grep -F 'Uninstall\\KIVO3]' <<<"$REG")"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"
finish
