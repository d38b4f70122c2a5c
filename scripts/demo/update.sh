#!/usr/bin/env bash
# The update demo: lays out an installation of version 4.60 (per-user, with the profiles
# of two accounts, old backups and obsolete plug-ins) in the Wine prefix $WINEPREFIX,
# updates it silently with the built Setup.exe, and shows from the run log and the disk
# what was archived, kept, migrated and deleted.
#
#   WINEPREFIX=<prefix> scripts/demo/update.sh [Setup.exe]
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
setup=${1:-$root/build/windows/src/setup/Setup.exe}
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix to use}"
export WINEPREFIX WINEDEBUG=-all
if [ -z "${KIVO_E2E_WORK:-}" ]; then
  KIVO_E2E_WORK=$(mktemp -d)
  trap 'rm -rf "$KIVO_E2E_WORK"' EXIT
fi
export KIVO_E2E_WORK
source "$root/tests/e2e/lib.sh"
source "$root/tests/fixtures/older_install.sh"

folder='KIVO 4.60'
dest=$(drive_c)/$folder
rm -rf "$dest" "$(fixture_roaming root)/KIVO" "$(fixture_roaming alice)/KIVO"
fixture_accounts
fixture_460 "$folder"
mkdir -p "$(drive_c)/e2e"

echo
echo "=== update of version 4.60 in C:\\$folder (profiles of root and alice)"
echo "--- before: $(find "$dest" -path "$dest/!Backup" -prune -o -type f -print | wc -l) program files," \
  "$(find "$(fixture_roaming root)/KIVO" "$(fixture_roaming alice)/KIVO" -type f | wc -l) profile files," \
  "$(ls "$dest/!Backup" | grep -c '\.zip$') old backups"
echo "=== Setup.exe \"/AUTO=C:\\$folder\" /SILENT /LOG=C:\\update.log"
"$WINE" "$(winpath "$setup")" "/AUTO=C:\\$folder" /SILENT '/LOG=C:\update.log'
code=$?
"$WINESERVER" -w
echo "exit code: $code"
log=$(log_text "$(drive_c)/update.log")

section() { echo; echo "--- $1 ($(grep -c . <<<"$2"))"; [ -n "$2" ] && sed 's/^/  /' <<<"$2"; }
section "archived" "$(sed -n 's/^Archived: //p' <<<"$log")"
section "not archived (caches and the updater, deleted)" "$(sed -n 's/^Not archived (cache or updater): //p' <<<"$log")"
section "kept (left in place)" "$(sed -n 's/^Kept: //p' <<<"$log")"
section "migrated" "$(sed -n 's/^\(Migrated\|Profile copied\): //p' <<<"$log")"
section "deleted" "$(sed -n 's/^Deleted: //p' <<<"$log")"
section "empty folders removed" "$(sed -n 's/^Folder removed: //p' <<<"$log")"
echo
echo "--- the backups now"
ls -l "$dest/!Backup" | tail -n +2 | sed 's/^/  /'
new=$(ls "$dest/!Backup" | grep '^z Before install 5' | head -n1)
[ -n "$new" ] && unzip -tq "$dest/!Backup/$new" | sed 's/^/  unzip -t: /'
echo
echo "--- on disk: the program folder and the profiles"
(cd "$dest" && find . -path './!Backup' -prune -o -type f -print | sort | sed 's/^/  /')
for who in root alice; do (cd "$(fixture_roaming $who)/KIVO" && find . -type f | sort | sed "s|^\.|  $who's profile|"); done
exit "$code"
