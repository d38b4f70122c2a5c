#!/usr/bin/env bash
# A whole silent installation of the product, as a deployment tool runs it, on clean
# machines: every install action in its order, the registration program's exact command
# line, shortcuts that resolve to the installed files, and what Windows 7 and a portable
# installation change about it:
#   Setup.exe /AUTO=C:\KIVO /SILENT /LOG=C:\install.log             (Windows 10, Windows 7)
#   Setup.exe /AUTO=C:\KIVO /SILENT /PORTABLE /LOG=C:\portable.log  (Windows 10)
source "$(dirname "$0")/lib.sh"

KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO'
MENU=$COMMON_PROGRAMS'\KIVO'
README_LINK="$(common_programs)/KIVO/Read Me.lnk"

step "Windows 10: Setup.exe /AUTO=C:\\KIVO /SILENT /LOG=C:\\install.log"
use_prefix product-win10 fresh
silent_install win10 install.log
check "exit code" 0 "$RUN_EXIT"
ORDER=$(action_order "$LOG")
check "action order" "CloseApplications Prepare Extract Config Integrate Shortcuts UpdateShellCache" "$ORDER"
check "Elevator.log: the program's quoted path and the switches of an Auto run" \
  '"C:\KIVO\Elevator.exe" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2' "$(tr -d '\r' <"$(drive_c)/KIVO/Elevator.log")"
check "log: the registration program ran" 'Ran: "C:\KIVO\Elevator.exe" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2' \
  "$(grep '^Ran: ' <<<"$LOG")"
check "links resolve to the installed files" \
  $'C:\\KIVO\\KIVO.exe\nC:\\KIVO\\KIVO.exe\nC:\\KIVO\\Uninstall.exe' \
  "$(link_targets "$COMMON_DESKTOP\\KIVO.lnk" "$MENU\\KIVO.lnk" "$MENU\\Uninstall KIVO.lnk")"
check_true "the desktop link's target exists" test -f "$(drive_c)/KIVO/KIVO.exe"
check "Windows 8 and later: no link to the read-me file" "" "$(ls "$README_LINK" 2>/dev/null)"
check_contains "log: the shell was told" 'Shell told: file associations changed' "$LOG"
check "no error entries" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"
check "log: last entry" 'Exit code: 0' "$(tail -n1 <<<"$LOG")"

stop_server

step "Windows 7: the same run"
use_prefix product-win7 fresh
set_windows_version win7
silent_install win7 install.log
check "exit code" 0 "$RUN_EXIT"
check "action order: no shell-cache refresh before Windows 10" \
  "$(sed 's/ UpdateShellCache$//' <<<"$ORDER")" "$(action_order "$LOG")"
check "Elevator.log: the same command line" \
  '"C:\KIVO\Elevator.exe" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2' "$(tr -d '\r' <"$(drive_c)/KIVO/Elevator.log")"
check "Windows 7: the read-me link too" 'C:\KIVO\Readme.txt' "$(link_targets "$MENU\\Read Me.lnk")"
check "log: last entry" 'Exit code: 0' "$(tail -n1 <<<"$LOG")"

step "Windows 10, portable: Setup.exe /AUTO=C:\\KIVO /SILENT /PORTABLE /LOG=C:\\portable.log"
use_prefix product-portable fresh
silent_install portable portable.log /PORTABLE
check "exit code" 0 "$RUN_EXIT"
check "portable action order: no integration" "CloseApplications Prepare Extract Config Shortcuts UpdateShellCache" \
  "$(action_order "$LOG")"
check "the registration program did not run" "" "$(ls "$(drive_c)/KIVO/Elevator.log" 2>/dev/null)"
check "no shortcut by default" "" "$(ls "$(common_desktop)/KIVO.lnk" "$(common_programs)/KIVO" 2>/dev/null)"
check_contains "KIVO.ini: portable" 'UserMode=0' "$(iconv -f UTF-16 -t UTF-8 "$(drive_c)/KIVO/KIVO.ini" | tr -d '\r')"
wine_out reg query "$KEY" /reg:32 >/dev/null
check "no uninstall entry (reg query's exit code)" 1 $?
check_true "the uninstaller is there all the same" test -f "$(drive_c)/KIVO/Uninstall.exe"
finish
