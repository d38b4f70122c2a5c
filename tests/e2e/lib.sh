# Common parts of the end-to-end tests of Setup.exe under Wine: Wine prefixes, running a
# Windows program with its full exit code, reading and answering message boxes with the
# UI driver, and checks that say what was expected and what was seen.
#
# The scenario scripts source this file. CMake passes, in the environment:
#   KIVO_E2E_WORK       folder for the prefixes of this test run
#   KIVO_SETUP_EXE      the Setup.exe under test
#   KIVO_UIDRIVER_EXE   tests/uidriver's uidriver.exe
#   KIVO_IPKTOOL_EXE    the package tool, Windows build
#   KIVO_PRODUCT_STAGE  the folder packed into the "PRODUCT" package
#   KIVO_SETUP_STAGE    the folder packed into the "SETUP" package (Install.xml, *.lng)
#   WINE, WINESERVER    the Wine launcher and server
set -u

WORK=${KIVO_E2E_WORK:?}
WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-wineserver}
export WINEDEBUG=-all
BASE_PREFIX=$WORK/base
# Linux paths; Wine runs the programs from its Z: drive.
SETUP_EXE=${KIVO_SETUP_EXE:-}
UIDRIVER_EXE=${KIVO_UIDRIVER_EXE:-}
# How long one program may run before the test gives up on it (seconds).
RUN_TIMEOUT=${KIVO_E2E_RUN_TIMEOUT:-60}

PASSED=0
FAILED=0
SCENARIO_PREFIX=""

step() { echo; echo "=== $*"; }
note() { echo "    $*"; }

pass() { PASSED=$((PASSED + 1)); }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $*"; }

# A precondition of the scenario does not hold: nothing after it can be checked.
fatal() {
  echo "FATAL: $*"
  FAILED=$((FAILED + 1))
  finish
}

# check NAME EXPECTED ACTUAL
check() {
  if [ "$2" == "$3" ]; then
    pass
  else
    fail "$1"$'\n'"      expected: [$2]"$'\n'"      seen:     [$3]"
  fi
}

# check_true NAME COMMAND...: the command succeeds.
check_true() {
  local name=$1
  shift
  if "$@"; then pass; else fail "$name"; fi
}

# check_contains NAME NEEDLE HAYSTACK (fixed string)
check_contains() {
  if grep -qF -- "$2" <<<"$3"; then
    pass
  else
    fail "$1"$'\n'"      expected to contain: [$2]"$'\n'"      seen: [$3]"
  fi
}

# check_same_file NAME EXPECTED-FILE ACTUAL-FILE
check_same_file() {
  if [ ! -f "$3" ]; then
    fail "$1: $3 is missing"
  elif ! cmp -s "$2" "$3"; then
    fail "$1: $3 differs from $2 ($(stat -c %s "$2") bytes expected, $(stat -c %s "$3") seen)"
  else
    pass
  fi
}

# The Windows path of a Linux path, through Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

drive_c() { printf '%s/drive_c' "$WINEPREFIX"; }

# Re-runs the calling script under a virtual X display when there is none: the
# scenarios that expect a message box need one.
need_display() {
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 ${KIVO_SCREEN:-1280x1024}x24" bash "$0" "$@"
  fi
}

stop_server() {
  timeout 60 "$WINESERVER" -w 2>/dev/null || "$WINESERVER" -k 2>/dev/null || true
}

# Makes the one base prefix of the test run: wineboot, Windows 10, and the batch file
# that reports a program's full exit code (the wine launcher passes on only its low
# byte: 1603 arrives as 67).
make_base_prefix() {
  rm -rf "$WORK"
  mkdir -p "$WORK"
  export WINEPREFIX=$BASE_PREFIX
  "$WINE" wineboot -i >/dev/null 2>&1 </dev/null
  "$WINE" winecfg -v win10 >/dev/null 2>&1 </dev/null
  stop_server
  [ -f "$WINEPREFIX/system.reg" ] || return 1
  mkdir -p "$(drive_c)/e2e"
  printf '@echo off\r\n%%*\r\necho exitcode=%%ERRORLEVEL%%\r\n' >"$(drive_c)/e2e/run.bat"
}

