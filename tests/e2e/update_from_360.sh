#!/usr/bin/env bash
# An update of version 3.60, per-user, whose profiles still use the "KIVO3" names:
#   Setup.exe /AUTO=C:\KIVO3 /SILENT /LOG=C:\update.log
# Each account's "KIVO3" profile is archived, copied to the new "KIVO" folder with the
# version-3 names changed, and removed from its old place; "KIVO3.ini" of the program
# folder becomes "KIVO.ini"; the old menu library, skins and plug-ins go; the shortcuts
# and start-menu folders of both names and the old uninstall entry go.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix update360 fresh
fixture_accounts
fixture_360 KIVO3
C=$(drive_c)
DEST=$C/KIVO3
fixture_snapshot update360 "Program=$DEST" "Profiles/root=$(fixture_roaming root)/KIVO3" \
  "Profiles/alice=$(fixture_roaming alice)/KIVO3"

step "Setup.exe /AUTO=C:\\KIVO3 /SILENT /LOG=C:\\update.log"
run_win "$WORK/update360.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO3' /SILENT '/LOG=C:\update.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$C/update.log")
check_contains "log: an update" "Update" "$(grep '^Run starts' <<<"$LOG")"

step "the backup"
NEW=$(cd "$DEST/!Backup" && ls | grep -E '^z Before install 5\.10 \[.*\]\.zip$')
check "one new archive" 1 "$(grep -c . <<<"$NEW")"
[ -n "$NEW" ] && check_true "archive = the 3.60 installation and both KIVO3 profiles" \
  fixture_check_archive "$DEST/!Backup/$NEW" "$FIXTURE_REF/update360"

step "the profiles, moved and renamed"
for who in root alice; do
  OLD=$(fixture_roaming $who)/KIVO3
  NEWP=$(fixture_roaming $who)/KIVO
  REF=$FIXTURE_REF/update360/Profiles/$who
  check "$who: the KIVO3 folder is gone" "" "$(ls -d "$OLD" 2>/dev/null)"
  check_same_file "$who: KIVO3.ini -> KIVO.ini" "$REF/KIVO3.ini" "$NEWP/KIVO.ini"
  check_same_file "$who: KIVO3-cat.db -> KIVO-cat.db" "$REF/KIVO3-cat.db" "$NEWP/KIVO-cat.db"
  check_same_file "$who: kivo3_menu.ini -> KIVO-ContextMenu.ini" "$REF/kivo3_menu.ini" "$NEWP/KIVO-ContextMenu.ini"
  check_same_file "$who: KIVO3ac.ini -> KIVOac.ini" "$REF/KIVO3ac.ini" "$NEWP/KIVOac.ini"
  check_same_file "$who: KIVO3ate.ini -> KIVOate.ini" "$REF/KIVO3ate.ini" "$NEWP/KIVOate.ini"
  check_same_file "$who: AlbumArtsForURLs.db -> AlbumArts.Custom.db" "$REF/AlbumArtsForURLs.db" "$NEWP/AlbumArts.Custom.db"
  check_same_file "$who: playlist" "$REF/Playlists/Rock.kpl" "$NEWP/Playlists/Rock.kpl"
  check "$who: the dropped files are gone" "AlbumArts.Custom.db|KIVO-ContextMenu.ini|KIVO-cat.db|KIVO.ini|KIVOac.ini|KIVOate.ini|Playlists|" \
    "$(ls "$NEWP" | tr '\n' '|')"
done
check "the damaged profile's KIVO3 folder untouched" "2" "$(find "$(fixture_roaming alice.damaged)" -type f | wc -l)"

step "the program folder"
check "KIVO3.ini gone" "" "$(ls "$DEST/KIVO3.ini" 2>/dev/null)"
INI=$(fixture_ini_text "$DEST/KIVO.ini")
check "KIVO.ini: version 5.10" "Version=5100" "$(grep "^Version=" <<<"$INI")"
# The renamed KIVO3.ini keeps what the player stored in it.
check "KIVO.ini: the old settings kept" "Volume=70" "$(grep "^Volume=" <<<"$INI")"
for gone in System/kivo_menu32.dll Skins/Nightfall.skin Skins/Nightfall.bmp Plugins/CDPlayer Plugins/RadioTuner \
  Plugins/SkinConverter Plugins/WaveOutput Plugins/LyricsClassic Plugins/CoverFetcher Plugins/TagsLegacy; do
  check "gone: $gone" "" "$(ls -d "$DEST/$gone" 2>/dev/null)"
done
check_same_file "kept: the user's plug-in" "$FIXTURE_REF/update360/Program/Plugins/Lyrics.dll" "$DEST/Plugins/Lyrics.dll"
check_same_file "kept: the user's skin" "$FIXTURE_REF/update360/Program/Skins/Blue.skin" "$DEST/Skins/Blue.skin"

step "shortcuts and uninstall entries"
START="$(fixture_roaming root)/Microsoft/Windows/Start Menu"
COMMON="$C/ProgramData/Microsoft/Windows/Start Menu"
for name in KIVO KIVO3; do
  for gone in "$C/users/root/Desktop/$name.lnk" "$C/users/Public/Desktop/$name.lnk" "$START/$name" \
    "$COMMON/Programs/$name" "$COMMON/$name"; do
    check "gone: ${gone#$C/}" "" "$(ls -d "$gone" 2>/dev/null)"
  done
done
REG=$(tr -d '\r' <"$WINEPREFIX/system.reg")
check "the KIVO3 entry is gone" "" "$(grep -F 'Uninstall\\KIVO3]' <<<"$REG")"
# The new entry is registered under "KIVO" for this folder.
check_contains "the KIVO entry names C:\\KIVO3" '"InstallPath"="C:\\KIVO3\\"' \
  "$(sed -n '/Uninstall\\\\KIVO\]/,/^$/p' <<<"$REG")"
check_contains "log: migrated" 'Migrated: C:\KIVO3\KIVO3.ini -> C:\KIVO3\KIVO.ini' "$LOG"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"
finish
