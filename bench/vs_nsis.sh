#!/usr/bin/env bash
# Our silent install against a standard NSIS installer of the same payload, under Wine on
# this machine: alternating runs in one warm Wine session, medians, min-max and ratios, at
# the payload size and at twice it. Also: our uninstall time, each installer's peak memory
# (maximum resident set of its process), our extraction speed from the run log, and the
# package open beside xz's decode of the same LZMA bytes.
#
#   bench/vs_nsis.sh [pairs, default 7]
#
# Needs the two builds (native and windows presets) and Debian's nsis (installed here
# when missing). Not a test: it measures, and prints a table for bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
pairs=${1:-7}
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/bench/$(basename "$0")" "$@"; fi
command -v makensis >/dev/null || { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nsis >/dev/null; }

host_tool=$root/build/native/tools/ipktool
setup_exe=$root/build/windows/src/setup/Setup.exe
tool_exe=$root/build/windows/tools/ipktool.exe
setup_stage=$root/build/windows/sample/setup-stage
for f in "$host_tool" "$setup_exe" "$tool_exe" "$setup_stage/Install.xml"; do
  [ -e "$f" ] || { echo "missing $f: build the native and windows presets first" >&2; exit 2; }
done

work=$root/build/bench-nsis
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
wine winecfg -v win10 >/dev/null 2>&1
wineserver -w
drive_c=$WINEPREFIX/drive_c
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# One warm session for every run: a persistent server and a process that keeps the
# desktop alive, so no run pays for starting Wine.
wineserver -p
wine cmd /c 'ping -n 100000 127.0.0.1 >nul' >/dev/null 2>&1 &
keeper=$!
trap 'kill $keeper 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
sleep 3

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
minmax() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s-%s", lo, hi }'; }

make_installers() {  # scale
  local scale=$1 dir=$work/scale$1
  mkdir -p "$dir"
  python3 bench/make_payload.py "$dir/product" --scale "$scale" >"$dir/payload.txt"
  # Our setup, by the vendor route: the sample's setup data with the payload's components.
  cp -r "$setup_stage" "$dir/setup"
  # The payload has no read-me or what's-new page: the sample's shortcut and finish action
  # to them go, or the tool refuses the pair.
  sed -i '/WhatsNew.html">ShowWhatsNew</d; /Read Me.lnk/d' "$dir/setup/Install.xml"
  "$host_tool" components "$dir/product" --into "$dir/setup/Install.xml" >/dev/null
  wine "$tool_exe" setup "$(winpath "$setup_exe")" "$(winpath "$dir/setup")" "$(winpath "$dir/product")" \
    "$(winpath "$dir/ours.exe")" >/dev/null
  # NSIS: solid LZMA with a 4 MiB dictionary, the standard choice for a download.
  local optimize=""
  [ "$scale" -gt 1 ] && optimize="SetDatablockOptimize off"
  cat >"$dir/nsis.nsi" <<NSI
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
SetCompressorDictSize 4
$optimize
Name "KIVO"
OutFile "$dir/nsis.exe"
InstallDir "C:\\NSIS"
RequestExecutionLevel admin
Section
  SetOutPath "\$INSTDIR"
  File /r "$dir/product/*"
SectionEnd
NSI
  makensis -V1 "$dir/nsis.nsi" >/dev/null
  echo "scale $scale: $(cat "$dir/payload.txt"); ours.exe $(($(stat -c %s "$dir/ours.exe") / 1048576)) MiB," \
    "nsis.exe $(($(stat -c %s "$dir/nsis.exe") / 1048576)) MiB"
}

# timed OUT-PREFIX COMMAND...: seconds and peak resident KiB of the program's process.
timed() {
  local out=$1
  shift
  # The launcher waits for the program's process; "wineserver -w" would wait for the
  # whole warm session instead.
  /usr/bin/time -f '%e %M' -o "$out.time" "$@" >/dev/null 2>&1 || true
  cat "$out.time" | tail -n1
}

