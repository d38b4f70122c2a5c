#!/usr/bin/env bash
# Uninstalling the product through the installed uninstaller, as a deployment tool does:
#   C:\KIVO\Uninstall.exe /AUTO /SILENT /LOG=C:\u.log
# It relays to its copy in the temporary folder, which runs "Elevator.exe /REG=U",
# deletes every listed file and the folders that became empty, deletes "!Backup\" (the
# default of an Auto run), keeps the user's files and profiles and removes the uninstall
# entry and the shortcuts, the files first and the entry last. A reinstall is then a fresh
# install with shortcuts and integration. A file held open stays until the restart and the
# run ends 3010; a run killed half-way leaves the product listed, and a second run
# completes. Then the same with hostile uninstall data (names that climb out, absolute
# names, a link out of the program folder): nothing outside goes. "Count" 0 deletes no
# file; damaged data fails with 1603 and deletes nothing. C:\KIVO is made for
# administrators only; from a folder users can change, nothing is run; a portable copy's
# uninstall leaves the standard installation's registration alone; a genuine setup
# renamed Uninstall.exe beside a product package refuses to install it.
source "$(dirname "$0")/lib.sh"

KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO'
PROFILE_WIN='C:\users\root\AppData\Roaming\KIVO'

# A Unix symbolic link inside drive_c, which Wine shows as a link to Windows programs.
unix_link() { ln -s "$1" "$2"; }

uninstall() {
  rm -f "$(drive_c)/$1"
  run_win "$WORK/$1.out" 'C:\KIVO\Uninstall.exe' /AUTO /SILENT "/LOG=C:\\$1"
  stop_server
  LOG=$(log_text "$(drive_c)/$1" 2>/dev/null)
}

# The uninstall leaves nothing that makes this an update: each is a fresh installation.
install_again() {
  silent_install "$1" "$1.log"
  [ "$RUN_EXIT" == 0 ] || fatal "the installation for the next case failed with $RUN_EXIT"
}

listed() { wine_out reg query "$KEY" /reg:32 >/dev/null && echo listed || echo "not listed"; }

use_prefix product-uninstall fresh
step "install: Setup.exe /AUTO=C:\\KIVO /SILENT"
silent_install install install.log
check "exit code" 0 "$RUN_EXIT"
DEST=$(drive_c)/KIVO
[ -f "$DEST/Uninstall.exe" ] || fatal "no C:\\KIVO\\Uninstall.exe"
# A folder made outside the program folders would inherit "Authenticated Users: Modify"
# from the drive's root: it gets administrators and the system only, users read and run.
# Wine keeps a DACL as the Unix mode ("Everyone" for the other users); Windows keeps it.
DACL=$(wine_out "$(helper file_dacl.exe)" get 'C:\KIVO' | tr -d '\r')
note "C:\\KIVO's DACL: $DACL"
check "C:\\KIVO's DACL, read back: nothing for everyone" "" "$(grep -oE '\([^()]*;WD\)' <<<"$DACL")"
check "C:\\KIVO's DACL: users, if named, only read and run" "" \
  "$(grep -oE '\([^()]*;(BU|AU|IU)\)' <<<"$DACL" | grep -v ';0x1200a9;')"
LISTED=$(peer_uninstall_ini "$DEST/Uninstall.dat" | listed_files)
note "Uninstall.ini lists $(wc -l <<<"$LISTED") files"
# What the user and the product made: a backup, a playlist, a cache folder, a profile.
mkdir -p "$DEST/!Backup" "$DEST/Playlists" "$DEST/Cache/Thumbs" "$(drive_c)/users/root/AppData/Roaming/KIVO"
echo zip >"$DEST/!Backup/KIVO 2024-05-14.zip"
echo mine >"$DEST/Playlists/mine.m3u"
echo profile >"$(drive_c)/users/root/AppData/Roaming/KIVO/KIVO.ini"

step "C:\\KIVO\\Uninstall.exe /AUTO /SILENT /LOG=C:\\u.log"
uninstall u.log
check "exit code through the relay" 0 "$RUN_EXIT"
check_contains "the installed uninstaller hands over" 'Handing over to a copy of the uninstaller' "$LOG"
check_contains "the copy works on C:\\KIVO" 'Command line: /PATH="C:\KIVO\" /AUTO /SILENT /LOG=C:\u.log' "$LOG"
check "actions of the copy: the files first, the entry last" \
  "CloseApplications UninstallFiles UninstallIntegration UninstallEntry" "$(action_order "$LOG")"
check "Elevator.log: the unregistration, by the quoted path" '"C:\KIVO\Elevator.exe" /REG=U' \
  "$(tr -d '\r' <"$DEST/Elevator.log" | tail -n1)"
