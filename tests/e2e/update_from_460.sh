#!/usr/bin/env bash
# An update of version 4.60, per-user, with two accounts that have profiles:
#   Setup.exe /AUTO=C:\KIVO /SILENT /LOG=C:\update.log
# The previous installation and both profiles end up in a backup archive that outside
# readers accept byte for byte; what an update keeps stays, the rest is replaced or
# gone; the profiles are migrated; the old backups are cut to three; entries of other
# installations and accounts outside this run stay untouched.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix update460 fresh
fixture_accounts
fixture_460 KIVO
C=$(drive_c)
DEST=$C/KIVO
ROOT_PROFILE=$(fixture_roaming root)/KIVO
ALICE_PROFILE=$(fixture_roaming alice)/KIVO
# An undone run's archive that holds the only copy of a profile's files: never rotated away,
# though its name sorts first.
echo zip >"$DEST/!Backup/z Before install 4.00 [2020.01.01 10-00-00] (kept).zip"
fixture_snapshot update460 "Program=$DEST" "Profiles/root=$ROOT_PROFILE" "Profiles/alice=$ALICE_PROFILE"
BOB_BEFORE=$(cd "$(fixture_roaming bob)" && find . -type f -exec md5sum {} + | sort)

step "Setup.exe /AUTO=C:\\KIVO /SILENT /LOG=C:\\update.log"
run_win "$WORK/update460.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$C/update.log")
check_contains "log: an update" "Update" "$(grep '^Run starts' <<<"$LOG")"

step "the backup"
ARCHIVES=$(cd "$DEST/!Backup" && ls)
NEW=$(grep -E '^z Before install 5\.10 \[[0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}\]\.zip$' <<<"$ARCHIVES")
check "one new archive named after the version and the time" 1 "$(grep -c . <<<"$NEW")"
check "the three newest by name stay, the note and the kept archive too" \
  "notes.txt|z Before install 4.00 [2020.01.01 10-00-00] (kept).zip|z Before install 4.55 [2022.06.01 10-00-00].zip|z Before install 4.60 [2023.01.01 10-00-00].zip|$NEW" \
  "$(tr '\n' '|' <<<"$ARCHIVES" | sed 's/|$//')"
if [ -n "$NEW" ]; then
  check_true "archive = the old installation and both profiles, less caches and updater" \
    fixture_check_archive "$DEST/!Backup/$NEW" "$FIXTURE_REF/update460"
  NAMES=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$DEST/!Backup/$NEW")
  check_contains "Profiles\\root\\ entry" 'Profiles\root\Playlists\Любимое.kpl' "$NAMES"
  check_contains "Profiles\\alice\\ entry" 'Profiles\alice\KIVO.ini' "$NAMES"
  check_contains "Program\\ entry" 'Program\Plugins\CoverFetcher\CoverFetcher.dll' "$NAMES"
  check "no cache archived" "" "$(grep -iE 'AlbumArtCache\.db|AlbumArts\.db|AlbumArts\.cache|UpdateInstaller' <<<"$NAMES")"
  check "no earlier backup archived" "" "$(grep -F '!Backup' <<<"$NAMES")"
fi
check "no partial archive left" "" "$(ls "$DEST/!Backup" | grep -F '.part')"

step "the program folder"
for kept in "Icons/My Icon.ico" "System/Data/MyPresets.ini" "System/Encoders/lame.ini" "Skins/Blue.skin" \
  "Plugins/Lyrics.dll" "Plugins/CDPlayer/CDPlayer.dll"; do
  check_same_file "kept: $kept" "$FIXTURE_REF/update460/Program/$kept" "$DEST/$kept"
done
for gone in Plugins/CoverFetcher Plugins/TagsLegacy Plugins/AutoUpdate Plugins/Diagnostics UpdateInstaller.exe \
  Manual.txt Langs/Français.lng; do
  check "gone: $gone" "" "$(ls -d "$DEST/$gone" 2>/dev/null)"
done
check_same_file "KIVO.exe is the new one" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$DEST/KIVO.exe"
check_same_file "System\\Data\\Equalizer.ini is the new one" "$KIVO_PRODUCT_STAGE/System/Data/Equalizer.ini" \
  "$DEST/System/Data/Equalizer.ini"
# The old one is in the archive; the new one carries over the integration choices.
INI=$(fixture_ini_text "$DEST/KIVO.ini")
check "KIVO.ini: the new version, per-user" "UserMode=1|Version=5100" "$(grep -E '^(Version|UserMode)=' <<<"$INI" | tr '\n' '|' | sed 's/|$//')"
check "KIVO.ini: the integration choices carried over" "ShortcutDesktop=1" "$(grep '^ShortcutDesktop=' <<<"$INI")"

step "the profiles"
for profile in "$ROOT_PROFILE" "$ALICE_PROFILE"; do
  who=$(basename "$(dirname "$(dirname "$(dirname "$profile")")")")
  check "$who: AlbumArtCache.db gone" "" "$(ls "$profile/AlbumArtCache.db" 2>/dev/null)"
  check "$who: AlbumArtsForURLs.db renamed" "covers of streams" "$(tr -d '\r' <"$profile/AlbumArts.Custom.db" 2>/dev/null)"
  check "$who: no AlbumArtsForURLs.db" "" "$(ls "$profile/AlbumArtsForURLs.db" 2>/dev/null)"
  check_same_file "$who: settings kept" "$FIXTURE_REF/update460/Profiles/$who/KIVO.ini" "$profile/KIVO.ini"
  check_same_file "$who: playlist kept" "$FIXTURE_REF/update460/Profiles/$who/Playlists/Любимое.kpl" \
    "$profile/Playlists/Любимое.kpl"
done
check "bob's profile of version 3 untouched" "$BOB_BEFORE" "$(cd "$(fixture_roaming bob)" && find . -type f -exec md5sum {} + | sort)"
check "the damaged profile untouched" "2" "$(find "$(fixture_roaming alice.damaged)" -type f | wc -l)"

step "registry and log"
REG=$(tr -d '\r' <"$WINEPREFIX/system.reg")
check_contains "the other installation's entry stays" 'Uninstall\\KIVO3]' "$REG"
check_contains "log: archived" 'Archived: C:\KIVO\Manual.txt as Program\Manual.txt' "$LOG"
check_contains "log: kept" 'Kept: C:\KIVO\Skins\Blue.skin' "$LOG"
check_contains "log: deleted" 'Deleted: C:\KIVO\Plugins\AutoUpdate\AutoUpdate.dll' "$LOG"
check_contains "log: migrated" "Migrated: $(printf 'C:\\users\\root\\AppData\\Roaming\\KIVO\\AlbumArtsForURLs.db')" "$LOG"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"
finish
