#!/usr/bin/env bash
# The time of a whole silent update of a ~45 MB, ~180-file installation of version 4.60
# (per-user, two profiles) with the built Setup.exe under Wine, and of its prepare step
# (backup, migration, clean-up) alone, from the run log; several runs, each on a fresh
# copy of the laid-out prefix. A benchmark, never a test.
#
#   bench/update_time.sh [RUNS] [Setup.exe]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
setup=${2:-$root/build/windows/src/setup/Setup.exe}
work=$root/build/bench-update
export KIVO_E2E_WORK=$work WINEDEBUG=-all
source "$root/tests/e2e/lib.sh"
source "$root/tests/fixtures/older_install.sh"

make_base_prefix || { echo "cannot make a Wine prefix"; exit 1; }
export WINEPREFIX=$work/template
cp -a "$BASE_PREFIX" "$WINEPREFIX"
fixture_accounts
fixture_460 KIVO
# Fill the program folder up to ~180 files and ~45 MB: media-like (incompressible) and
# text-like (compressible) files, as a player's folder holds.
python3 - "$(drive_c)/KIVO" <<'PY'
import os, random, sys
dest = sys.argv[1]
rnd = random.Random(7)
count = sum(len(f) for _, _, f in os.walk(dest))
for i in range(180 - count):
    folder = os.path.join(dest, ["Skins", "Plugins", "System/Data", "Help", "Visualizations"][i % 5])
    os.makedirs(folder, exist_ok=True)
    if i % 3 == 0:
        data = rnd.randbytes(520_000)
    else:
        data = "".join(f"entry {j}: {rnd.random():.6f}\r\n" for j in range(9_000)).encode()
    with open(os.path.join(folder, f"bench{i:03}.dat"), "wb") as f:
        f.write(data)
PY
"$WINESERVER" -w
files=$(find "$(drive_c)/KIVO" "$(fixture_roaming root)/KIVO" "$(fixture_roaming alice)/KIVO" -path '*/!Backup' -prune -o -type f -print | wc -l)
bytes=$(find "$(drive_c)/KIVO" "$(fixture_roaming root)/KIVO" "$(fixture_roaming alice)/KIVO" -path '*/!Backup' -prune -o -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
echo "installation: $files files, $((bytes / 1000000)) MB (program folder and two profiles)"

for run in $(seq "$runs"); do
  export WINEPREFIX=$work/run
  rm -rf "$WINEPREFIX"
  cp -a "$work/template" "$WINEPREFIX"
  start=$(date +%s.%N)
  "$WINE" "$(winpath "$setup")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\update.log' >/dev/null 2>&1
  code=$?
  "$WINESERVER" -w
  end=$(date +%s.%N)
  log=$(log_text "$(drive_c)/update.log")
  prepare=$(sed -n 's/^Action TInstallerActionPrepare ends after \([0-9]*\) ms$/\1/p' <<<"$log")
  archive=$(ls "$(drive_c)/KIVO/!Backup/"z\ Before\ install\ 5* 2>/dev/null | head -n1)
  printf 'run %d: exit %s, whole update %.2f s (Wine start-up included), prepare step %s ms (%.1f MB/s), archive %d MB\n' \
    "$run" "$code" "$(echo "$end - $start" | bc)" "${prepare:-?}" \
    "$(echo "scale=1; $bytes / 1000 / ${prepare:-1}" | bc)" "$(( $(stat -c %s "$archive" 2>/dev/null || echo 0) / 1000000 ))"
done
"$WINESERVER" -k 2>/dev/null
