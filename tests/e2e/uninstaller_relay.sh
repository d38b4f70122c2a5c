#!/usr/bin/env bash
# The uninstaller hands over to a copy of itself in a private folder under the temporary
# folder, on the machine that the silent installation left:
#   C:\KIVO\Uninstall.exe /AUTO /SILENT /LOG=C:\u.log
# copies Uninstall.exe and Uninstall.dat into "%TEMP%\KIVO Uninstall <random>\", starts
# the copy from there with
#   /PATH="C:\KIVO\" /AUTO /SILENT /LOG=C:\u.log
# waits for it and ends with its exit code; the private folder is removed afterwards
# (and scheduled for deletion at the next start of Windows). A program that watches the
# temporary folder and tries to swap the copy's files changes nothing; a copy that fails
# makes the relay fail with its code.
source "$(dirname "$0")/lib.sh"
need_display "$@"

use_prefix installed
restore_installation
[ -f "$(drive_c)/KIVO/Uninstall.exe" ] || fatal "C:\\KIVO\\Uninstall.exe is missing (the e2e.silent_install test installs it)"
find_temp_folder
rm -f "$(drive_c)/u.log" "$WORK/swapper.txt"
private_folders() { find "$TEMP_UNIX" -maxdepth 1 -type d -name 'KIVO Uninstall *' | sort; }
BEFORE=$(private_folders)

step "C:\\KIVO\\Uninstall.exe /AUTO /SILENT /LOG=C:\\u.log"
run_win "$WORK/relay.out" 'C:\KIVO\Uninstall.exe' /AUTO /SILENT '/LOG=C:\u.log'
check "exit code of the uninstaller in C:\\KIVO: the copy's" 0 "$RUN_EXIT"
check "the private folder is gone" "$BEFORE" "$(private_folders)"

step "the copy"
stop_server  # the registry reaches system.reg when Wine ends
# Wine keeps the delayed deletions in the registry until its next start.
PENDING=$(grep -F '"PendingFileRenameOperations"' "$WINEPREFIX/system.reg")
for name in Uninstall.exe Uninstall.dat; do
  check_contains "$name scheduled for deletion at restart, in a private folder" \
    "\\\\??\\\\${TEMP_WIN//\\/\\\\}\\\\KIVO Uninstall " "$PENDING"
  check_contains "$name scheduled" "\\\\$name\\0\\0" "$PENDING"
done
check "no copy under a fixed name in the temporary folder" "" "$(ls "$TEMP_UNIX"/Uninstall.* 2>/dev/null)"

step "the run log C:\\u.log"
LOG=$(log_text "$(drive_c)/u.log" 2>/dev/null)
COMMANDS=$(grep '^Command line:' <<<"$LOG")
check "two processes, the second with the installation folder" \
  "Command line: /AUTO /SILENT /LOG=C:\\u.log"$'\n'"Command line: /PATH=\"C:\\KIVO\\\" /AUTO /SILENT /LOG=C:\\u.log" \
  "$COMMANDS"
check "the first hands over, then the copy starts" \
  "Handing over to a copy of the uninstaller in the temporary folder|Command line: /PATH" \
  "$(grep -oE '^(Handing over.*|Command line: /PATH)' <<<"$LOG" | paste -sd'|')"
COPY_LOG=$(sed -n '/^Command line: \/PATH/,$p' <<<"$LOG")
check_contains "the copy uninstalls" 'Mode: uninstall, flags: [Auto, Silent]' "$COPY_LOG"
check_contains "the copy works on C:\\KIVO" 'Run starts: destination "C:\KIVO\"' "$COPY_LOG"
check_contains "the copy's run ends" 'Run ended' "$COPY_LOG"
check "no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"
check "the relay waits for the copy" $'The copy of the uninstaller ended with 0\nExit code: 0' "$(tail -n2 <<<"$LOG")"
check "both exit with 0" $'Exit code: 0\nExit code: 0' "$(grep '^Exit code:' <<<"$LOG")"

step "the same with a program swapping files in $TEMP_WIN"
start_win "$WORK/swapper.out" "$(winpath "$(helper temp_swapper.exe)")" "$TEMP_WIN" 12000 'C:\swapper.txt'
SWAPPER_PID=$RUN_PID SWAPPER_OUT=$RUN_OUT
sleep 1
rm -f "$(drive_c)/u2.log"
restore_installation  # the first run uninstalled it
# On a hidden window station: should the relay refuse, no box waits for an answer.
run_win "$WORK/relay2.out" "$(winpath "$(helper run_in_station.exe)")" 40000 'C:\KIVO\Uninstall.exe' /AUTO /SILENT \
  '/LOG=C:\u2.log'
RELAY_EXIT=$RUN_EXIT
RUN_PID=$SWAPPER_PID RUN_OUT=$SWAPPER_OUT end_win 30
SWAPPED=$(tr -d '\r' <"$(drive_c)/swapper.txt")
note "what the swapper managed: $(paste -sd';' <<<"$SWAPPED")"
check_true "with the swapper: it tried while the copies were held and was refused" \
  test "$(sed -n 's/^refused //p' <<<"$SWAPPED")" -gt 0
LOG2=$(log_text "$(drive_c)/u2.log" 2>/dev/null)
# Either the real copy ran (a swap before the copies were held is seen and the copies are
# made again), or the relay refused to start anything; never the swapper's bytes.
if [ "$RELAY_EXIT" == 0 ]; then
  check_contains "with the swapper: the real copy uninstalled" 'Mode: uninstall, flags: [Auto, Silent]' "$LOG2"
  check "with the swapper: no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG2")"
  check "with the swapper: both exit with 0" $'Exit code: 0\nExit code: 0' "$(grep '^Exit code:' <<<"$LOG2")"
else
  check "with the swapper: a refusal is a failure" 1603 "$RELAY_EXIT"
  check_contains "with the swapper: refused, the swap was seen" 'was changed by another program' "$LOG2"
  check "with the swapper: nothing started" 1 "$(grep -c '^Command line:' <<<"$LOG2")"
fi

step "a copy that fails: the relay ends with its exit code"
# An uninstaller in a folder of Windows: its copy refuses the folder it is given.
restore_installation
mkdir -p "$(drive_c)/windows/KIVOBad"
cp "$(drive_c)/KIVO/Uninstall.exe" "$(drive_c)/KIVO/Uninstall.dat" "$(drive_c)/windows/KIVOBad/"
rm -f "$(drive_c)/bad.log"
run_win "$WORK/bad.out" "$(winpath "$(helper run_in_station.exe)")" 40000 'C:\windows\KIVOBad\Uninstall.exe' \
  /AUTO /SILENT '/LOG=C:\bad.log'
check "exit code of the relay" 1603 "$RUN_EXIT"
BAD_LOG=$(log_text "$(drive_c)/bad.log" 2>/dev/null)
check_contains "the copy refused the folder" 'Setup error: The folder "C:\windows\KIVOBad\" cannot be used' "$BAD_LOG"
check "the relay passed the code on" $'The copy of the uninstaller ended with 1603\nExit code: 1603' "$(tail -n2 <<<"$BAD_LOG")"
check_true "the folder of Windows was left alone" test -f "$(drive_c)/windows/KIVOBad/Uninstall.exe"
rm -rf "$(drive_c)/windows/KIVOBad"
finish