left=""
while IFS= read -r file; do
  [ -e "$DEST/${file//\\//}" ] && left+="$file "
done <<<"$LISTED"
# The installed uninstaller runs while its copy works: when it cannot be moved aside, it is
# deleted at the next restart from where it is (and that asks for no restart).
if [ "$left" == "Uninstall.exe " ]; then
  check_contains "Uninstall.exe, in use by the relay, goes at the restart" \
    'In use, deleted at the next restart: C:\KIVO\Uninstall.exe' "$LOG"
  left=""
fi
check "every listed file is gone" "" "$left"
check "the folders that became empty are gone" "" \
  "$(cd "$DEST" && find . -mindepth 1 -type d ! -path './Playlists' | sort | xargs)"
check "!Backup\\ is gone (Auto default)" "" "$(ls -d "$DEST/!Backup" 2>/dev/null)"
check "the user's playlist stays" mine "$(cat "$DEST/Playlists/mine.m3u" 2>/dev/null)"
check "the profile stays" profile "$(cat "$(drive_c)/users/root/AppData/Roaming/KIVO/KIVO.ini" 2>/dev/null)"
wine_out reg query "$KEY" /reg:32 >/dev/null
check "the uninstall entry is gone (reg query's exit code)" 1 $?
check "the shortcuts are gone" "" "$(ls "$(common_desktop)/KIVO.lnk" "$(common_programs)/KIVO" 2>/dev/null)"
check "no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"
check "both processes exit with 0" $'Exit code: 0\nExit code: 0' "$(grep '^Exit code:' <<<"$LOG")"
check "KIVO.ini (only what the setup wrote) is gone" "" "$(ls "$DEST/KIVO.ini" 2>/dev/null)"

step "uninstall, then install again: a fresh install with shortcuts and integration"
rm -f "$DEST/Elevator.log"
install_again reinstall
REINSTALL=$(log_text "$(drive_c)/reinstall.log")
check "actions of the reinstall" "CloseApplications Prepare Extract Config Integrate Shortcuts UpdateShellCache" \
  "$(action_order "$REINSTALL")"
check_contains "the integration ran again" '"C:\KIVO\Elevator.exe" /REG=L1' "$(tr -d '\r' <"$DEST/Elevator.log" 2>/dev/null)"
check_true "the desktop shortcut is back" test -f "$(common_desktop)/KIVO.lnk"
check "listed again" listed "$(listed)"

step "a file held open: removed at the restart, the run ends 3010"
HELD_READY=$(drive_c)/e2e/held.ready HELD_RELEASE=$(drive_c)/e2e/held.release
rm -f "$HELD_READY" "$HELD_RELEASE"
"$WINE" "$(winpath "$(helper file_holder.exe)")" 'C:\KIVO\KIVO.exe' none 'C:\e2e\held.ready' 'C:\e2e\held.release' \
  120000 >/dev/null 2>&1 </dev/null &
HOLDER=$!
wait_for_file "$HELD_READY"
[ -f "$HELD_READY" ] || fatal "the file holder did not start"
rm -f "$(drive_c)/held.log"
run_win "$WORK/held.out" 'C:\KIVO\Uninstall.exe' /AUTO /SILENT '/LOG=C:\held.log'
touch "$HELD_RELEASE"
wait "$HOLDER"
stop_server
LOG=$(log_text "$(drive_c)/held.log" 2>/dev/null)
check "exit code through the relay: restart required" 3010 "$RUN_EXIT"
check "both processes exit with 3010" $'Exit code: 3010\nExit code: 3010' "$(grep '^Exit code:' <<<"$LOG")"
PENDING=$(tr -d '\r' <"$WINEPREFIX/system.reg" | grep -i '^"PendingFileRenameOperations"=')
if [ -f "$DEST/KIVO.exe" ]; then
  check_contains "log: scheduled at its own path" 'In use, deleted at the next restart: C:\KIVO\KIVO.exe' "$LOG"
  check_contains "scheduled for deletion at restart under its own path" 'C:\\KIVO\\KIVO.exe\0\0' "$PENDING"
else
  check_contains "log: moved aside until the restart" 'In use, moved aside until restart: C:\KIVO\KIVO.exe' "$LOG"
fi
check "the other listed files are gone" "" "$(ls "$DEST/Elevator.exe" "$DEST/Uninstall.dat" 2>/dev/null)"
check "not listed" "not listed" "$(listed)"

step "killed half-way: still listed, a second run completes"
install_again install-kill
rm -f "$(drive_c)/kill.log"
start_win "$WORK/kill.out" 'C:\KIVO\Uninstall.exe' /AUTO /SILENT '/LOG=C:\kill.log'
waited=0
# After the files step, while the integration's program runs.
while ! grep -qa 'Action TInstallerActionUninstallIntegration starts' "$(drive_c)/kill.log" 2>/dev/null &&
  [ $waited -lt 3000 ] && kill -0 "$RUN_PID" 2>/dev/null; do
  sleep 0.01
  waited=$((waited + 1))
