#!/usr/bin/env bash
# A silent run that fails: the destination cannot be created because a file stands
# where a folder should be (C:\blocker). The run ends with one "Setup" message box
# whose text is the error list, the first entry the E3 text naming the destination,
# and the exit code 1603; nothing is registered.
source "$(dirname "$0")/lib.sh"
need_display "$@"

# The E3 text of the English language file, as the setup formats it.
E3=$(iconv -f UTF-16 -t UTF-8 "${KIVO_SETUP_STAGE:?}/English.lng" | tr -d '\r' |
  awk '/^\[/ { s = ($0 == "[Common]"); next } s && /^E3=/ { sub(/^E3=/, ""); print; exit }')
[ -n "$E3" ] || fatal "no E3 text in section Common of $KIVO_SETUP_STAGE/English.lng"
DEST='C:\blocker\KIVO\'
EXPECTED_FIRST_LINE=${E3/\%s/"$DEST"}

use_prefix failed fresh
echo "a file, not a folder" >"$(drive_c)/blocker"

step "Setup.exe /AUTO=C:\\blocker\\KIVO /SILENT /LOG=C:\\failed.log"
start_win "$WORK/failed.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\blocker\KIVO' /SILENT '/LOG=C:\failed.log'
if answer_setup_box "failed silent run"; then
  # The list is joined with CR LF after every entry; the driver shows them as \r\n.
  FIRST_LINE=${BOX_TEXT%%\\r\\n*}
  check "message: first line is the E3 text" "$EXPECTED_FIRST_LINE" "$FIRST_LINE"
  check "message: ends with CR LF" '\r\n' "${BOX_TEXT: -4}"
  check_contains "message: what the failure left" 'Nothing was installed, and nothing of this run was left behind.' "$BOX_TEXT"
  check_contains "message: where the details are" 'The details are in the log: C:\failed.log' "$BOX_TEXT"
fi
end_win 30
check "exit code" 1603 "$RUN_EXIT"
stop_server

check "C:\\blocker is still the file" "a file, not a folder" "$(cat "$(drive_c)/blocker" 2>/dev/null)"
LOG=$(log_text "$(drive_c)/failed.log" 2>/dev/null)
check "log: the error entry" "Error: $EXPECTED_FIRST_LINE" "$(grep '^Error:' <<<"$LOG")"
check "log: the message shown" "Setup error: $EXPECTED_FIRST_LINE" "$(grep '^Setup error:' <<<"$LOG")"
check "log: last entry" 'Exit code: 1603' "$(tail -n1 <<<"$LOG")"
wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO' /reg:32 >/dev/null
check "no uninstall entry (reg query's exit code)" 1 $?

# A Setup.exe whose product package is damaged: the package decodes behind start-up and,
# in a silent run, during the run's first pause, but the run still fails with the
# package's error before it writes anything, and the temporary file the decode wrote is gone.
step "a damaged product package: 1603 before anything is written"
BAD_DIR=$WORK/damaged
mkdir -p "$BAD_DIR"
"${KIVO_HOST_PACKAGE_TOOL:?}" build "$BAD_DIR/product.ipk" "${KIVO_PRODUCT_STAGE:?}" >/dev/null
python3 - "$SETUP_EXE" "$BAD_DIR/product.ipk" "$BAD_DIR/Setup.exe" <<'PY' || fatal "the product package is not in Setup.exe"
import sys
exe = bytearray(open(sys.argv[1], "rb").read())
package = open(sys.argv[2], "rb").read()
at = exe.find(package)
if at < 0 or exe.find(package, at + 1) >= 0:
    sys.exit(1)
exe[at + len(package) // 2] ^= 0x10
open(sys.argv[3], "wb").write(exe)
PY
find_temp_folder
start_win "$WORK/damaged.out" "$(winpath "$BAD_DIR/Setup.exe")" '/AUTO=C:\Damaged' /SILENT '/LOG=C:\damaged.log'
if answer_setup_box "damaged product"; then
  check_contains "message: the package's error" "Package was corrupted" "$BOX_TEXT"
  check_contains "message: nothing was installed" "Nothing was installed" "$BOX_TEXT"
fi
end_win 30
check "exit code" 1603 "$RUN_EXIT"
stop_server
check_true "C:\Damaged was not made" test ! -e "$(drive_c)/Damaged"
check "no payload folder left in %TEMP%" "" "$(find "$TEMP_UNIX" -maxdepth 1 -name 'KIVO Setup *' | head -n1)"
check "log: last entry" 'Exit code: 1603' "$(log_text "$(drive_c)/damaged.log" | tail -n1)"
finish
