#!/usr/bin/env bash
# An update of a portable 4.60 installation, its profile in "Profile\":
#   Setup.exe /AUTO=C:\KIVO Portable /SILENT /LOG=C:\update.log
# The archive names are paths inside the program folder (no "Program\" or "Profiles\"),
# the profile stays in place with its caches migrated, no account's data is touched,
# and none of the removal tasks runs (the other installations' entries stay).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix portable fresh
fixture_accounts
fixture_460 'KIVO Portable' portable
fixture_profile "$(fixture_roaming root)/KIVO"  # an installed copy's profile: not this run's
C=$(drive_c)
DEST="$C/KIVO Portable"
fixture_snapshot portable ".=$DEST"
ROOT_BEFORE=$(cd "$(fixture_roaming root)/KIVO" && find . -type f -exec md5sum {} + | sort)

step "Setup.exe \"/AUTO=C:\\KIVO Portable\" /SILENT /LOG=C:\\update.log"
run_win "$WORK/portable.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO Portable' /SILENT '/LOG=C:\update.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$C/update.log")
check_contains "log: a portable update" "Portable, Update" "$(grep '^Run starts' <<<"$LOG")"

NEW=$(cd "$DEST/!Backup" && ls | grep -E '^z Before install 5\.10 \[.*\]\.zip$')
check "one new archive" 1 "$(grep -c . <<<"$NEW")"
[ -n "$NEW" ] && check_true "archive = the portable folder, names relative to it" \
  fixture_check_archive "$DEST/!Backup/$NEW" "$FIXTURE_REF/portable"
check_same_file "Profile\\KIVO.ini stays" "$FIXTURE_REF/portable/Profile/KIVO.ini" "$DEST/Profile/KIVO.ini"
check_same_file "Profile\\AlbumArtsForURLs.db -> AlbumArts.Custom.db" "$FIXTURE_REF/portable/Profile/AlbumArtsForURLs.db" \
  "$DEST/Profile/AlbumArts.Custom.db"
check "Profile\\AlbumArtCache.db gone" "" "$(ls "$DEST/Profile/AlbumArtCache.db" 2>/dev/null)"
check "the account's own profile untouched" "$ROOT_BEFORE" "$(cd "$(fixture_roaming root)/KIVO" && find . -type f -exec md5sum {} + | sort)"
check "no removal task ran" "" "$(grep -E '^Update task: TInstallerUpdateTaskRemove' <<<"$LOG")"
check "KIVO.ini: portable" "UserMode=0" "$(fixture_ini_text "$DEST/KIVO.ini" | grep '^UserMode=')"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"
finish
