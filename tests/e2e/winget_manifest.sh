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
for key in Silent SilentWithProgress InstallLocation Log Upgrade; do
  value=$(field "$key")
  [ -n "$value" ] || { fail "InstallerSwitches.$key is missing"; continue; }
  for name in $(grep -oE '/[A-Za-z]+' <<<"$value" | tr -d / | tr a-z A-Z); do
    check "$key: /$name is read by Setup.exe" yes "$(grep -qx "$name" <<<"$READ" && echo yes || echo no)"
  done
done

step "the return codes are the setup's"
while read -r code; do
  check "return code $code is one Setup.exe ends with" yes \
    "$(grep -rqE "\b$code\b" "$SOURCES/core" && echo yes || echo no)"
done < <(sed -n 's/.*InstallerReturnCode: *\([0-9]*\).*/\1/p' "$MANIFEST")

# winget's command line: the mode's switches, then the location and the log, each with
# its token replaced.
LOCATION='C:\Program Files\Acme Apps\KIVO'
LOGPATH='C:\winget logs\kivo.log'
command_line() {
  local line="$(field "$1") $(field InstallLocation) $(field Log)"
  line=${line//<INSTALLPATH>/$LOCATION}
  printf '%s' "${line//<LOGPATH>/$LOGPATH}"
}

step "winget install --silent --location \"$LOCATION\" --log \"$LOGPATH\""
use_prefix winget fresh
mkdir -p "$(drive_c)/winget logs"
LINE=$(command_line Silent)
note "Setup.exe $LINE"
# Through cmd, as a command line: winget hands the setup one string.
printf '@echo off\r\n"%s" %s\r\necho exitcode=%%ERRORLEVEL%%\r\n' "$(winpath "$SETUP_EXE")" "$LINE" >"$(drive_c)/e2e/winget.bat"
timeout "$RUN_TIMEOUT" "$WINE" cmd /c 'C:\e2e\winget.bat' >"$WORK/winget.out" 2>&1 </dev/null
check "exit code" 0 "$(tr -d '\r' <"$WORK/winget.out" | sed -n 's/^exitcode=//p' | tail -n1)"
stop_server
DEST="$(drive_c)/Program Files/Acme Apps/KIVO"
check "installed into the location" yes "$([ -f "$DEST/Uninstall.exe" ] && echo yes || echo no)"
LOG_FILE="$(drive_c)/winget logs/kivo.log"
check "the log is where winget asked" yes "$([ -s "$LOG_FILE" ] && echo yes || echo no)"
check_contains "the log: a silent run" "flags: [Auto, Silent]" "$(log_text "$LOG_FILE")"
check "the log: exit code 0" 'Exit code: 0' "$(log_text "$LOG_FILE" | tail -n1)"

step "the Apps & Features entry"
ENTRY=$(wine_out reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(field ProductCode)" /reg:32)
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$ENTRY"; }
check "DisplayName" "$(field DisplayName)" "$(value DisplayName)"
check "DisplayVersion" "$(field DisplayVersion)" "$(value DisplayVersion)"
check "Publisher" "$(field Publisher)" "$(value Publisher)"
check "InstallLocation" "$LOCATION\\" "$(value InstallLocation)"

finish