# use_prefix NAME [fresh]: selects the prefix $WORK/NAME; "fresh" makes it a new copy
# of the base prefix (a clean machine).
use_prefix() {
  export WINEPREFIX=$WORK/$1
  SCENARIO_PREFIX=$WINEPREFIX
  if [ "${2:-}" == fresh ]; then
    [ -f "$BASE_PREFIX/system.reg" ] || fatal "no base prefix at $BASE_PREFIX (the e2e.prefix test makes it)"
    [ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null
    rm -rf "$WINEPREFIX"
    cp -a "$BASE_PREFIX" "$WINEPREFIX" || fatal "cannot copy the base prefix"
  fi
  [ -f "$WINEPREFIX/system.reg" ] || fatal "no Wine prefix at $WINEPREFIX"
  rm -f "$WINEPREFIX/.e2e-failed"
}

# Lists the visible top-level windows, for failure messages.
visible_windows() { drive list | sed 's/^/      window: /'; }

# run_win OUT COMMAND-LINE...: runs a Windows program through the batch file and waits
# for it; sets RUN_EXIT to its full exit code ("timeout" when it did not end in time).
# Its console output goes to OUT.
run_win() {
  local out=$1
  shift
  session_up
  timeout "$RUN_TIMEOUT" "$WINE" cmd /c 'C:\e2e\run.bat' "$@" >"$out" 2>&1 </dev/null
  if [ $? -eq 124 ]; then
    RUN_EXIT=timeout
    echo "    $1 did not end within $RUN_TIMEOUT s; what is on the screen:"
    visible_windows
    return
  fi
  RUN_EXIT=$(tr -d '\r' <"$out" | sed -n 's/^exitcode=//p' | tail -n1)
  [ -n "$RUN_EXIT" ] || RUN_EXIT="none (console output: $(tr -d '\r' <"$out" | tr '\n' ' '))"
}

# session_up: the prefix's session brought up by a program of its own, before the one a
# scenario runs. Two programs that both start a session's services race, and so does one
# started while the last session is ending (Wine then fails to start it: "ShellExecuteEx
# failed: Internal error"); a caller of start_win goes on to run the UI driver at once.
session_up() { "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null; }

# start_win OUT COMMAND-LINE...: the same in the background; end_win collects it.
start_win() {
  local out=$1
  shift
  RUN_OUT=$out
  session_up
  timeout "$RUN_TIMEOUT" "$WINE" cmd /c 'C:\e2e\run.bat' "$@" >"$out" 2>&1 </dev/null &
  RUN_PID=$!
}

# end_win SECONDS: waits that long for the program of start_win; sets RUN_EXIT.
end_win() {
  local waited=0
  while kill -0 "$RUN_PID" 2>/dev/null && [ "$waited" -lt $(($1 * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$RUN_PID" 2>/dev/null; then
    RUN_EXIT=timeout
    echo "    the program did not end within $1 s; what is on the screen:"
    visible_windows
    "$WINESERVER" -k 2>/dev/null
    wait "$RUN_PID" 2>/dev/null
    return
  fi
  wait "$RUN_PID" 2>/dev/null
  RUN_EXIT=$(tr -d '\r' <"$RUN_OUT" | sed -n 's/^exitcode=//p' | tail -n1)
  [ -n "$RUN_EXIT" ] || RUN_EXIT="none (console output: $(tr -d '\r' <"$RUN_OUT" | tr '\n' ' '))"
}

# wait_for_file PATH: true once PATH exists; a helper program that has to start under
# Wine on a loaded machine may take long, so this waits up to two minutes.
wait_for_file() {
  local deadline=$((SECONDS + 120))
  while [ ! -e "$1" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# wine_out PROGRAM ARGS...: runs a Windows program and prints its output (standard
# output and error) without CR; returns its exit status. The output goes through a
# file, never a pipe: the first program of a Wine session starts the session's
# services, which inherit its handles and would hold a pipe open until Wine ends.
wine_out() {
  local out=$WORK/wine-out.$$ status
  "$WINE" "$@" >"$out" 2>&1 </dev/null
  status=$?
  tr -d '\r' <"$out"
  rm -f "$out"
  return "$status"
}

# The UI driver.
drive() { wine_out "$UIDRIVER_EXE" "$@"; }

# answer_setup_box NAME: waits for the "Setup" message box (the toolkit's), checks that
# it is the only one, sets BOX_TEXT to its message (CR, LF and TAB written as \r, \n,
# \t) and clicks OK. False when no such box turned up.
answer_setup_box() {
  local texts boxes windows
  BOX_TEXT=""
  if ! texts=$(drive texts --class TZELMessageForm --title Setup --timeout 30000); then
    fail "$1: no \"Setup\" message box appeared ($texts); what is on the screen:"
    visible_windows
    return 1
  fi
  BOX_TEXT=$(sed -n 's/^Static\t65535\t//p' <<<"$texts")
  windows=$(drive list)
  boxes=$(grep -cxF $'TZELMessageForm\tSetup' <<<"$windows")
  check "$1: one \"Setup\" message box" 1 "$boxes"
  check "$1: the box has an OK button" 1 "$(grep -c $'^Button\t1\tOK$' <<<"$texts")"
  drive click --class TZELMessageForm --title Setup --button OK >/dev/null ||
    fail "$1: could not click OK in the \"Setup\" box"
}

# The run log without its timestamps, CR removed.
log_text() { cut -c26- "$1" | tr -d '\r'; }

# finish: waits for the prefix's processes, prints the count and ends the script. A
# failed scenario keeps its prefix for a look (cleanup.sh leaves it).
finish() {
  if [ -n "$SCENARIO_PREFIX" ]; then
    if [ "$FAILED" -gt 0 ]; then
      "$WINESERVER" -k 2>/dev/null
      touch "$SCENARIO_PREFIX/.e2e-failed"
      echo "    the Wine prefix is kept for a look: $SCENARIO_PREFIX"
    else
      stop_server
    fi
  fi
  echo
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ] && exit 0
  exit 1
}

# The prefix's temporary folder (what GetTempPath gives): TEMP_WIN and TEMP_UNIX.
find_temp_folder() {
  TEMP_WIN=$(wine_out cmd /c echo '%TEMP%' | tail -n1)
  TEMP_WIN=${TEMP_WIN%\\}
  TEMP_UNIX=$(wine_out winepath -u "$TEMP_WIN" | tail -n1)
  TEMP_UNIX=${TEMP_UNIX%/}
  [ -n "$TEMP_WIN" ] && [ -d "$TEMP_UNIX" ] || fatal "cannot find the temporary folder (TEMP=[$TEMP_WIN], [$TEMP_UNIX])"
}

# peer_uninstall_ini DAT: prints the Uninstall.ini of an Uninstall.dat (Linux path), read
# with the independent Python reader of the package format, as UTF-8 without CR.
peer_uninstall_ini() {
  python3 - "$1" "$(dirname "${BASH_SOURCE[0]}")/../tools" <<'PY'
import sys
sys.path.insert(0, sys.argv[2])
import ipk5_peer
with open(sys.argv[1], "rb") as f:
    members = dict(ipk5_peer.members_of(f.read()))
text = members["Uninstall.ini"]
sys.stdout.write(text.decode("utf-16").replace("\r", ""))
PY
}

# The file names that an Uninstall.ini lists, one per line, in order.
listed_files() { awk '/^\[/ { s = ($0 == "[Uninstall]") } s && /^[0-9]+=/' | sort -t= -k1,1n | cut -d= -f2-; }

# A helper program of the tests (Linux path of tests/helpers' Windows build).
helper() { printf '%s/%s' "${KIVO_HELPER_DIR:?}" "$1"; }

# --- the whole product: installs, shortcuts, uninstall data -------------------------------

# set_windows_version VERSION: win7, win8, win10 for the prefix in use.
set_windows_version() {
  "$WINE" winecfg -v "$1" >/dev/null 2>&1 </dev/null
  stop_server
}

# The action classes of a run log's text (log_text), without "TInstallerAction", in the
# order they started, on one line.
action_order() { sed -n 's/^Action TInstallerAction\(.*\) starts$/\1/p' <<<"$1" | xargs; }

# The target path stored in each shell link (Windows paths), one per line.
link_targets() { wine_out "$(helper read_link.exe)" "$@"; }

# The Windows path of the prefix's common desktop and start-menu programs folders.
COMMON_DESKTOP='C:\users\Public\Desktop'
COMMON_PROGRAMS='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
common_desktop() { printf '%s/users/Public/Desktop' "$(drive_c)"; }
common_programs() { printf '%s/ProgramData/Microsoft/Windows/Start Menu/Programs' "$(drive_c)"; }

# make_uninstall_dat DAT < INI-TEXT: writes an Uninstall.dat (Linux path) whose only
# member "Uninstall.ini" holds the text read from standard input (UTF-8, LF or CR LF),
# with the package tool.
make_uninstall_dat() {
  local dir
  dir=$(mktemp -d "$WORK/dat.XXXXXX")
  sed 's/\r*$/\r/' >"$dir/Uninstall.ini"
  "$WINE" "${KIVO_IPKTOOL_EXE:?}" build "$(winpath "$1")" "$(winpath "$dir")" >"$dir.out" 2>&1 </dev/null
  local status=$?
  rm -rf "$dir" "$dir.out"
  return "$status"
}

# silent_install NAME LOG [SWITCH...]: a clean prefix NAME (a copy of the base) and
#   Setup.exe /AUTO=C:\KIVO /SILENT /LOG=C:\LOG SWITCH...
# RUN_EXIT holds the exit code, LOG the run log's text.
silent_install() {
  local name=$1 log=$2
  shift 2
  run_win "$WORK/$name.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT "/LOG=C:\\$log" "$@"
  stop_server
  LOG=$(log_text "$(drive_c)/$log" 2>/dev/null)
}

# The installed C:\KIVO that silent_install.sh leaves, kept so that the uninstaller
# scenarios (which now remove it) each start from the same installation.
save_installation() { rm -rf "$WORK/installed-KIVO" && cp -a "$(drive_c)/KIVO" "$WORK/installed-KIVO"; }
restore_installation() {
  [ -d "$WORK/installed-KIVO" ] || fatal "no saved installation (the e2e.silent_install test saves it)"
  rm -rf "$(drive_c)/KIVO" && cp -a "$WORK/installed-KIVO" "$(drive_c)/KIVO"
}
