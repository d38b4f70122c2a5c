#!/usr/bin/env bash
# Destinations, the way users and deployment tools spell them. Every spelling of one
# folder installs the complete product into exactly that folder and registers it with
# an Uninstall.ini of relative names; a drive root, a system folder, a known user
# folder (Music, Public) or another account's profile or anything in it is refused with
# the "Setup" box and exit 1603 before anything is written; a quoted switch with a
# space in its value installs silently; a locked KIVO.ini is logged as not written.
source "$(dirname "$0")/lib.sh"
need_display "$@"

use_prefix destinations fresh
C=$(drive_c)
LONG='C:\deep'
for i in $(seq 1 12); do LONG+='\a-rather-long-folder-name-'$i; done

# installs SPELLING EXPECTED-FOLDER: a silent install with /AUTO=SPELLING installs
# completely into EXPECTED-FOLDER (Windows path with trailing backslash).
installs() {
  local spelling=$1 expected=$2 unix log
  step "/AUTO=$spelling"
  rm -f "$C/d.log"
  run_win "$WORK/dest.out" "$(winpath "$SETUP_EXE")" "/AUTO=$spelling" /SILENT '/LOG=C:\d.log'
  check "$spelling: exit code" 0 "$RUN_EXIT"
  log=$(log_text "$C/d.log" 2>/dev/null)
  check_contains "$spelling: destination" "destination: \"$expected\"" "$log"
  unix=$C/$(printf '%s' "${expected#C:\\}" | tr '\\' '/')
  check_same_file "$spelling: KIVO.exe" "${KIVO_PRODUCT_STAGE:?}/KIVO.exe" "$unix/KIVO.exe"
  check_same_file "$spelling: Uninstall.exe" "$SETUP_EXE" "$unix/Uninstall.exe"
  check_true "$spelling: KIVO.ini" test -s "$unix/KIVO.ini"
  local ini listed
  ini=$(peer_uninstall_ini "$unix/Uninstall.dat" 2>&1)
  listed=$(listed_files <<<"$ini")
  check "$spelling: Uninstall.ini ends with the uninstaller's files" $'Uninstall.dat\nUninstall.exe' \
    "$(tail -n2 <<<"$listed")"
  check "$spelling: every listed name is relative" "" "$(grep -E '^([A-Za-z]:|\\)|\$' <<<"$listed")"
  check "$spelling: every listed file exists" "" \
    "$(while IFS= read -r f; do [ -f "$unix/${f//\\//}" ] || echo "$f"; done <<<"$listed")"
  check "$spelling: the count" "$(wc -l <<<"$listed")" "$(sed -n 's/^Count=//p' <<<"$ini")"
  local entry
  entry=$(wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO' /v InstallLocation /reg:32)
  check_contains "$spelling: registered location" "$expected" "$entry"
}

installs 'C:/Apps/KIVO' 'C:\Apps\KIVO\'
installs 'C:/KIVO' 'C:\KIVO\'
installs 'C:\\KIVO2' 'C:\KIVO2\'
installs 'C:\$NAME' 'C:\$NAME\'
installs 'C:\new\KIVO' 'C:\new\KIVO\'
installs "$LONG" "$LONG\\"
check "C:\\AppsKIVO was not made" "" "$(ls -d "$C/AppsKIVO" 2>/dev/null)"

step "\"/AUTO=C:\\Program Files\\KIVO\" /SILENT (the whole switch quoted, as launchers do)"
rm -f "$C/q.log"
# Wine's launcher quotes an argument with a space as a whole: "/AUTO=C:\Program Files\KIVO".
run_win "$WORK/quoted.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Program Files\KIVO' /SILENT '/LOG=C:\q.log'
check "quoted switch: exit code" 0 "$RUN_EXIT"
check_contains "quoted switch: the command line as the setup read it" \
  'Command line: /AUTO="C:\Program Files\KIVO" /SILENT' "$(log_text "$C/q.log" 2>/dev/null)"
check_same_file "quoted switch: KIVO.exe" "$KIVO_PRODUCT_STAGE/KIVO.exe" "$C/Program Files/KIVO/KIVO.exe"

step "a locked KIVO.ini"
mkdir -p "$C/Locked"
printf '[System]\r\nVersion=1\r\n' >"$C/Locked/KIVO.ini"
start_win "$WORK/holder.out" "$(winpath "$(helper file_holder.exe)")" 'C:\Locked\KIVO.ini' none 'C:\Locked\ready' \
  'C:\Locked\release' 60000
wait_for_file "$C/Locked/ready" || fatal "the file holder did not start"
HOLDER_PID=$RUN_PID HOLDER_OUT=$RUN_OUT
rm -f "$C/l.log"
# Without the backup, which would fail on the held file first: this case is the
# configuration's write.
run_win "$WORK/locked.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Locked' /SILENT /NOBACKUP '/LOG=C:\l.log'
touch "$C/Locked/release"
RUN_PID=$HOLDER_PID RUN_OUT=$HOLDER_OUT end_win 30
LOG=$(log_text "$C/l.log" 2>/dev/null)
check_contains "locked KIVO.ini: logged as not written" \
  'Not written (the file cannot be created or replaced): C:\Locked\KIVO.ini' "$LOG"
check "locked KIVO.ini: never logged as written" "" "$(grep -F 'Written: C:\Locked\KIVO.ini' <<<"$LOG")"

step "refused destinations"
# refused SPELLING: exit 1603, nothing written.
refused() {
  local spelling=$1
  find "$C" -type f -newer "$C/e2e/run.bat" 2>/dev/null | sort >"$WORK/before.txt"
  touch "$WORK/stamp"
  start_win "$WORK/refused.out" "$(winpath "$SETUP_EXE")" "/AUTO=$spelling" /SILENT
  if answer_setup_box "$spelling"; then
    check_contains "$spelling: the message names the folder and says why" 'cannot be used by the setup' "$BOX_TEXT"
  fi
  end_win 30
  check "$spelling: exit code" 1603 "$RUN_EXIT"
  check "$spelling: no Uninstall.exe or KIVO.exe written anywhere" "" \
    "$(find "$C" -newer "$WORK/stamp" -type f \( -iname Uninstall.exe -o -iname KIVO.exe -o -iname Uninstall.dat \) 2>/dev/null)"
}
wine_out reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO' /f /reg:32 >/dev/null
# Another account of the machine, with its profile where Windows keeps them.
bob_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-7-7-7-1001'
# Read back: a refusal of bob's folders means nothing unless his entry is there to be seen.
for attempt in 1 2 3; do
  wine_out reg add "$bob_key" /v ProfileImagePath /t REG_SZ /d 'C:\users\bob' /f /reg:32 >/dev/null
  bob_entry=$(wine_out reg query "$bob_key" /v ProfileImagePath /reg:32)
  grep -qF 'C:\users\bob' <<<"$bob_entry" && break
done
check_contains "the other account is listed" 'C:\users\bob' "$bob_entry"
mkdir -p "$C/users/bob/Documents/Work"
echo "bob's" >"$C/users/bob/Documents/Work/report.txt"
for spelling in 'C:\' 'C:\Windows\System32' 'C:\Program Files' 'C:\users' 'C:\users\root' 'C:\Windows\Temp\KIVO' 'C:' \
  'C:\users\root\Music' 'C:\users\Public' 'C:\users\bob' 'C:\users\bob\Documents\Work'; do
  refused "$spelling"
done
check "bob's files stay as they were" "bob's" "$(cat "$C/users/bob/Documents/Work/report.txt")"
check "nothing else in bob's profile" "./Documents/Work/report.txt" "$(cd "$C/users/bob" && find . -type f)"
wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO' /reg:32 >/dev/null
check "refused destinations: no uninstall entry" 1 $?
finish
