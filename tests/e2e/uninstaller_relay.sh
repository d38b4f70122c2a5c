#!/usr/bin/env bash
# The uninstaller hands over to a copy of itself in the temporary folder, on the machine
# that the silent installation left:
#   C:\KIVO\Uninstall.exe /AUTO /SILENT /LOG=C:\u.log
# ends at once with 0; the copy (Uninstall.exe and Uninstall.dat in the temporary
# folder, scheduled for deletion at the next start of Windows) runs with
#   /PATH="C:\KIVO\" /AUTO /SILENT /LOG=C:\u.log
# and ends with 0. Both write to the same log.
source "$(dirname "$0")/lib.sh"

use_prefix installed
[ -f "$(drive_c)/KIVO/Uninstall.exe" ] || fatal "C:\\KIVO\\Uninstall.exe is missing (the e2e.silent_install test installs it)"
find_temp_folder
rm -f "$TEMP_UNIX/Uninstall.exe" "$TEMP_UNIX/Uninstall.dat" "$(drive_c)/u.log"

step "C:\\KIVO\\Uninstall.exe /AUTO /SILENT /LOG=C:\\u.log"
run_win "$WORK/relay.out" 'C:\KIVO\Uninstall.exe' /AUTO /SILENT '/LOG=C:\u.log'
check "exit code of the uninstaller in C:\\KIVO" 0 "$RUN_EXIT"
# The copy runs on after the first process has ended: wait for every process of the prefix.
stop_server

step "the copy in $TEMP_WIN"
check_same_file "Uninstall.exe copied" "$(drive_c)/KIVO/Uninstall.exe" "$TEMP_UNIX/Uninstall.exe"
check_same_file "Uninstall.dat copied" "$(drive_c)/KIVO/Uninstall.dat" "$TEMP_UNIX/Uninstall.dat"
# Wine keeps the delayed deletions in the registry until its next start.
PENDING=$(grep -F '"PendingFileRenameOperations"' "$WINEPREFIX/system.reg")
for name in Uninstall.exe Uninstall.dat; do
  check_contains "$name scheduled for deletion at restart" "\\\\??\\\\${TEMP_WIN//\\/\\\\}\\\\$name\\0\\0" "$PENDING"
done

step "the run log C:\\u.log"
LOG=$(log_text "$(drive_c)/u.log" 2>/dev/null)
COMMANDS=$(grep '^Command line:' <<<"$LOG")
check "two processes, the second with the installation folder" \
  "Command line: /AUTO /SILENT /LOG=C:\\u.log"$'\n'"Command line: /PATH=\"C:\\KIVO\\\" /AUTO /SILENT /LOG=C:\\u.log" \
  "$COMMANDS"
# The handover is logged before the copy starts.
check "the first hands over, then the copy starts" \
  "Handing over to a copy of the uninstaller in the temporary folder|Command line: /PATH" \
  "$(grep -oE '^(Handing over.*|Command line: /PATH)' <<<"$LOG" | paste -sd'|')"
COPY_LOG=$(sed -n '/^Command line: \/PATH/,$p' <<<"$LOG")
check_contains "the copy uninstalls" 'Mode: uninstall, flags: [Auto, Silent]' "$COPY_LOG"
check_contains "the copy works on C:\\KIVO" 'Run starts: destination "C:\KIVO\"' "$COPY_LOG"
check_contains "the copy's run ends" 'Run ended' "$COPY_LOG"
check "no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"
check "both exit with 0" $'Exit code: 0\nExit code: 0' "$(grep '^Exit code:' <<<"$LOG")"
check "last entry" 'Exit code: 0' "$(tail -n1 <<<"$LOG")"
finish
