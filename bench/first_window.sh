#!/usr/bin/env bash
# A large product beside NSIS (solid LZMA) of the same files, under Wine and Xvfb on this
# machine: time from start to the first window on screen (ours: the language dialog;
# NSIS: its first window), and the peak working set and peak private memory of a silent
# install. Alternating runs in one warm Wine session, medians (min-max) and ratios.
#
#   bench/first_window.sh [pairs, default 3] [sizes in MB, default "50 250 1024"]
#
# The payloads are made here (bench/make_payload.py, about 50 MB a copy), never stored.
# Working set: the process's peak resident set (VmHWM). Private memory: its anonymous
# resident pages (RssAnon, what Wine reports as private bytes), sampled every 20 ms; file
# pages (the mapped payload, the program's own image) are not private. A bare message box
# gives Wine's own share of the first window. Goals: first
# window <= 1 s at every size, peak private <= 256 MiB at 1 GB.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
pairs=${1:-3}
sizes=${2:-50 250 1024}
prepare_only=${KIVO_BENCH_PREPARE:-}
if [ -z "$prepare_only" ] && [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/bench/$(basename "$0")" "$@"; fi
command -v makensis >/dev/null || { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nsis >/dev/null; }

host_tool=$root/build/native/tools/ipktool
setup_exe=$root/build/windows/src/setup/Setup.exe
tool_exe=$root/build/windows/tools/ipktool.exe
# A bare message box: how long Wine itself takes to put a program's first window up here.
probe_exe=$root/build/windows/tests/uidriver/msgbox_probe.exe
setup_stage=$root/build/windows/sample/setup-stage
work=${KIVO_BENCH_WORK:-$root/build/bench-first-window}
mkdir -p "$work"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export WINEPREFIX=$work/prefix WINEDEBUG=-all
drive_c=$WINEPREFIX/drive_c
start_session() {
  for f in "$host_tool" "$setup_exe" "$tool_exe" "$probe_exe" "$setup_stage/Install.xml"; do
    [ -e "$f" ] || { echo "missing $f: build the native and windows presets first" >&2; exit 2; }
  done
  rm -rf "$work/prefix"
  wineboot -i >/dev/null 2>&1
  wine winecfg -v win10 >/dev/null 2>&1
  wineserver -w
  # One warm session for every run: a persistent server and a process that keeps it alive.
  wineserver -p
  wine cmd /c 'ping -n 100000 127.0.0.1 >nul' >/dev/null 2>&1 &
  keeper=$!
  trap 'kill $keeper 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
minmax() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s-%s", lo, hi }'; }
now_ms() { date +%s%3N; }

# Each piece is made once per work folder and kept for the next run of the script.
make_installers() {  # MB [nsis-only]
  local mb=$1 dir=$work/mb$1 scale
  scale=$(((mb + 25) / 50))
  ((scale >= 1)) || scale=1
  mkdir -p "$dir"
  if [ ! -e "$dir/payload.txt" ]; then
    rm -rf "$dir/product"
    python3 bench/make_payload.py "$dir/product" --scale "$scale" >"$dir/payload.tmp"
    mv "$dir/payload.tmp" "$dir/payload.txt"
  fi
  if [ ! -e "$dir/nsis.exe" ]; then
    cat >"$dir/nsis.nsi" <<NSI
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
SetCompressorDictSize 4
SetDatablockOptimize off
Name "KIVO"
OutFile "$dir/nsis.tmp"
InstallDir "C:\\NSIS"
RequestExecutionLevel admin
Page directory
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$dir/product/*"
SectionEnd
NSI
    makensis -V1 "$dir/nsis.nsi" >/dev/null
    mv "$dir/nsis.tmp" "$dir/nsis.exe"
  fi
  [ "${2:-}" == nsis-only ] && return
  if [ ! -e "$dir/ours.exe" ]; then
    rm -rf "$dir/setup"
    cp -r "$setup_stage" "$dir/setup"
    # The payload has no read-me or what's-new page: the sample's shortcut and finish action
    # to them go, or the tool refuses the pair.
    sed -i '/WhatsNew.html">ShowWhatsNew</d; /Read Me.lnk/d' "$dir/setup/Install.xml"
    "$host_tool" components "$dir/product" --into "$dir/setup/Install.xml" >/dev/null
    wine "$tool_exe" setup "$(winpath "$setup_exe")" "$(winpath "$dir/setup")" "$(winpath "$dir/product")" \
      "$(winpath "$dir/ours.tmp")" >/dev/null
    mv "$dir/ours.tmp" "$dir/ours.exe"
  fi
  echo "$mb MB: $(cat "$dir/payload.txt"); ours.exe $(($(stat -c %s "$dir/ours.exe") / 1048576)) MiB," \
    "nsis.exe $(($(stat -c %s "$dir/nsis.exe") / 1048576)) MiB"
}

# The X windows that are on screen and have a name, one id a line.
viewable_windows() {
  xwininfo -root -tree 2>/dev/null | awk '$1 ~ /^0x/ && $2 != "(has" { print $1 }' | while read -r id; do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$id"
  done
  return 0
}

# first_window EXE: ms from the start until a new window is on screen; the program is
# then ended. Prints the time, or "timeout".
first_window() {
  local exe=$1 before start pid id ms=timeout
  before=$(viewable_windows | sort)
  start=$(now_ms)
  wine "$exe" >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && (($(now_ms) - start < 120000)); do
    id=$(comm -13 <(echo "$before") <(viewable_windows | sort) | head -n1)
    if [ -n "$id" ]; then
      ms=$(($(now_ms) - start))
      break
    fi
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The killed program's windows go with its process in the server.
  while [ -n "$(comm -13 <(echo "$before") <(viewable_windows | sort))" ]; do :; done
  echo "$ms"
}

# peak_memory OUT COMMAND...: runs the command and prints seconds, peak working set KiB
# and peak private KiB of its process.
peak_memory() {
  local out=$1 start pid status private=0 hwm=0
  shift
  start=$(now_ms)
  "$@" >/dev/null 2>&1 &
  pid=$!
  while [ -r "/proc/$pid/status" ]; do
    status=$(cat "/proc/$pid/status" 2>/dev/null || true)
    read -r a h < <(awk '/^RssAnon:/ { a = $2 } /^VmHWM:/ { h = $2 } END { print a + 0, h + 0 }' <<<"$status")
    ((a > private)) && private=$a
    ((h > hwm)) && hwm=$h
    sleep 0.02
  done
  wait "$pid" 2>/dev/null || true
  awk -v ms="$(($(now_ms) - start))" -v h="$hwm" -v p="$private" 'BEGIN { printf "%.2f %d %d\n", ms / 1000, h, p }' |
    tee "$out"
}

run_pairs() {  # MB
  local mb=$1 dir=$work/mb$1 files
  files=$(find "$dir/product" -type f | wc -l)
  : >"$dir/window-ours.txt"
  : >"$dir/window-nsis.txt"
  : >"$dir/memory-ours.txt"
  : >"$dir/memory-nsis.txt"
  : >"$dir/window-floor.txt"
  for i in $(seq 1 "$pairs"); do
    first_window "$probe_exe" >>"$dir/window-floor.txt"
    for who in $( ((i % 2)) && echo "ours nsis" || echo "nsis ours"); do
      first_window "$dir/$who.exe" >>"$dir/window-$who.txt"
      rm -rf "$drive_c/Ours" "$drive_c/NSIS"
      if [ "$who" == ours ]; then
        peak_memory "$dir/ours$i.mem" wine "$dir/ours.exe" '/AUTO=C:\Ours' /SILENT "/LOG=C:\\ours$i.log" \
          >>"$dir/memory-ours.txt"
        [ "$(find "$drive_c/Ours" -type f | wc -l)" -ge "$files" ] || { echo "our run $i installed too little" >&2; exit 1; }
      else
        peak_memory "$dir/nsis$i.mem" wine "$dir/nsis.exe" /S '/D=C:\NSIS' >>"$dir/memory-nsis.txt"
        [ "$(find "$drive_c/NSIS" -type f | wc -l)" -ge "$files" ] || { echo "NSIS run $i installed too little" >&2; exit 1; }
      fi
    done
  done
  local size decode wo wn
  size=$(du -sb "$dir/product" | awk '{ printf "%.0f", $1 / 1e6 }')
  decode=$(sed -n 's/.*Product package decoded in \([0-9]*\) ms.*/\1/p' "$drive_c"/ours*.log | median)
  wo=$(grep -v timeout "$dir/window-ours.txt" | median)
  wn=$(grep -v timeout "$dir/window-nsis.txt" | median)
  col() { cut -d' ' -f"$2" "$1" | median; }
  mib() { awk '{ printf "%.0f", $1 / 1024 }'; }
  printf '| %s MB (%s files) | %.2f (%s) | %.2f (%s) | %.2f | %.2f | %s | %s | %s | %s | %s | %.2f | %.1f | %.1f |\n' \
    "$size" "$files" \
    "$(awk -v v="$wo" 'BEGIN { print v / 1000 }')" "$(grep -v timeout "$dir/window-ours.txt" | awk '{ print $1 / 1000 }' | minmax)" \
    "$(awk -v v="$wn" 'BEGIN { print v / 1000 }')" "$(grep -v timeout "$dir/window-nsis.txt" | awk '{ print $1 / 1000 }' | minmax)" \
    "$(awk -v a="$wo" -v b="$wn" 'BEGIN { print a / b }')" \
    "$(grep -v timeout "$dir/window-floor.txt" | median | awk '{ print $1 / 1000 }')" \
    "$(col "$dir/memory-ours.txt" 2 | mib)" "$(col "$dir/memory-nsis.txt" 2 | mib)" \
    "$(col "$dir/memory-ours.txt" 3 | mib)" "$(col "$dir/memory-nsis.txt" 3 | mib)" \
    "$(awk -v v="${decode:-0}" 'BEGIN { printf "%.1f", v / 1000 }')" \
    "$(awk -v a="$(col "$dir/memory-ours.txt" 3)" -v b="$(col "$dir/memory-nsis.txt" 3)" 'BEGIN { print a / b }')" \
    "$(col "$dir/memory-ours.txt" 1)" "$(col "$dir/memory-nsis.txt" 1)" >>"$work/table.md"
}

if [ "$prepare_only" == nsis ]; then
  # Only the payloads and the NSIS installers (while our build is still running).
  for mb in $sizes; do make_installers "$mb" nsis-only; done
  exit 0
fi
start_session
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version)," \
  "$pairs alternating pairs per size"
: >"$work/table.md"
for mb in $sizes; do
  make_installers "$mb"
  run_pairs "$mb"
  tail -n1 "$work/table.md"
done
echo
echo '| payload | first window ours s, median (min-max) | NSIS s | ours / NSIS | a bare message box s | peak working set ours MiB | NSIS MiB | peak private ours MiB | NSIS MiB | our decode s | private ours / NSIS | silent install ours s | NSIS s |'
echo '|---|---|---|---|---|---|---|---|---|---|---|---|---|'
cat "$work/table.md"
