#!/usr/bin/env bash
# A silent installation on a clean machine, as a deployment tool runs it:
#   Setup.exe /AUTO=C:\KIVO /SILENT /LOG=C:\setup.log
# then everything it left behind: the product's files byte for byte, the uninstaller
# and its data, KIVO.ini, the run log and the uninstall entry. Its prefix ("installed")
# is where the uninstaller scenarios run afterwards.
source "$(dirname "$0")/lib.sh"

STAGE=${KIVO_PRODUCT_STAGE:?}
INSTALL_XML=${KIVO_SETUP_STAGE:?}/Install.xml
LANGUAGE_FAMILY=EN  # English, the language of an /AUTO run on an English system

# The script's component entries, one per line: "family|target|member", the
# target relative to $DEST, both with backslashes. An entry without text takes the
# member named like the target file.
components() {
  local entry name family text target
  sed -n '/<Components>/,/<\/Components>/p' "$INSTALL_XML" | grep -o '<File [^>]*\(/>\|>[^<]*</File>\)' |
    while IFS= read -r entry; do
      name=$(sed -n 's/.* name="\([^"]*\)".*/\1/p' <<<"$entry")
      family=$(sed -n 's/.* lang-family="\([^"]*\)".*/\1/p' <<<"$entry")
      text=$(sed -n 's/.*>\([^<]*\)<\/File>.*/\1/p' <<<"$entry")
      target=${name#\$DEST\\}
      printf '%s|%s|%s\n' "$family" "$target" "${text:-${target##*\\}}"
    done
}

# has_member NAME: an entry on standard input takes that member (any letter case).
has_member() { M=$1 awk -F'|' 'tolower($3) == tolower(ENVIRON["M"]) { found = 1 } END { exit !found }'; }

unix() { printf '%s' "${1//\\//}"; }

use_prefix installed fresh
DEST=$(drive_c)/KIVO

step "Setup.exe /AUTO=C:\\KIVO /SILENT /LOG=C:\\setup.log"
run_win "$WORK/installed.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\setup.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
[ -d "$DEST" ] || fatal "C:\\KIVO was not created; run log:"$'\n'"$(cat "$(drive_c)/setup.log" 2>/dev/null)"

step "the product's files"
[ -f "$INSTALL_XML" ] || fatal "no Install.xml at $INSTALL_XML"
ENTRIES=$(components)
[ -n "$ENTRIES" ] || fatal "no component entries found in $INSTALL_XML"
# The entries of this language: no family, or the chosen one.
WANTED=$(awk -F'|' -v family="$LANGUAGE_FAMILY" '$1 == "" || toupper($1) == family' <<<"$ENTRIES")
note "$(wc -l <<<"$WANTED") of $(wc -l <<<"$ENTRIES") component entries are for family $LANGUAGE_FAMILY"
while IFS='|' read -r family target member; do
  [[ "$target" != *'$'* ]] || { fail "entry $target: only targets under \$DEST are expected"; continue; }
  [ -f "$STAGE/$(unix "$member")" ] || { fail "entry $target: member $member is not in the stage folder $STAGE"; continue; }
  check_same_file "C:\\KIVO\\$target (from $member)" "$STAGE/$(unix "$member")" "$DEST/$(unix "$target")"
done <<<"$WANTED"
# Every file of the stage folder belongs to some entry; those of other families are
# not installed under their own names.
while IFS= read -r file; do
  member=${file//\//\\}
  if ! has_member "$member" <<<"$ENTRIES"; then
    fail "stage file $file is not installed by any component entry of Install.xml"
  elif ! has_member "$member" <<<"$WANTED" && [ -e "$DEST/$file" ]; then
    fail "C:\\KIVO\\$member belongs to another language family but was installed"
  else
    pass
  fi
done < <(cd "$STAGE" && find . -type f | sed 's|^\./||' | sort)

step "the uninstaller"
check_same_file "Uninstall.exe is a copy of Setup.exe" "$SETUP_EXE" "$DEST/Uninstall.exe"
check_true "Uninstall.dat exists" test -s "$DEST/Uninstall.dat"
# Uninstall.ini inside Uninstall.dat: the installed files in script order, then the
# uninstaller's two files.
"$WINE" "$KIVO_IPKTOOL_EXE" cat 'C:\KIVO\Uninstall.dat' Uninstall.ini >"$WORK/Uninstall.ini" 2>/dev/null </dev/null
UNINSTALL_INI=$(iconv -f UTF-16 -t UTF-8 "$WORK/Uninstall.ini" 2>/dev/null | tr -d '\r')
LISTED=$(awk '/^\[/ { s = ($0 == "[Uninstall]") } s && /^[0-9]+=/' <<<"$UNINSTALL_INI" | sort -t= -k1,1n | cut -d= -f2-)
EXPECTED_LIST=$(cut -d'|' -f2 <<<"$WANTED"; printf 'Uninstall.dat\nUninstall.exe')
check "Uninstall.ini lists the installed files" "$EXPECTED_LIST" "$LISTED"
check "Uninstall.ini Count" "$(wc -l <<<"$EXPECTED_LIST")" \
  "$(awk '/^\[/ { s = ($0 == "[Uninstall]") } s' <<<"$UNINSTALL_INI" | sed -n 's/^Count=//p')"

step "KIVO.ini"
if [ -f "$DEST/KIVO.ini" ]; then
  check "KIVO.ini is UTF-16LE with a byte-order mark" "ff fe" "$(head -c2 "$DEST/KIVO.ini" | od -An -tx1 | xargs)"
  INI=$(iconv -f UTF-16 -t UTF-8 "$DEST/KIVO.ini" | tr -d '\r')
  SYSTEM=$(awk '/^\[/ { s = ($0 == "[System]"); next } s && NF' <<<"$INI" | sort)
  check "[System] of KIVO.ini" $'DefaultLang=English.lng\nUserMode=1\nVersion=5100' "$SYSTEM"
else
  fail "C:\\KIVO\\KIVO.ini is missing"
fi

step "the run log C:\\setup.log"
LOG=$(log_text "$(drive_c)/setup.log" 2>/dev/null)
check "first entry: the command line" 'Command line: /AUTO=C:\KIVO /SILENT /LOG=C:\setup.log' "$(head -n1 <<<"$LOG")"
check_contains "mode" 'Mode: install, flags: [Auto, Silent], destination: "C:\KIVO\"' "$LOG"
STARTED=$(sed -n 's/^Action \(.*\) starts$/\1/p' <<<"$LOG")
for action in TInstallerActionExtract TInstallerActionConfig; do
  check_contains "action $action ran" "$action" "$STARTED"
done
for action in $STARTED; do
  # Each action's end follows its start.
  check "action $action: start, then end with its duration" "starts ends" \
    "$(grep -E "^Action $action (starts|ends after [0-9]+ ms)$" <<<"$LOG" | awk '{ print $3 }' | xargs)"
done
while IFS='|' read -r family target member; do
  # Written ahead during the close pass's pause, then put in place by a rename.
  check_contains "log: file written" "Written: C:\\KIVO\\$target (put in place)" "$LOG"
done <<<"$WANTED"
check "no run folder left" "" "$(ls -d "$(drive_c)"/KIVO/~KIVO* 2>/dev/null)"
check_contains "log: uninstaller written" 'Written: C:\KIVO\Uninstall.exe' "$LOG"
check_contains "log: configuration written" 'Written: C:\KIVO\KIVO.ini' "$LOG"
check "no error entries" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"
check "last entry: the exit code" 'Exit code: 0' "$(tail -n1 <<<"$LOG")"

step "the uninstall entry"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO'
ENTRY=$(wine_out reg query "$KEY" /reg:32)
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$ENTRY"; }
check "UninstallString (quoted)" '"C:\KIVO\Uninstall.exe"' "$(value UninstallString)"
check "QuietUninstallString" '"C:\KIVO\Uninstall.exe" /AUTO /SILENT' "$(value QuietUninstallString)"
check "DisplayName" KIVO "$(value DisplayName)"
check "DisplayVersion" 5.10.0.0 "$(value DisplayVersion)"
check "InstallPath" 'C:\KIVO\' "$(value InstallPath)"
check "DisplayIcon" 'C:\KIVO\Uninstall.exe' "$(value DisplayIcon)"
check "InstallDate" "$(date +%Y%m%d)" "$(value InstallDate)"
# A 64-bit setup still writes where 32-bit programs look.
wine_out reg query "$KEY" /reg:64 >/dev/null
check "no entry in the 64-bit view" 1 $?
LIST=$(wine_out uninstaller --list)
check "uninstaller --list shows KIVO" 1 "$(grep -c '^KIVO|||' <<<"$LIST")"

# The uninstaller scenarios remove the installation; each starts again from this copy.
stop_server
save_installation
finish
