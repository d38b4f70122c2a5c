#!/usr/bin/env bash
# The elevated setup over folders that ordinary users shape, with the links they can make
# there (a Unix symbolic link in drive_c is a link to Windows programs):
# - a 3.60 update whose accounts' profiles hold links: bob's new "KIVO" folder is a link
#   into the Windows folder, alice's old "KIVO3" profile is a link to a folder of secrets,
#   root's profile holds a link to a secret file. The update succeeds; nothing is written
#   into the Windows folder, no secret reaches the archive, nothing outside is deleted, and
#   the profiles that are links are neither migrated nor deleted;
# - an install over an older installation with a link to a secret file among its files:
#   the secret is neither archived nor deleted;
# - an update whose "!Backup" folder is a link: the archive is not written through it, the
#   run fails with 1603 and a clear message, and nothing is deleted;
# - a fresh install deletes the user's start-menu folder "KIVO" while the user swaps a
#   subfolder of it for a link as soon as the first file goes: the link's target keeps
#   its files.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"

use_prefix elevated-links fresh
fixture_accounts
fixture_360 KIVO3
C=$(drive_c)
DEST=$C/KIVO3

# The places the links lead to, each with a file that must stay as it is.
mkdir -p "$C/windows/kivo-victim" "$C/secrets/alice-profile" "$C/secrets/files"
echo system >"$C/windows/kivo-victim/KIVO.ini"
echo "alice's secret" >"$C/secrets/alice-profile/KIVO3.ini"
echo "a secret" >"$C/secrets/files/secret.txt"
fixture_profile3 "$(fixture_roaming bob)/KIVO3"
ln -s ../../../../windows/kivo-victim "$(fixture_roaming bob)/KIVO"
rm -rf "$(fixture_roaming alice)/KIVO3"
ln -s "$C/secrets/alice-profile" "$(fixture_roaming alice)/KIVO3"
ln -s "$C/secrets/files/secret.txt" "$(fixture_roaming root)/KIVO3/secret.txt"
victims() {
  cat "$C/windows/kivo-victim/KIVO.ini" "$C/secrets/alice-profile/KIVO3.ini" "$C/secrets/files/secret.txt" \
    2>/dev/null | tr '\n' '|'
  ls -A "$C/windows/kivo-victim" | tr '\n' '|'
}
VICTIMS="system|alice's secret|a secret|KIVO.ini|"

step "a 3.60 update over profiles that hold links"
run_win "$WORK/links360.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO3' /SILENT '/LOG=C:\links360.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
LOG=$(log_text "$C/links360.log")
check "the places behind the links are untouched" "$VICTIMS" "$(victims)"
ARCHIVE=$(ls "$DEST/!Backup/"z\ Before\ install\ 5.10\ *.zip 2>/dev/null | head -n1)
[ -n "$ARCHIVE" ] || fatal "no archive was written"
check "no secret in the archive" "" "$(unzip -p "$ARCHIVE" 2>/dev/null | grep -a secret)"
check "no entry of a link in the archive" "" "$(unzip -Z1 "$ARCHIVE" | grep -E 'secret|alice')"
check_contains "root's profile was migrated" "Profile copied: C:\\users\\root\\AppData\\Roaming\\KIVO3\\" "$LOG"
check_contains "bob's profile: not migrated into the link" \
  "Profile not migrated" "$(grep -F 'C:\users\bob' <<<"$LOG")"
check "bob's old profile is kept" "media library 3" "$(tr -d '\r' <"$(fixture_roaming bob)/KIVO3/KIVO3-cat.db")"
check_true "bob's new profile is still the link" test -L "$(fixture_roaming bob)/KIVO"
check_true "alice's profile is still the link" test -L "$(fixture_roaming alice)/KIVO3"
check_true "the file link stays (Wine cannot remove it as a link)" test -L "$(fixture_roaming root)/KIVO3/secret.txt"
check "log: no error" "" "$(grep -E '^(Error|Setup error)' <<<"$LOG")"

step "an install over 3.40 with a link to a secret file among its files"
fixture_340 KIVO340
ln -s "$C/secrets/files/secret.txt" "$C/KIVO340/Plugins/secret.dll"
run_win "$WORK/links340.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO340' /SILENT '/LOG=C:\links340.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
check "the secret stays" "a secret" "$(cat "$C/secrets/files/secret.txt")"
ARCHIVE=$(ls "$C/KIVO340/!Backup/"*.zip 2>/dev/null | head -n1)
check "the secret is not archived" "" "$(unzip -Z1 "$ARCHIVE" 2>/dev/null | grep -F secret.dll)"
check_contains "log: the link is named" 'Not archived (a link): C:\KIVO340\Plugins\secret.dll' \
  "$(log_text "$C/links340.log")"

step "an update whose \"!Backup\" is a link"
fixture_460 KIVO460
mkdir -p "$C/elsewhere"
rm -rf "$C/KIVO460/!Backup"
ln -s "$C/elsewhere" "$C/KIVO460/!Backup"
BEFORE=$(cd "$C/KIVO460" && find . -type f | sort | md5sum)
start_win "$WORK/backuplink.out" "$(winpath "$(helper run_in_station.exe)")" 60000 "$(winpath "$SETUP_EXE")" \
  '/AUTO=C:\KIVO460' /SILENT '/LOG=C:\backuplink.log'
end_win 70
check "exit code" 1603 "$RUN_EXIT"
check "nothing written through the link" "" "$(ls -A "$C/elsewhere")"
check "nothing deleted" "$BEFORE" "$(cd "$C/KIVO460" && find . -type f | sort | md5sum)"
check_contains "log: the error says why" 'is a link' "$(grep -E '^Setup error' <<<"$(log_text "$C/backuplink.log")")"

step "a fresh install while a user swaps a start-menu subfolder for a link"
START="$(fixture_roaming root)/Microsoft/Windows/Start Menu/KIVO"
rm -rf "$START"
mkdir -p "$START/zz Sub" "$C/victim-start"
for i in $(seq -w 1 300); do echo x >"$START/a$i.lnk"; done
echo x >"$START/zz Sub/inside.lnk"
echo keep >"$C/victim-start/keep.txt"
# As soon as the first file goes, the subfolder becomes a link (a wait on the state, not
# on time; it gives up when the folder is gone).
(
  while [ "$(ls -A "$START" 2>/dev/null | wc -l)" -ge 301 ]; do sleep 0.005; done
  [ -d "$START/zz Sub" ] && mv "$START/zz Sub" "$START/zz Sub.moved" && ln -s "$C/victim-start" "$START/zz Sub" &&
    touch "$WORK/swapped"
) &
SWAPPER=$!
rm -f "$WORK/swapped"
run_win "$WORK/swap.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO-swap' /SILENT '/LOG=C:\swap.log'
wait "$SWAPPER"
check "exit code" 0 "$RUN_EXIT"
check "the link's target keeps its file" "keep" "$(cat "$C/victim-start/keep.txt" 2>/dev/null)"
[ -f "$WORK/swapped" ] && note "the swap came in while the folder was deleted" ||
  note "the delete went first: nothing to swap"
finish
