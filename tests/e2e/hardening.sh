#!/usr/bin/env bash
# What an attacker or an unattended deployment meets:
# - DLLs planted beside Setup.exe under the names of the system DLLs it delay-loads are
#   never loaded (the run installs and C:\planted.log stays absent);
# - a destination that holds a link to another folder gets nothing written through it;
# - on a window station nobody can see (a service, SYSTEM), a failing run shows no box
#   that would wait for ever: it ends at once with 1603 and the error in the log;
# - a link planted as the /LOG file, or under the coming names of the default log in
#   %TEMP%, is never written through: the default log takes the next free name.
source "$(dirname "$0")/lib.sh"
need_display "$@"

use_prefix hardening fresh
C=$(drive_c)

step "DLLs planted beside Setup.exe in a download folder"
mkdir -p "$C/Downloads"
cp "$SETUP_EXE" "$C/Downloads/Setup.exe"
# The system DLLs outside the KnownDLLs that the setup uses (the KnownDLLs always come
# from the system folder on Windows).
PLANTED="bcrypt comctl32 uxtheme version dbghelp msimg32"
for dll in $PLANTED; do cp "$(helper planted_dll.dll)" "$C/Downloads/$dll.dll"; done
rm -f "$C/planted.log"
# Wine prefers its own builtin DLLs; "native, then builtin" makes it search for them as
# Windows does, so that a planted DLL would be found beside the program (a program that
# imports bcrypt.dll directly loads the planted one under this setting: seen with Wine 8).
# Not for version.dll: Wine's own user32.dll imports it when the process starts (Windows'
# user32 does not), so Wine itself would load it from beside the program before our first
# instruction runs.
export WINEDLLOVERRIDES="$(tr ' ' '\n' <<<"$PLANTED" | grep -vx version | paste -sd,)=n,b"
run_win "$WORK/planted.out" 'C:\Downloads\Setup.exe' '/AUTO=C:\Planted' /SILENT '/LOG=C:\planted-run.log'
unset WINEDLLOVERRIDES
check "planted DLLs: the install succeeds" 0 "$RUN_EXIT"
check_true "planted DLLs: installed" test -f "$C/Planted/KIVO.exe"
check "planted DLLs: none was loaded" "" "$(iconv -f UTF-16LE -t UTF-8 "$C/planted.log" 2>/dev/null)"

step "a destination holding a link to another folder"
mkdir -p "$C/Linked" "$C/Elsewhere"
# Wine makes no links of its own; a Unix symbolic link in drive_c is one to Windows programs.
ln -s ../Elsewhere "$C/Linked/Plugins"
rm -f "$C/linked.log"
start_win "$WORK/linked.out" "$(winpath "$(helper run_in_station.exe)")" 60000 "$(winpath "$SETUP_EXE")" \
  '/AUTO=C:\Linked' /SILENT '/LOG=C:\linked.log'
end_win 70
check "link: exit code" 1603 "$RUN_EXIT"
check "link: nothing written through it" "" "$(ls -A "$C/Elsewhere")"
check_contains "link: the error names the file" 'a link in the destination folder leads out of it' \
  "$(log_text "$C/linked.log" 2>/dev/null)"
check_true "link: the link itself is still there" test -L "$C/Linked/Plugins"

step "a failing run on a window station that nobody can see"
rm -f "$C/hidden.log"
START=$(date +%s)
start_win "$WORK/hidden.out" "$(winpath "$(helper run_in_station.exe)")" 40000 "$(winpath "$SETUP_EXE")" \
  '/AUTO=C:\' /SILENT '/LOG=C:\hidden.log'
end_win 50
check "hidden station: exit code (not the helper's time-out 258)" 1603 "$RUN_EXIT"
check_true "hidden station: ended without waiting for an answer" test $(($(date +%s) - START)) -lt 30
LOG=$(log_text "$C/hidden.log" 2>/dev/null)
check_contains "hidden station: the error is in the log" 'Setup error: The folder "C:\" cannot be used by the setup' "$LOG"
check "hidden station: last entry" 'Exit code: 1603' "$(tail -n1 <<<"$LOG")"

step "links planted under the run log's names"
echo victim >"$C/victim.txt"
ln -s victim.txt "$C/link.log"
run_win "$WORK/loglink.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\LogLink' /SILENT '/LOG=C:\link.log'
check "/LOG=a link: the run itself succeeds" 0 "$RUN_EXIT"
check "/LOG=a link: nothing appended through it" victim "$(cat "$C/victim.txt")"
# "/LOG" alone: the user's program plants links under every name of the coming minute.
find_temp_folder
for s in $(seq 0 59); do
  ln -s "$C/victim.txt" "$TEMP_UNIX/KIVO Setup $(date -d "+$s seconds" '+%Y-%m-%d %H-%M-%S').log"
done
run_win "$WORK/deflog.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\DefLog' /SILENT /LOG
check "/LOG alone: the run succeeds" 0 "$RUN_EXIT"
check "/LOG alone: nothing appended through the links" victim "$(cat "$C/victim.txt")"
USED=$(cd "$TEMP_UNIX" && find . -maxdepth 1 -type f -name 'KIVO Setup *.log' ! -type l)
check "/LOG alone: one new log under the next free name" 1 "$(grep -c ' (2)\.log$' <<<"$USED")"
check_contains "/LOG alone: it holds the run" 'Exit code: 0' "$(log_text "$TEMP_UNIX/${USED#./}" 2>/dev/null)"
finish