run_pairs() {  # scale
  local scale=$1 dir=$work/scale$1 files
  files=$(find "$dir/product" -type f | wc -l)
  : >"$dir/ours.txt"
  : >"$dir/nsis.txt"
  : >"$dir/ours-work.txt"
  for i in $(seq 1 "$pairs"); do
    for who in $( ((i % 2)) && echo "ours nsis" || echo "nsis ours"); do
      rm -rf "$drive_c/Ours" "$drive_c/NSIS"
      if [ "$who" == ours ]; then
        read -r seconds kib < <(timed "$dir/ours$i" wine "$dir/ours.exe" '/AUTO=C:\Ours' /SILENT "/LOG=C:\\ours$i.log")
        [ "$(find "$drive_c/Ours" -type f | wc -l)" -ge "$files" ] || { echo "our run $i installed too little" >&2; exit 1; }
        # The fixed waits the program keeps: 2 s after the close pass, 1 s after the shell-cache refresh.
        local waits=2
        grep -q 'Action TInstallerActionUpdateShellCache ends' "$drive_c/ours$i.log" && waits=3
        echo "$seconds $kib" >>"$dir/ours.txt"
        awk -v s="$seconds" -v w="$waits" 'BEGIN { printf "%.2f\n", s - w }' >>"$dir/ours-work.txt"
      else
        read -r seconds kib < <(timed "$dir/nsis$i" wine "$dir/nsis.exe" /S '/D=C:\NSIS')
        [ "$(find "$drive_c/NSIS" -type f | wc -l)" -ge "$files" ] || { echo "NSIS run $i installed too little" >&2; exit 1; }
        echo "$seconds $kib" >>"$dir/nsis.txt"
      fi
    done
  done
  local ours nsis ours_work
  ours=$(cut -d' ' -f1 "$dir/ours.txt" | median)
  nsis=$(cut -d' ' -f1 "$dir/nsis.txt" | median)
  ours_work=$(median <"$dir/ours-work.txt")
  local mb
  mb=$(du -sb "$dir/product" | awk '{ printf "%.1f", $1 / 1e6 }')
  # Extraction speed from the last run's log: the extract action's duration.
  local extract_ms
  extract_ms=$(sed -n 's/.*Action TInstallerActionExtract ends after \([0-9]*\) ms.*/\1/p' "$drive_c/ours$pairs.log" | tail -n1)
  # Uninstall: three times, each after an untimed install.
  : >"$dir/uninstall.txt"
  for i in 1 2 3; do
    rm -rf "$drive_c/Ours"
    wine "$dir/ours.exe" '/AUTO=C:\Ours' /SILENT >/dev/null 2>&1 || true
    timed "$dir/uninstall$i" wine 'C:\Ours\Uninstall.exe' /AUTO /SILENT | cut -d' ' -f1 >>"$dir/uninstall.txt"
  done
  printf '| %sx (%s MB, %s files) | %s (%s) | %s (%s) | %.2f | %s | %.2f | %s | %s | %s | %s |\n' \
    "$scale" "$mb" "$files" \
    "$ours" "$(cut -d' ' -f1 "$dir/ours.txt" | minmax)" "$nsis" "$(cut -d' ' -f1 "$dir/nsis.txt" | minmax)" \
    "$(awk -v a="$ours" -v b="$nsis" 'BEGIN { print a / b }')" "$ours_work" \
    "$(awk -v a="$ours_work" -v b="$nsis" 'BEGIN { print a / b }')" \
    "$(awk -v ms="$extract_ms" -v mb="$mb" 'BEGIN { if (ms > 0) printf "%.0f", mb / (ms / 1000); else print "?" }')" \
    "$(median <"$dir/uninstall.txt")" \
    "$(cut -d' ' -f2 "$dir/ours.txt" | median | awk '{ printf "%.0f", $1 / 1024 }')" \
    "$(cut -d' ' -f2 "$dir/nsis.txt" | median | awk '{ printf "%.0f", $1 / 1024 }')" >>"$work/table.md"
}

# Package open against xz on the same coded bytes: the product package as our Setup.exe
# carries it, opened by the reader natively and under Wine, and its deciphered LZMA stream
# decoded by "xz -dc --format=lzma". Alternating, medians of the reader's best-of-1 runs.
open_pairs() {  # scale
  local scale=$1 dir=$work/scale$1
  "$host_tool" build "$dir/product.ipk" "$dir/product" >/dev/null
  : >"$dir/open-native.txt"
  : >"$dir/open-wine.txt"
  : >"$dir/open-xz.txt"
  local mb first=1
  for i in 1 2 3 4 5; do
    local out
    out=$("$root/build/native/bench/bench_package_open" --package "$dir/product.ipk" 1 \
      $( ((first)) && echo --lzma-alone "$dir/product.lzma"))
    first=0
    mb=$(sed -n 's/.*payload \([0-9.]*\) MB.*/\1/p' <<<"$out")
    sed -n 's/^open from file: *\([0-9.]*\) ms.*/\1/p' <<<"$out" >>"$dir/open-native.txt"
    wine "$root/build/windows/bench/bench_package_open.exe" --package "$(winpath "$dir/product.ipk")" 1 2>/dev/null |
      sed -n 's/^open from file: *\([0-9.]*\) ms.*/\1/p' >>"$dir/open-wine.txt"
    /usr/bin/time -f '%e' -o "$dir/xz.time" xz -dc --format=lzma "$dir/product.lzma" >/dev/null
    awk '{ print $1 * 1000 }' "$dir/xz.time" >>"$dir/open-xz.txt"
  done
  local native wine_ms xz
  native=$(median <"$dir/open-native.txt")
  wine_ms=$(median <"$dir/open-wine.txt")
  xz=$(median <"$dir/open-xz.txt")
  awk -v s="$scale" -v mb="$mb" -v n="$native" -v w="$wine_ms" -v x="$xz" 'BEGIN {
    printf "| %sx (%.1f MB) | %.0f | %.1f | %.0f | %.1f | %.0f | %.1f | %.2f | %.2f |\n",
      s, mb, n, mb / (n / 1000), w, mb / (w / 1000), x, mb / (x / 1000), x / n, x / w }' >>"$work/open.md"
}

echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(wine --version), $pairs alternating pairs per size"
: >"$work/table.md"
: >"$work/open.md"
for scale in 1 2; do
  make_installers "$scale"
  run_pairs "$scale"
  open_pairs "$scale"
done
echo
echo '| payload | ours s, median (min-max) | NSIS s, median (min-max) | ours / NSIS | our work s (less fixed waits) | work / NSIS | extract MB/s | uninstall s | ours peak MiB | NSIS peak MiB |'
echo '|---|---|---|---|---|---|---|---|---|---|'
cat "$work/table.md"
echo
echo '| payload | reader native ms | MB/s | reader under Wine ms | MB/s | xz -dc ms | MB/s | reader / xz speed, native | under Wine |'
echo '|---|---|---|---|---|---|---|---|---|'
cat "$work/open.md"
