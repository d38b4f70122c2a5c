#!/usr/bin/env bash
# How the uninstall scales with the number of files "Uninstall.ini" lists: an installation
# whose list holds N files (spread over folders of 100), uninstalled silently through its
# Uninstall.exe under Wine, for several N; the time of the whole run and of its steps from
# the run log, and the time per listed file, which stays flat when the run is linear.
# A benchmark, never a test.
#
#   bench/uninstall_scaling.sh [N...]        (default: 2500 5000 10000)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(2500 5000 10000)
setup=$root/build/windows/src/setup/Setup.exe
ipktool=$root/build/native/tools/ipktool
work=$root/build/bench-uninstall
export KIVO_E2E_WORK=$work WINEDEBUG=-all
source "$root/tests/e2e/lib.sh"

make_base_prefix || { echo "cannot make a Wine prefix"; exit 1; }
export WINEPREFIX=$work/template
cp -a "$BASE_PREFIX" "$WINEPREFIX"
"$WINE" "$(winpath "$setup")" '/AUTO=C:\KIVO' /SILENT >/dev/null 2>&1 </dev/null
"$WINESERVER" -w
[ -f "$(drive_c)/KIVO/Uninstall.exe" ] || { echo "the installation failed"; exit 1; }

printf '%8s %10s %12s %12s %14s\n' files "whole s" "files ms" "last ms" "µs per file"
for n in "${counts[@]}"; do
  export WINEPREFIX=$work/run
  rm -rf "$WINEPREFIX"
  cp -a "$work/template" "$WINEPREFIX"
  dest=$(drive_c)/KIVO
  list=$work/list/Uninstall.ini
  rm -rf "$work/list" && mkdir -p "$work/list"
  python3 - "$dest" "$n" "$list" <<'PY'
import os, sys
dest, n, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
lines = ["[Uninstall]", f"Count={n + 2}"]
for i in range(n):
    rel = f"Bulk\\d{i // 100:03}\\file{i:05}.dat"
    path = os.path.join(dest, rel.replace("\\", "/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"x" * 64)
    lines.append(f"{i}={rel}")
lines += [f"{n}=Uninstall.dat", f"{n + 1}=Uninstall.exe"]
with open(out, "w", newline="\r\n") as f:
    f.write("\n".join(lines) + "\n")
PY
  "$ipktool" build "$dest/Uninstall.dat" "$work/list" >/dev/null || { echo "ipktool failed"; exit 1; }
  start=$(date +%s.%N)
  "$WINE" 'C:\KIVO\Uninstall.exe' /AUTO /SILENT '/LOG=C:\u.log' >/dev/null 2>&1 </dev/null
  "$WINESERVER" -w
  end=$(date +%s.%N)
  log=$(log_text "$(drive_c)/u.log")
  files=$(sed -n 's/^Action TInstallerActionUninstallFiles ends after \([0-9]*\) ms$/\1/p' <<<"$log")
  last=$(sed -n 's/^Action TInstallerActionUninstallEntry ends after \([0-9]*\) ms$/\1/p' <<<"$log")
  left=$(find "$dest/Bulk" -type f 2>/dev/null | wc -l)
  [ "$left" -eq 0 ] || echo "  $left listed files were left"
  printf '%8d %10.2f %12s %12s %14.0f\n' "$n" "$(echo "$end - $start" | bc)" "${files:-?}" "${last:-?}" \
    "$(echo "scale=3; (${files:-0} + ${last:-0}) * 1000 / $n" | bc)"
done
"$WINESERVER" -k 2>/dev/null
rm -rf "$work"
