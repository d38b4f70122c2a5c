#!/bin/bash
# Drives a real message box with the UI driver under Wine: finds it, reads its texts,
# clicks a button by caption and by id, and closes one. Usage: selftest.sh <folder with uidriver.exe and msgbox_probe.exe>
# (runs itself under xvfb-run when there is no display).
set -u
DIR=${1:?folder with uidriver.exe and msgbox_probe.exe}
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a "$0" "$@"; fi
export WINEDEBUG=-all
WINE=${WINE:-wine}
FAILED=0
PASSED=0
check() {  # name, expected, actual
  if [ "$2" == "$3" ]; then PASSED=$((PASSED + 1)); else FAILED=$((FAILED + 1)); echo "FAIL: $1: expected [$2], got [$3]"; fi
}
drive() { "$WINE" "$DIR/uidriver.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# 1. Click by caption, with the accelerator left out and in another letter case.
"$WINE" "$DIR/msgbox_probe.exe" "Driver Probe 1" & PROBE=$!
HANDLE=$(drive wait --title "Driver Probe 1" --timeout 20000); check "wait finds the box" 0 $?
[[ "$HANDLE" =~ ^0x[0-9A-F]+$ ]]; check "wait prints a handle" 0 $?
drive list | grep -qxF "#32770	Driver Probe 1"; check "list shows the box" 0 $?
TEXTS=$(drive texts --class "#32770" --title "Driver Probe 1")
check "texts: title first" "Driver Probe 1" "$(head -n1 <<<"$TEXTS")"
grep -qxF "Button	4	&Retry" <<<"$TEXTS"; check "texts: retry button" 0 $?
grep -qF "KIVO.exe\".\r\nÜberprüfen Sie: доступ" <<<"$TEXTS"; check "texts: UTF-8 message, line break escaped" 0 $?
drive click --title "Driver Probe 1" --button retry; check "click by caption" 0 $?
wait $PROBE; check "the box answered Retry" 4 $?

# 2. Click by id.
"$WINE" "$DIR/msgbox_probe.exe" "Driver Probe 2" & PROBE=$!
drive click --class "#32770" --title "Driver Probe 2" --id 5 --timeout 20000; check "click by id" 0 $?
wait $PROBE; check "the box answered Ignore" 5 $?

# 3. WM_CLOSE, waiting until the window has gone.
"$WINE" "$DIR/msgbox_probe.exe" "Driver Probe 3" okcancel & PROBE=$!
drive close --title "Driver Probe 3" --wait --timeout 20000; check "close --wait" 0 $?
wait $PROBE; check "the box answered Cancel" 2 $?

# 4. Gone windows and wrong command lines.
drive wait --title "Driver Probe 3" --timeout 300 2>/dev/null; check "wait times out" 1 $?
drive click --title "Driver Probe 2" 2>/dev/null; check "click without a button is a usage error" 2 $?
drive frobnicate --title x 2>/dev/null; check "unknown command" 2 $?

"${WINESERVER:-wineserver}" -w 2>/dev/null
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