done
"$WINESERVER" -k 2>/dev/null
wait "$RUN_PID" 2>/dev/null
KILLED=$(log_text "$(drive_c)/kill.log" 2>/dev/null)
if grep -q 'Action TInstallerActionUninstallEntry starts' <<<"$KILLED"; then
  note "the run reached its last step before the kill: the half-way state was not seen"
else
  check_contains "the files step had run" 'Action TInstallerActionUninstallFiles ends' "$KILLED"
  check_true "the program is gone" test ! -e "$DEST/KIVO.exe"
  check "the product is still listed" listed "$(listed)"
  check_true "with its uninstaller and data" test -f "$DEST/Uninstall.exe" -a -f "$DEST/Uninstall.dat"
fi
uninstall kill2.log
check "the second run: exit code" 0 "$RUN_EXIT"
check "the second run completes: not listed" "not listed" "$(listed)"
check "nothing of the product is left" "" "$(ls "$DEST/Uninstall.dat" "$DEST/KIVO.ini" "$DEST/Elevator.exe" 2>/dev/null)"

step "hostile uninstall data: names out of C:\\KIVO, absolute names, links out of it"
install_again install2
mkdir -p "$(drive_c)/outside/dir"
for f in outside/victim.txt outside/dir/keep.txt victim.txt; do echo keep >"$(drive_c)/$f"; done
unix_link "$(drive_c)/outside/dir" "$DEST/Plugins/Out"
rm -rf "$DEST/!Backup"
unix_link "$(drive_c)/outside/dir" "$DEST/!Backup"
make_uninstall_dat "$DEST/Uninstall.dat" <<'INI' || fatal "the package tool could not build the hostile Uninstall.dat"
[Uninstall]
Count=9
0=..\outside\victim.txt
1=C:\victim.txt
2=\victim.txt
3=Plugins\Out\keep.txt
4=..\..\..\victim.txt
5=Plugins/../../victim.txt
6=\\?\C:\victim.txt
7=C:..\victim.txt
8=KIVO.exe
INI
uninstall hostile.log
check "exit code" 0 "$RUN_EXIT"
check "files outside C:\\KIVO are untouched" "keep keep keep" \
  "$(cat "$(drive_c)/outside/victim.txt" "$(drive_c)/outside/dir/keep.txt" "$(drive_c)/victim.txt" 2>/dev/null | xargs)"
check "the one entry inside went" "" "$(ls "$DEST/KIVO.exe" 2>/dev/null)"
check "every hostile entry is logged as skipped" 8 "$(grep -c '^Listed file skipped' <<<"$LOG")"
# Wine cannot remove a Unix link to a folder (on Windows the link itself goes): either
# way it is not followed.
check "the \"!Backup\" link is not followed: its target's files stay" "keep" \
  "$(cat "$(drive_c)/outside/dir/keep.txt" 2>/dev/null)"
check "\"!Backup\" is gone or still the link" "link" \
  "$({ [ -L "$DEST/!Backup" ] || ! [ -e "$DEST/!Backup" ]; } && echo link || echo "a real folder")"
check "no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"
# Wine leaves the links (on Windows the uninstaller removed them as links); the next
# installs would meet them: a "!Backup" link makes a backup fail, by design.
rm -f "$DEST/Plugins/Out"
[ -L "$DEST/!Backup" ] && rm -f "$DEST/!Backup"

step "\"Count\" 0: no file goes, empty folders do"
install_again install3
mkdir -p "$DEST/EmptyOne"
make_uninstall_dat "$DEST/Uninstall.dat" <<'INI' || fatal "the package tool could not build Uninstall.dat"
[Uninstall]
Count=0
0=KIVO.exe
INI
uninstall count0.log
check "exit code" 0 "$RUN_EXIT"
check_true "KIVO.exe stays" test -f "$DEST/KIVO.exe"
check "the empty folder went" "" "$(ls -d "$DEST/EmptyOne" 2>/dev/null)"
wine_out reg query "$KEY" /reg:32 >/dev/null
check "the uninstall entry is gone all the same" 1 $?

step "damaged uninstall data: 1603, nothing deleted"
install_again install4
head -c 100 /dev/urandom >"$DEST/Uninstall.dat"
rm -f "$(drive_c)/bad.log"
# On a hidden window station, so the error needs no answer.
run_win "$WORK/bad.out" "$(winpath "$(helper run_in_station.exe)")" 40000 'C:\KIVO\Uninstall.exe' /AUTO /SILENT \
  '/LOG=C:\bad.log'
