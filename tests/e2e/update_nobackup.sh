#!/usr/bin/env bash
# An update of 4.60 without a backup:
#   Setup.exe /AUTO=C:\KIVO /SILENT /NOBACKUP /LOG=C:\update.log
# No archive and no backup status; the old installation's files stay, except the old
# backups beyond three, the obsolete plug-ins and the files of the new version.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix nobackup fresh
fixture_accounts
fixture_460 KIVO
C=$(drive_c)
DEST=$C/KIVO
fixture_snapshot nobackup "Program=$DEST"

step "Setup.exe /AUTO=C:\\KIVO /SILENT /NOBACKUP /LOG=C:\\update.log"
run_win "$WORK/nobackup.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT /NOBACKUP '/LOG=C:\update.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$C/update.log")

check "no new archive" "" "$(ls "$DEST/!Backup" | grep -F '5.10')"
check "no backup status" "" "$(grep -F 'Status: Backing up' <<<"$LOG")"
check "the oldest backup by name went, three stay" \
  "z Before install 4.50 [2022.01.01 10-00-00].zip|z Before install 4.55 [2022.06.01 10-00-00].zip|z Before install 4.60 [2023.01.01 10-00-00].zip" \
  "$(ls "$DEST/!Backup" | grep '\.zip$' | tr '\n' '|' | sed 's/|$//')"
# Everything that is neither obsolete nor replaced is where it was, byte for byte.
COMPONENTS=$(cd "$KIVO_PRODUCT_STAGE" && find . -type f | sed 's|^\./||')
while IFS= read -r f; do
  case "$f" in
  Plugins/CoverFetcher/* | Plugins/TagsLegacy/* | Plugins/AutoUpdate/* | Plugins/Diagnostics/*)
    check "obsolete, gone: $f" "" "$(ls "$DEST/$f" 2>/dev/null)" ;;
  KIVO.ini | Readme.txt) ;;  # rewritten by this run
  *) grep -qxF "$f" <<<"$COMPONENTS" || check_same_file "in place: $f" "$FIXTURE_REF/nobackup/Program/$f" "$DEST/$f" ;;
  esac
done < <(cd "$FIXTURE_REF/nobackup/Program" && find . -type f | sed 's|^\./||')
check_same_file "replaced: KIVO.exe" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$DEST/KIVO.exe"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"
finish
