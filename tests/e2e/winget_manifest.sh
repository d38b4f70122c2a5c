#!/usr/bin/env bash
# The winget manifest in docs/winget against the real Setup.exe: every switch it passes
# is one the setup reads, the command lines winget builds from it install where and how
# they say (silent, into a folder with spaces, with a log), its return codes are the
# setup's own, and its Apps & Features entry is the uninstall entry the setup writes.
source "$(dirname "$0")/lib.sh"

MANIFEST=${KIVO_SOURCE_DIR:?}/docs/winget/KIVOSoftware.KIVO.yaml
SOURCES=$KIVO_SOURCE_DIR/src
INSTALL_XML=${KIVO_SETUP_STAGE:?}/Install.xml
[ -f "$MANIFEST" ] || fatal "no manifest at $MANIFEST"

# field KEY: the value of "KEY: value" at any indentation (the first one).
field() { sed -n "s/^[ -]*$1: *//p" "$MANIFEST" | head -n1 | tr -d '\r'; }
setting() { sed -n "s/.*<Setting name=\"$1\" value=\"\([^\"]*\)\".*/\1/p" "$INSTALL_XML" | head -n1; }

step "the manifest's fields"
check "InstallerType" exe "$(field InstallerType)"
check "Scope" machine "$(field Scope)"
check "PackageVersion is the product version" "$(setting ProductVersion)" "$(field PackageVersion)"
check "Publisher" "$(setting Publisher)" "$(field Publisher)"

step "every switch is one the setup reads"
# The names Setup.exe looks up, from its sources.
READ=$(grep -rhoE '(FindSwitch|HasSwitch)\([^,]+, u"[A-Z]+"' "$SOURCES" | sed 's/.*u"\([A-Z]*\)"/\1/' | sort -u)
note "switches read by Setup.exe: $(tr '\n' ' ' <<<"$READ")"
for key in Silent SilentWithProgress InstallLocation Log; do
  value=$(field "$key")
  [ -n "$value" ] || { fail "InstallerSwitches.$key is missing"; continue; }
  for name in $(grep -oE '/[A-Za-z]+' <<<"$value" | tr -d / | tr a-z A-Z); do
    check "$key: /$name is read by Setup.exe" yes "$(grep -qx "$name" <<<"$READ" && echo yes || echo no)"
  done
done

step "the return codes are the setup's"
while read -r code; do
  check "return code $code is one Setup.exe ends with" yes \
    "$(grep -rqE "\b$code\b" "$SOURCES/core" "$SOURCES/setup" && echo yes || echo no)"
done < <(sed -n 's/.*InstallerReturnCode: *\([0-9]*\).*/\1/p' "$MANIFEST")

step "the manifest sends no /UPDATE"
# An update is never silent (the command-line rules read no /SILENT with /UPDATE): a
# silent install over an installation updates it.
check "no switch holds /UPDATE" "" "$(sed -n '/^InstallerSwitches:/,/^[A-Za-z]/p' "$MANIFEST" | grep -v '^ *#' | grep -i '/UPDATE')"
check "no Upgrade switch" "" "$(field Upgrade)"