stop_server
check "exit code through the relay" 1603 "$RUN_EXIT"
BAD=$(log_text "$(drive_c)/bad.log" 2>/dev/null)
check_contains "log: the error" 'Package was corrupted' "$BAD"
check "log: the relay passes the code on" 'Exit code: 1603' "$(tail -n1 <<<"$BAD")"
check_true "KIVO.exe stays" test -f "$DEST/KIVO.exe"

step "a program folder that users can change: Elevator.exe and the menu library are not run"
install_again install5
wine_out "$(helper file_dacl.exe)" set 'C:\KIVO' 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)' ||
  fatal "cannot set C:\\KIVO's DACL"
ELEVATOR_BEFORE=$(tr -d '\r' <"$DEST/Elevator.log")
uninstall writable.log
check "exit code" 0 "$RUN_EXIT"
check "Elevator.log: nothing run" "$ELEVATOR_BEFORE" "$(tr -d '\r' <"$DEST/Elevator.log" 2>/dev/null)"
check_contains "log: why not" 'Not run, "C:\KIVO" can be changed by Everyone: C:\KIVO\Elevator.exe' "$LOG"
wine_out reg query "$KEY" /reg:32 >/dev/null
check "the uninstall entry is gone all the same" 1 $?
check "no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"

step "a portable copy's uninstall leaves the standard installation's registration alone"
rm -rf "$DEST"
install_again install6
run_win "$WORK/portable.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO Portable' /PORTABLE /SILENT '/LOG=C:\portable.log'
stop_server
check "portable install: exit code" 0 "$RUN_EXIT"
# The standard installation's registration and shortcuts, as the portable one left them.
wine_out "$(helper read_link.exe)" "$(winpath "$(common_desktop)/KIVO.lnk")" >"$WORK/links-before.txt"
ELEVATOR_BEFORE=$(tr -d '\r' <"$DEST/Elevator.log")
rm -f "$(drive_c)/p.log"
run_win "$WORK/p.out" 'C:\KIVO Portable\Uninstall.exe' /AUTO /SILENT '/LOG=C:\p.log'
stop_server
LOG=$(log_text "$(drive_c)/p.log" 2>/dev/null)
check "exit code" 0 "$RUN_EXIT"
check_contains "the standard installation's entry stays" 'C:\KIVO\' \
  "$(wine_out reg query "$KEY" /v InstallLocation /reg:32)"
check_true "the shortcuts for all users stay" test -d "$(common_programs)/KIVO"
check_true "the desktop shortcut for all users stays" test -f "$(common_desktop)/KIVO.lnk"
check "C:\\KIVO\\Elevator.log: nothing unregistered" "$ELEVATOR_BEFORE" "$(tr -d '\r' <"$DEST/Elevator.log")"
check "the portable copy's Elevator.exe did not unregister" "" \
  "$(grep -F '/REG=U' "$(drive_c)/KIVO Portable/Elevator.log" 2>/dev/null)"
check_contains "log: left alone, and why" \
  'The uninstall entry names another installation: C:\KIVO\' "$LOG"
check "the portable copy's files are gone" "" "$(ls "$(drive_c)/KIVO Portable/KIVO.exe" 2>/dev/null)"

step "a genuine Setup.exe renamed Uninstall.exe beside a product package only uninstalls: it refuses"
FAKE=$(drive_c)/Fake
mkdir -p "$FAKE"
cp "$SETUP_EXE" "$FAKE/Uninstall.exe"
"$WINE" "${KIVO_IPKTOOL_EXE:?}" build "$(winpath "$FAKE/Uninstall.dat")" "$(winpath "${KIVO_PRODUCT_STAGE:?}")" \
  >"$WORK/fake-dat.out" 2>&1 </dev/null || fatal "the package tool could not build the product package"
touch "$WORK/stamp"
rm -f "$(drive_c)/fake.log"
run_win "$WORK/fake.out" "$(winpath "$(helper run_in_station.exe)")" 40000 'C:\Fake\Uninstall.exe' \
  '/AUTO=C:\Elsewhere' /SILENT '/LOG=C:\fake.log'
stop_server
check "exit code" 1603 "$RUN_EXIT"
check_contains "log: the reason" '"C:\Fake\Uninstall.dat" holds no uninstall data. An uninstaller only uninstalls.' \
  "$(log_text "$(drive_c)/fake.log" 2>/dev/null)"
check "nothing written but the log" "" \
  "$(find "$(drive_c)" -newer "$WORK/stamp" -type f ! -path '*/fake.log' ! -path '*/windows/*' 2>/dev/null)"
check "no C:\\Elsewhere" "" "$(ls -d "$(drive_c)/Elsewhere" 2>/dev/null)"
finish
