#!/usr/bin/env bash
# Benchmark: time from the language choice (OK in the language dialog) to the first
# painted wizard page, from the run log's millisecond timestamps, under Wine and Xvfb.
#
#   bench/wizard_startup.sh [RUNS]      (default 5; after a Windows build)
#
# Prints each run and the median; the goal is under 300 ms.
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${KIVO_BUILD_DIR:-$root/build/windows}
export KIVO_E2E_WORK=${KIVO_E2E_WORK:-$build/bench/wizard-work}
export KIVO_SETUP_EXE=${KIVO_SETUP_EXE:-$build/src/setup/Setup.exe}
export KIVO_UIDRIVER_EXE=${KIVO_UIDRIVER_EXE:-$build/tests/uidriver/uidriver.exe}
export KIVO_SETUP_STAGE=${KIVO_SETUP_STAGE:-$build/sample/setup-stage}
source "$root/tests/e2e/lib.sh"
source "$root/tests/e2e/wizard_lib.sh"
need_display "$@"
RUNS=${1:-5}

[ -f "$BASE_PREFIX/system.reg" ] || make_base_prefix || fatal "wineboot failed"
use_prefix bench fresh
# ms since midnight of a log line's "yyyy-mm-dd hh:mm:ss.mmm" stamp.
stamp_ms() { awk '{ split($2, t, /[:.]/); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }'; }

times=()
for run in $(seq "$RUNS"); do
  rm -f "$(drive_c)/wizard.log"
  start_wizard "$WORK/bench.out"
  choose_language
  wait_page PageWelcome 30 || fatal "no wizard in run $run"
  drive close --title "$WIZARD_TITLE" >/dev/null
  answer_box "$WIZARD_TITLE" OK
  end_win 30
  log=$(tr -d '\r' <"$(drive_c)/wizard.log")
  chosen=$(grep -m1 ' Language chosen$' <<<"$log" | stamp_ms)
  painted=$(grep -m1 ' Wizard: first page painted' <<<"$log" | stamp_ms)
  [ -n "$chosen" ] && [ -n "$painted" ] || fatal "run $run: the log lacks its entries"
  times+=($((painted - chosen)))
  echo "run $run: $((painted - chosen)) ms"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
echo "language choice to first painted page: median $median ms over $RUNS runs (goal < 300 ms)"
stop_server
