#!/usr/bin/env bash
# A vendor's own product, by the route that needs no compiler: a folder of files and a
# setup folder (Install.xml written with "ipktool components", the sample's language
# files and pictures) become AcmeSetup.exe through the Windows package tool, from the
# prebuilt Setup.exe. With KIVO_VENDOR_CMAKE=1 the same folders go through the build's
# own route instead (cmake -DKIVO_SETUP_DIR=... -DKIVO_PRODUCT_DIR=...). Either way the
# result must install exactly the vendor's files (folders named "notes" and "nl", one
# deeper than 260 characters), and none of the sample's, show the vendor's name, version
# and icon, be found by its next version's setup (an update) and uninstall with its entry,
# shortcuts and files. The tool route also signs (osslsigncode, a test certificate): the
# installed Uninstall.exe keeps the signature, a signed prebuilt loses its own and says
# so. The build route also packs and links again and compares the bytes.
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
mkdir -p "$PRODUCT/docs" "$PRODUCT/data/empty folder" "$PRODUCT/notes" "$PRODUCT/nl" "$SETUP"
printf 'MZ stand-in program\n' >"$PRODUCT/Notes.exe"
printf 'How to take notes\n' >"$PRODUCT/docs/Guide_EN.txt"
printf 'Wie man Notizen macht\n' >"$PRODUCT/docs/Guide_DE.txt"
# Folders whose names begin with "n": "$DEST\notes\..." is a path, not a line break.
printf 'buy milk\n' >"$PRODUCT/notes/todo.txt"
printf 'MZ stand-in reminder\n' >"$PRODUCT/notes/Reminder.exe"
printf 'Dutch\n' >"$PRODUCT/nl/net.txt"
head -c 300000 /dev/urandom >"$PRODUCT/data/Ünïcödé файл.bin"
# A folder deeper than 260 characters, as the Windows tool and the setup see it.
DEEP=deep
for level in 1 2 3 4 5 6; do DEEP+="/level $level of a folder tree deeper than the old limit of paths"; done
mkdir -p "$PRODUCT/$DEEP"
printf 'deep\n' >"$PRODUCT/$DEEP/deep.txt"
: >"$PRODUCT/data/empty.dat"
# Started from a copy of sample/setup, as the README says, with the vendor's own icon.
cp "$SAMPLE_SETUP"/* "$SETUP/"
cp "$KIVO_SOURCE_DIR/sample/programs/AddonSetup.ico" "$SETUP/Setup.ico"
# write_script VERSION-ID: the vendor's Install.xml, at version ID (1200 is 1.20).
write_script() {
  local id=$1 version="${1:0:1}.${1:1:2}"
  {
    cat <<XML
<?xml version="1.0" encoding="utf-8"?>
<installer>
  <setup>
    <license>
      <File name="License_EN.rtf"/>
    </license>
  </setup>
  <product>
    <Settings>
      <Setting name="ProductName" value="Acme Tools"/>
      <Setting name="Publisher" value="Acme"/>
      <Setting name="ProductVersion" value="$version"/>
      <Setting name="ProductVersionId" value="$id"/>
      <Setting name="ProductVersionNo" value="$version.0.0"/>
    </Settings>
    <Shortcuts>
      <File name="\$DESKTOP\Acme Tools.lnk">\$DEST\Notes.exe</File>
      <File name="\$STARTMENU\Acme Tools\Acme Tools.lnk">\$DEST\Notes.exe</File>
      <File name="\$STARTMENU\Acme Tools\Reminder.lnk">\$DEST\notes\Reminder.exe</File>
      <File name="\$STARTMENU\Acme Tools\Uninstall Acme Tools.lnk">\$DEST\Uninstall.exe</File>
    </Shortcuts>
XML
    "$HOST_TOOL" components "$PRODUCT" --families EN,DE 2>"$VENDOR/components.err" || fatal "ipktool components failed"
    printf '  </product>\n</installer>\n'
  } >"$SETUP/Install.xml"
}
write_script 1200
check_contains "components: the English guide installs as Guide.txt" \
  '<File name="$DEST\docs\Guide.txt" lang-family="EN">docs\Guide_EN.txt</File>' "$(cat "$SETUP/Install.xml")"
check_contains "components: the empty folder is reported" '"data\empty folder" is left out' "$(cat "$VENDOR/components.err")"
# The sample's addons.ini names its add-on installer, which this product does not have.
"$HOST_TOOL" check "$SETUP" "$PRODUCT" >/dev/null 2>"$VENDOR/check.err"
check "ipktool check refuses the sample's addons.ini" 4 "$?"
check_contains "the refusal says why" 'addons.ini names "AddonSetup.exe", which neither folder holds' \
  "$(cat "$VENDOR/check.err")"
rm "$SETUP/addons.ini" "$SETUP/addons.png"
check_true "ipktool check accepts the folders without addons.ini" "$HOST_TOOL" check "$SETUP" "$PRODUCT"

use_prefix vendor-$ROUTE fresh
# make_setup OUT: the vendor's Setup.exe from the two folders, by the route under test.
make_setup() {
  local out=$1
  if [ "$ROUTE" == tool ]; then
    wine_out "$IPKTOOL_EXE" setup "$(winpath "$SETUP_EXE")" "$(winpath "$SETUP")" "$(winpath "$PRODUCT")" \
      "$(winpath "$out")" >"$VENDOR/setup.out"
    check "ipktool.exe setup: exit code" 0 "$?"
  else
    cmake --build "$BUILD" -j2 --target Setup >"$VENDOR/build.log" 2>&1 || fatal "build failed: $(tail -30 "$VENDOR/build.log")"
    cp "$BUILD/src/setup/Setup.exe" "$out"
  fi
  [ -f "$out" ] || fatal "no $(basename "$out") was made"
}
# version_info EXE: name=value lines; the icon's images hashed as the helper does.
version_info() { wine_out "$(helper version_info.exe)" "$(winpath "$1")"; }
OUT=$VENDOR/AcmeSetup.exe
if [ "$ROUTE" == tool ]; then
  step "ipktool.exe setup Setup.exe setup product AcmeSetup.exe"
  make_setup "$OUT"
  # A file that Install.xml names but the folders lack stops the tool, and leaves no setup.
  mv "$PRODUCT/Notes.exe" "$VENDOR/Notes.exe"
  wine_out "$IPKTOOL_EXE" setup "$(winpath "$SETUP_EXE")" "$(winpath "$SETUP")" "$(winpath "$PRODUCT")" \
    "$(winpath "$VENDOR/Broken.exe")" >"$VENDOR/broken.txt"
  check "ipktool.exe setup with a file missing: refused" 4 "$?"
  check_contains "the refusal names the missing file" '"Notes.exe", which neither folder holds' "$(cat "$VENDOR/broken.txt")"
  check "no setup written when refused" no "$([ -e "$VENDOR/Broken.exe" ] && echo yes || echo no)"
  mv "$VENDOR/Notes.exe" "$PRODUCT/Notes.exe"

  step "signing: the vendor signs AcmeSetup.exe; a signed prebuilt Setup.exe loses its signature, and is told"
  SIGN=$VENDOR/sign
  mkdir -p "$SIGN"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$SIGN/key.pem" -out "$SIGN/cert.pem" -days 2 \
    -subj "/CN=Acme Test Signing" -addext "extendedKeyUsage=codeSigning" >"$SIGN/openssl.log" 2>&1 ||
    fatal "openssl could not make a test certificate: $(cat "$SIGN/openssl.log")"
  sign() { osslsigncode sign -certs "$SIGN/cert.pem" -key "$SIGN/key.pem" -n "Acme Tools Setup" -in "$1" -out "$2" >/dev/null; }
  verify() { osslsigncode verify -CAfile "$SIGN/cert.pem" -in "$1" >"$SIGN/verify.log" 2>&1; }
  sign "$OUT" "$SIGN/AcmeSetup.exe" && mv "$SIGN/AcmeSetup.exe" "$OUT"
  check_true "AcmeSetup.exe is signed" verify "$OUT"
  sign "$SETUP_EXE" "$SIGN/Setup.exe"
  wine_out "$IPKTOOL_EXE" setup "$(winpath "$SIGN/Setup.exe")" "$(winpath "$SETUP")" "$(winpath "$PRODUCT")" \
    "$(winpath "$SIGN/FromSigned.exe")" >"$SIGN/setup.out"
  check "ipktool.exe setup from a signed Setup.exe: exit code" 0 "$?"
  check_contains "it says the signature is gone" 'carries no signature: sign it again' "$(cat "$SIGN/setup.out")"
  verify "$SIGN/FromSigned.exe"
  check "the result carries no signature (osslsigncode verify fails)" 1 "$?"
  check_contains "osslsigncode finds none" "No signature found" "$(cat "$SIGN/verify.log")"
  check "it shows the vendor's product as well" "$(version_info "$OUT")" "$(version_info "$SIGN/FromSigned.exe")"
else
  step "cmake -DKIVO_SETUP_DIR=setup -DKIVO_PRODUCT_DIR=product, build Setup"
  BUILD=$VENDOR/build
  cmake -S "$KIVO_SOURCE_DIR" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$KIVO_SOURCE_DIR/cmake/mingw-w64-x86_64.cmake" \
    -DKIVO_HOST_PACKAGE_TOOL="$HOST_TOOL" -DKIVO_SETUP_DIR="$SETUP" -DKIVO_PRODUCT_DIR="$PRODUCT" \
    ${KIVO_CXX_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$KIVO_CXX_LAUNCHER} \
    ${KIVO_CXX_LAUNCHER:+-DCMAKE_C_COMPILER_LAUNCHER=$KIVO_CXX_LAUNCHER} >"$VENDOR/configure.log" 2>&1 ||
    fatal "configure failed: $(tail -20 "$VENDOR/configure.log")"
  make_setup "$OUT"
  check "the vendor build has no sample staging" no "$([ -d "$BUILD/sample" ] && echo yes || echo no)"

  step "the same folders built again give the same bytes"
  rm -f "$BUILD/src/setup/Setup.exe" "$BUILD/src/setup/SETUP.ipk" "$BUILD/src/setup/PRODUCT.ipk"
  make_setup "$VENDOR/AcmeSetup-again.exe"
  check_same_file "Setup.exe, packed and linked again" "$OUT" "$VENDOR/AcmeSetup-again.exe"
  check "no link time in the file header" 0 \
    "$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); print(struct.unpack_from("<I", d, struct.unpack_from("<I", d, 0x3C)[0] + 8)[0])' "$OUT")"
fi

step "AcmeSetup.exe shows the vendor's product"
ico_hash() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
count = struct.unpack_from("<H", data, 4)[0]
h = 1469598103934665603
for i in range(count):
    size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
    for b in data[offset:offset + size]:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
print("%d %016x" % (count, h))
PY
}
INFO=$(version_info "$OUT")
info() { sed -n "s/^$1=//p" <<<"$INFO"; }
check "ProductName" "Acme Tools" "$(info ProductName)"
check "CompanyName" Acme "$(info CompanyName)"
check "FileDescription" "Acme Tools Setup" "$(info FileDescription)"
check "FileVersion" 1.20.0.0 "$(info FileVersion)"
check "the binary version" 1.20.0.0 "$(info FixedVersion)"
check "the icon is the setup folder's Setup.ico" "$(ico_hash "$SETUP/Setup.ico")" "$(info Icon)"

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
check_same_file "notes\\todo.txt" "$PRODUCT/notes/todo.txt" "$DEST/notes/todo.txt"
check_same_file "nl\\net.txt" "$PRODUCT/nl/net.txt" "$DEST/nl/net.txt"
check_same_file "the non-ASCII file" "$PRODUCT/data/Ünïcödé файл.bin" "$DEST/data/Ünïcödé файл.bin"
check_same_file "the empty file" "$PRODUCT/data/empty.dat" "$DEST/data/empty.dat"
check_same_file "the file deeper than 260 characters" "$PRODUCT/$DEEP/deep.txt" "$DEST/$DEEP/deep.txt"
check_same_file "Uninstall.exe is a copy of the vendor's setup" "$OUT" "$DEST/Uninstall.exe"
if [ "$ROUTE" == tool ]; then
  check_true "Uninstall.exe keeps the vendor's signature" verify "$DEST/Uninstall.exe"
fi
for sample in KIVO.exe Elevator.exe Plugins WhatsNew.html; do
  check "no sample file $sample" no "$([ -e "$DEST/$sample" ] && echo yes || echo no)"
done
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Acme Tools'
ENTRY=$(wine_out reg query "$KEY" /reg:32)
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p" <<<"$ENTRY"; }
check "uninstall entry: the vendor's name" "Acme Tools" "$(value DisplayName)"
check "uninstall entry: the vendor's version" 1.20.0.0 "$(value DisplayVersion)"
SHORTCUTS=("$(common_desktop)/Acme Tools.lnk" "$(common_programs)/Acme Tools/Acme Tools.lnk"
  "$(common_programs)/Acme Tools/Reminder.lnk" "$(common_programs)/Acme Tools/Uninstall Acme Tools.lnk")
check "the shortcuts point into C:\\Acme" $'C:\\Acme\\Notes.exe\nC:\\Acme\\Notes.exe\nC:\\Acme\\notes\\Reminder.exe\nC:\\Acme\\Uninstall.exe' \
  "$(link_targets "${SHORTCUTS[@]}")"

step "the next version's setup finds the installation: AcmeSetup 1.30 /AUTO /SILENT"
write_script 1300
NEXT=$VENDOR/AcmeSetup130.exe
make_setup "$NEXT"
check "the next setup's version" 1.30.0.0 "$(version_info "$NEXT" | sed -n 's/^FileVersion=//p')"
run_win "$VENDOR/next.out" "$(winpath "$NEXT")" /AUTO /SILENT '/LOG=C:\acme-next.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
check_contains "an update of C:\\Acme" 'flags: [Auto, Update, Silent], destination: "C:\Acme\"' \
  "$(log_text "$(drive_c)/acme-next.log" 2>/dev/null)"
ENTRY=$(wine_out reg query "$KEY" /reg:32)
check "uninstall entry: the new version" 1.30.0.0 "$(value DisplayVersion)"
check_same_file "Uninstall.exe is the new setup" "$NEXT" "$DEST/Uninstall.exe"

step "C:\\Acme\\Uninstall.exe /AUTO /SILENT: the entry, the shortcuts and the files go"
run_win "$VENDOR/uninstall.out" 'C:\Acme\Uninstall.exe' /AUTO /SILENT '/LOG=C:\acme-u.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
wine_out reg query "$KEY" /reg:32 >/dev/null
check "the uninstall entry is gone (reg query's exit code)" 1 $?
check "the shortcuts are gone" "" "$(ls -d "${SHORTCUTS[@]}" "$(common_programs)/Acme Tools" 2>/dev/null)"
# What the setup wrote goes too ("KIVO.ini" held only the setup's settings): a reinstall
# is a fresh install.
check "nothing is left in C:\\Acme" "" "$(cd "$DEST" 2>/dev/null && find . -type f | sort | xargs)"
check "no errors" "" "$(log_text "$(drive_c)/acme-u.log" 2>/dev/null | grep -E '^(Error|Setup error):')"

finish
