#!/usr/bin/env bash
# A vendor's own product, by the route that needs no compiler: a folder of files and a
# setup folder (Install.xml written with "ipktool components", the sample's language
# files and pictures) become AcmeSetup.exe through the Windows package tool, from the
# prebuilt Setup.exe. With KIVO_VENDOR_CMAKE=1 the same folders go through the build's
# own route instead (cmake -DKIVO_SETUP_DIR=... -DKIVO_PRODUCT_DIR=...). Either way the
# result must install exactly the vendor's files, and none of the sample's.
source "$(dirname "$0")/lib.sh"

HOST_TOOL=${KIVO_HOST_PACKAGE_TOOL:?}
IPKTOOL_EXE=${KIVO_IPKTOOL_EXE:?}
SAMPLE_SETUP=${KIVO_SOURCE_DIR:?}/sample/setup
ROUTE=tool
[ "${KIVO_VENDOR_CMAKE:-0}" == 1 ] && ROUTE=cmake
VENDOR=$WORK/vendor-$ROUTE-folders

step "the vendor's folders"
rm -rf "$VENDOR"
PRODUCT=$VENDOR/product
SETUP=$VENDOR/setup
mkdir -p "$PRODUCT/docs" "$PRODUCT/data/empty folder" "$SETUP"
printf 'MZ stand-in program\n' >"$PRODUCT/Notes.exe"
printf 'How to take notes\n' >"$PRODUCT/docs/Guide_EN.txt"
printf 'Wie man Notizen macht\n' >"$PRODUCT/docs/Guide_DE.txt"
head -c 300000 /dev/urandom >"$PRODUCT/data/Ünïcödé файл.bin"
: >"$PRODUCT/data/empty.dat"
cp "$SAMPLE_SETUP"/*.lng "$SAMPLE_SETUP"/License_EN.rtf "$SAMPLE_SETUP"/*.png "$SETUP/"
{
  cat <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<installer>
  <setup>
    <license>
      <File name="License_EN.rtf"/>
    </license>
  </setup>
  <product>
    <Settings>
      <Setting name="ProductName" value="AcmeNotes"/>
      <Setting name="Publisher" value="Acme"/>
      <Setting name="ProductVersion" value="1.20"/>
      <Setting name="ProductVersionId" value="1200"/>
      <Setting name="ProductVersionNo" value="1.20.0.0"/>
    </Settings>
XML
  "$HOST_TOOL" components "$PRODUCT" --families EN,DE || fatal "ipktool components failed"
  printf '  </product>\n</installer>\n'
} >"$SETUP/Install.xml"
check_contains "components: the English guide installs as Guide.txt" \
  '<File name="$DEST\docs\Guide.txt" lang-family="EN">docs\Guide_EN.txt</File>' "$(cat "$SETUP/Install.xml")"
check_true "ipktool check accepts the folders" "$HOST_TOOL" check "$SETUP" "$PRODUCT"

use_prefix vendor-$ROUTE fresh
OUT=$VENDOR/AcmeSetup.exe
if [ "$ROUTE" == tool ]; then
  step "ipktool.exe setup Setup.exe setup product AcmeSetup.exe"
  wine_out "$IPKTOOL_EXE" setup "$(winpath "$SETUP_EXE")" "$(winpath "$SETUP")" "$(winpath "$PRODUCT")" \
    "$(winpath "$OUT")"
  check "ipktool.exe setup: exit code" 0 "$?"
  # A file that Install.xml names but the folders lack stops the tool, and leaves no setup.
  mv "$PRODUCT/Notes.exe" "$VENDOR/Notes.exe"
  wine_out "$IPKTOOL_EXE" setup "$(winpath "$SETUP_EXE")" "$(winpath "$SETUP")" "$(winpath "$PRODUCT")" \
    "$(winpath "$VENDOR/Broken.exe")" >"$VENDOR/broken.txt"
  check "ipktool.exe setup with a file missing: refused" 4 "$?"
  check_contains "the refusal names the missing file" '"Notes.exe", which neither folder holds' "$(cat "$VENDOR/broken.txt")"
  check "no setup written when refused" no "$([ -e "$VENDOR/Broken.exe" ] && echo yes || echo no)"
  mv "$VENDOR/Notes.exe" "$PRODUCT/Notes.exe"
else
  step "cmake -DKIVO_SETUP_DIR=setup -DKIVO_PRODUCT_DIR=product, build Setup"
  BUILD=$VENDOR/build
  cmake -S "$KIVO_SOURCE_DIR" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$KIVO_SOURCE_DIR/cmake/mingw-w64-x86_64.cmake" \
    -DKIVO_HOST_PACKAGE_TOOL="$HOST_TOOL" -DKIVO_SETUP_DIR="$SETUP" -DKIVO_PRODUCT_DIR="$PRODUCT" \
    ${KIVO_CXX_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$KIVO_CXX_LAUNCHER} \
    ${KIVO_CXX_LAUNCHER:+-DCMAKE_C_COMPILER_LAUNCHER=$KIVO_CXX_LAUNCHER} >"$VENDOR/configure.log" 2>&1 ||
    fatal "configure failed: $(tail -20 "$VENDOR/configure.log")"
  cmake --build "$BUILD" -j2 --target Setup >"$VENDOR/build.log" 2>&1 || fatal "build failed: $(tail -30 "$VENDOR/build.log")"
  check "the vendor build has no sample staging" no "$([ -d "$BUILD/sample" ] && echo yes || echo no)"
  cp "$BUILD/src/setup/Setup.exe" "$OUT"
fi
[ -f "$OUT" ] || fatal "no AcmeSetup.exe was made"

step "AcmeSetup.exe /AUTO=C:\\Acme /SILENT /LOG=C:\\acme.log"
run_win "$VENDOR/run.out" "$(winpath "$OUT")" '/AUTO=C:\Acme' /SILENT '/LOG=C:\acme.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
DEST=$(drive_c)/Acme
[ -d "$DEST" ] || fatal "C:\\Acme was not created; run log:"$'\n'"$(cat "$(drive_c)/acme.log" 2>/dev/null)"

step "exactly the vendor's files"
# English system: the EN copy of the guide, under the name without its family suffix.
EXPECTED=$(cd "$PRODUCT" && find . -type f ! -name '*_DE.txt' | sed 's/_EN\.txt$/.txt/' | sort)
EXPECTED=$(printf '%s\n./KIVO.ini\n./Uninstall.dat\n./Uninstall.exe' "$EXPECTED" | sort)
SEEN=$(cd "$DEST" && find . -type f | sort)
check "installed file list" "$EXPECTED" "$SEEN"
check_same_file "Notes.exe" "$PRODUCT/Notes.exe" "$DEST/Notes.exe"
check_same_file "docs\\Guide.txt is the English guide" "$PRODUCT/docs/Guide_EN.txt" "$DEST/docs/Guide.txt"
check_same_file "the non-ASCII file" "$PRODUCT/data/Ünïcödé файл.bin" "$DEST/data/Ünïcödé файл.bin"
check_same_file "the empty file" "$PRODUCT/data/empty.dat" "$DEST/data/empty.dat"
check_same_file "Uninstall.exe is a copy of the vendor's setup" "$OUT" "$DEST/Uninstall.exe"
for sample in KIVO.exe Elevator.exe Plugins WhatsNew.html; do
  check "no sample file $sample" no "$([ -e "$DEST/$sample" ] && echo yes || echo no)"
done
ENTRY=$(wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\AcmeNotes' /reg:32)
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$ENTRY"; }
check "uninstall entry: the vendor's name" AcmeNotes "$(value DisplayName)"
check "uninstall entry: the vendor's version" 1.20.0.0 "$(value DisplayVersion)"

finish
