#!/usr/bin/env bash
# An uninstaller that already runs from the temporary folder but has no usable
# installation folder must not hand over to itself again: it stops with one "Setup"
# message box, "Cannot Start the Uninstaller", and the exit code 1603. Once without
# /PATH, once with /PATH naming a folder that does not exist.
source "$(dirname "$0")/lib.sh"
need_display "$@"

use_prefix installed
restore_installation
[ -f "$(drive_c)/KIVO/Uninstall.exe" ] || fatal "C:\\KIVO\\Uninstall.exe is missing (the e2e.silent_install test installs it)"
find_temp_folder
# The temporary folder itself, and a private folder of the kind the relay makes.
PRIVATE='KIVO Uninstall 0123456789ABCDEF'
mkdir -p "$TEMP_UNIX/$PRIVATE"
for folder in "$TEMP_UNIX" "$TEMP_UNIX/$PRIVATE"; do
  cp "$(drive_c)/KIVO/Uninstall.exe" "$(drive_c)/KIVO/Uninstall.dat" "$folder/" ||
    fatal "cannot copy the uninstaller to $folder"
done

n=0
for run in "$TEMP_WIN|" "$TEMP_WIN|/PATH=C:\DoesNotExist" "$TEMP_WIN\\$PRIVATE|"; do
  folder=${run%%|*} path_switch=${run#*|}
  n=$((n + 1))
  log="C:\\temp-uninstall-$n.log"
  step "$folder\\Uninstall.exe /AUTO /SILENT${path_switch:+ $path_switch} /LOG=$log"
  start_win "$WORK/in-temp-$n.out" "$folder\\Uninstall.exe" /AUTO /SILENT ${path_switch:+"$path_switch"} "/LOG=$log"
  if answer_setup_box "run $n"; then
    check "run $n: message" 'Cannot Start the Uninstaller' "$BOX_TEXT"
  fi
  end_win 30
  check "run $n: exit code" 1603 "$RUN_EXIT"
  stop_server
  LOG=$(log_text "$(drive_c)/temp-uninstall-$n.log" 2>/dev/null)
  check "run $n: one process, no handover" 1 "$(grep -c '^Command line:' <<<"$LOG")"
  check "run $n: no handover" "" "$(grep '^Handing over' <<<"$LOG")"
  check "run $n: log: the error" 'Setup error: Cannot Start the Uninstaller' "$(grep '^Setup error:' <<<"$LOG")"
  check "run $n: log: last entry" 'Exit code: 1603' "$(tail -n1 <<<"$LOG")"
done
check_true "the installation is untouched" test -f "$(drive_c)/KIVO/KIVO.exe"
rm -rf "${TEMP_UNIX:?}/$PRIVATE"
finish