# winget's command line, in winget's order: the experience's switches, the log, the
# upgrade switch (on an upgrade), the location (when asked for); each token replaced.
# Without --log winget still passes a log of its own.
LOCATION='C:\Program Files\Acme Apps\KIVO'
LOGPATH='C:\winget logs\kivo.log'
DEFAULT_LOG='C:\users\root\AppData\Local\Packages\Microsoft.DesktopAppInstaller_8wekyb3d8bbwe\LocalState\DiagOutputDir\WinGet-KIVOSoftware.KIVO.5.10.log'
# command_line EXPERIENCE LOG [upgrade] [location]
command_line() {
  local line="$(field "$1") $(field Log)"
  [ "${3:-}" == upgrade ] && [ -n "$(field Upgrade)" ] && line+=" $(field Upgrade)"
  [ "${4:-}" == location ] && line+=" $(field InstallLocation)"
  line=${line//<INSTALLPATH>/$LOCATION}
  printf '%s' "${line//<LOGPATH>/$2}"
}

# winget_run NAME PROGRAM ARGUMENTS: the program started with that one command line,
# through cmd as winget hands it over; WINGET_EXIT is its full exit code.
WINGET_RUNS=0
winget_run() {
  local bat=winget$((++WINGET_RUNS))
  printf '@echo off\r\n"%s" %s\r\necho exitcode=%%ERRORLEVEL%%\r\n' "$2" "$3" >"$(drive_c)/e2e/$bat.bat"
  note "$1: $2 $3"
  timeout "$RUN_TIMEOUT" "$WINE" cmd /c "C:\\e2e\\$bat.bat" >"$WORK/$bat.out" 2>&1 </dev/null
  WINGET_EXIT=$(tr -d '\r' <"$WORK/$bat.out" | sed -n 's/^exitcode=//p' | tail -n1)
  stop_server
}

entry() { wine_out reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(field ProductCode)" /reg:32; }
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$ENTRY"; }

# uninstall NAME: winget uninstall --silent: the entry's QuietUninstallString as it stands.
winget_uninstall() {
  ENTRY=$(entry)
  local quiet=$(value QuietUninstallString) program
  [ -n "$quiet" ] || { fail "$1: no QuietUninstallString"; return; }
  program=${quiet#\"}
  program=${program%%\"*}
  winget_run "$1" "$program" "${quiet#\"$program\" }"
  check "$1: exit code" 0 "$WINGET_EXIT"
  entry >/dev/null
  check "$1: the Apps & Features entry is gone (reg query's exit code)" 1 $?
}

use_prefix winget fresh
mkdir -p "$(drive_c)/winget logs" "$(wine_out winepath -u "${DEFAULT_LOG%\\*}" | tail -n1)"
DEFAULT_LOG_FILE=$(wine_out winepath -u "$DEFAULT_LOG" | tail -n1)

step "winget install --silent"
rm -f "$DEFAULT_LOG_FILE"
winget_run install "$(winpath "$SETUP_EXE")" "$(command_line Silent "$DEFAULT_LOG")"
check "exit code" 0 "$WINGET_EXIT"
check_contains "the log: a silent run into the default folder" \
  'flags: [Auto, Silent], destination: "C:\Program Files (x86)\KIVO\"' "$(log_text "$DEFAULT_LOG_FILE")"
check_true "installed into Program Files (x86)" test -f "$(drive_c)/Program Files (x86)/KIVO/Uninstall.exe"

step "winget uninstall --silent"
winget_uninstall uninstall
check "the folder's files are gone" "" "$(ls "$(drive_c)/Program Files (x86)/KIVO/KIVO.exe" 2>/dev/null)"

step "winget install --silent --location \"$LOCATION\" --log \"$LOGPATH\""
winget_run install-location "$(winpath "$SETUP_EXE")" "$(command_line Silent "$LOGPATH" - location)"
check "exit code" 0 "$WINGET_EXIT"
DEST="$(drive_c)/Program Files/Acme Apps/KIVO"
check "installed into the location" yes "$([ -f "$DEST/Uninstall.exe" ] && echo yes || echo no)"
LOG_FILE="$(drive_c)/winget logs/kivo.log"
check "the log is where winget asked" yes "$([ -s "$LOG_FILE" ] && echo yes || echo no)"
check_contains "the log: a silent run" "flags: [Auto, Silent]" "$(log_text "$LOG_FILE")"
check "the log: exit code 0" 'Exit code: 0' "$(log_text "$LOG_FILE" | tail -n1)"

step "the Apps & Features entry"
ENTRY=$(entry)
check "DisplayName" "$(field DisplayName)" "$(value DisplayName)"
check "DisplayVersion" "$(field DisplayVersion)" "$(value DisplayVersion)"
check "Publisher" "$(field Publisher)" "$(value Publisher)"
check "InstallLocation" "$LOCATION\\" "$(value InstallLocation)"

step "winget upgrade --silent, over that installation"
rm -f "$DEFAULT_LOG_FILE"
winget_run upgrade "$(winpath "$SETUP_EXE")" "$(command_line Silent "$DEFAULT_LOG" upgrade)"
check "exit code" 0 "$WINGET_EXIT"
UPGRADE_LOG=$(log_text "$DEFAULT_LOG_FILE")
check_contains "the log: a silent update of the installation found" \
  "flags: [Auto, Update, Silent], destination: \"$LOCATION\\\"" "$UPGRADE_LOG"
check "the log: exit code 0" 'Exit code: 0' "$(tail -n1 <<<"$UPGRADE_LOG")"

step "winget uninstall --silent"
winget_uninstall uninstall-location
check "the location's files are gone" "" "$(ls "$DEST/KIVO.exe" "$DEST/Uninstall.exe" 2>/dev/null)"

# Other launchers pass the same /DEST="<folder>" (or /AUTO=, /LOG=) as one argument and
# escape its inner quotes. Each form installs into the folder named, or fails with 1603
# and a message that says why: never into a folder made of fragments.
step "/DEST=\"…\", /AUTO=\"…\", /LOG=\"…\" with escaped quotes, as launchers pass them"
while IFS='|' read -r what line folder; do
  rm -rf "$(drive_c)/Escaped"
  winget_run escaped "$(winpath "$SETUP_EXE")" "$line"
  check "$what: exit code" 0 "$WINGET_EXIT"
  check_true "$what: installed into $folder" test -f "$(drive_c)/${folder//\\//}/Uninstall.exe"
  winget_uninstall "$what: uninstall"
done <<'LINES'
list2cmdline /DEST|/AUTO /SILENT "/DEST=\"C:\Escaped\Acme Tools\"" "/LOG=\"C:\winget logs\escaped.log\""|Escaped\Acme Tools
unquoted escaped /DEST|/AUTO /SILENT /DEST=\"C:\Escaped\Acme Tools\" /LOG=\"C:\winget logs\escaped.log\"|Escaped\Acme Tools
escaped /AUTO, final backslash|"/AUTO=\"C:\Escaped\Acme Tools\\\"" /SILENT|Escaped\Acme Tools
LINES
check_true "the escaped /LOG was written" test -s "$(drive_c)/winget logs/escaped.log"
check "no folder of fragments" "" "$(ls -d "$(drive_c)/C" "$(drive_c)/Escaped/Acme" 2>/dev/null)"

step "Wine's own quoting of /DEST=\"C:\\Escaped\\Wine Quoted\""
timeout "$RUN_TIMEOUT" "$WINE" "$SETUP_EXE" /AUTO /SILENT '/DEST="C:\Escaped\Wine Quoted"' >"$WORK/wine-quoted.out" 2>&1 </dev/null
check "exit code" 0 "$?"
stop_server
check_true "installed into C:\\Escaped\\Wine Quoted" test -f "$(drive_c)/Escaped/Wine Quoted/Uninstall.exe"
winget_uninstall "Wine's quoting: uninstall"

step "an escaped quote that is never closed: 1603 and why, nothing installed"
rm -rf "$(drive_c)/Escaped" "$(drive_c)/C"
rm -f "$(drive_c)/broken.log"
winget_run broken "$(winpath "$(helper run_in_station.exe)")" \
  "40000 $(winpath "$SETUP_EXE") /AUTO /SILENT /DEST=\\\"C:\\Escaped\\Acme Tools /LOG=C:\\broken.log"
check "exit code" 1603 "$WINGET_EXIT"
check_contains "the log says why" 'the value of /DEST, \"C:\Escaped\Acme, holds a quotation mark' \
  "$(log_text "$(drive_c)/broken.log" 2>/dev/null)"
check "nothing installed anywhere" "" "$(ls -d "$(drive_c)/Escaped" "$(drive_c)/C" 2>/dev/null)"

finish
