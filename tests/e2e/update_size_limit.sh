#!/usr/bin/env bash
# The backup's size limit, with sparse files (no 2 GiB on disk): a portable 4.60
# installation whose files add up to 2^31 - 1 bytes is archived and updated; one more
# byte and the run stops before anything is written or deleted, with one "Setup" box
# "Too many files for backup" and the exit code 1603. Then the room on a small drive (a
# tmpfs linked as Wine's D:): a fresh install and an update that do not fit are refused
# before anything is touched, with a box that names the drive and the room; an unfinished
# backup of an earlier run that fills the drive is removed, and the update then fits. A
# drive that another program fills during an update, before the backup and before the
# uninstaller copy: the run is undone, the installation and its entry are as they were,
# and its own uninstaller still removes it.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"
need_display "$@"
RUN_TIMEOUT=300  # deflating 2 GiB of zeros

# lay_out TOTAL: C:\Big, portable 4.60, its files adding up to TOTAL bytes.
lay_out() {
  local dest
  dest=$(drive_c)/Big
  fixture_file "$dest/KIVO.ini" "[System]
UserMode=0
Version=4600"
  fixture_file "$dest/Profile/KIVO.ini" "[Player]"
  fixture_file "$dest/Profile/AlbumArtCache.db" "a cache: not archived, not counted"
  local used
  used=$(($(stat -c %s "$dest/KIVO.ini") + $(stat -c %s "$dest/Profile/KIVO.ini")))
  truncate -s $(($1 - used)) "$dest/Video/Recording.bin" 2>/dev/null ||
    { mkdir -p "$dest/Video" && truncate -s $(($1 - used)) "$dest/Video/Recording.bin"; }
  check "the sparse file takes no space" 1 "$(($(du -k "$dest/Video/Recording.bin" | cut -f1) < 1024))"
}

step "2^31 - 1 bytes: archived"
use_prefix limit1 fresh
lay_out $((2 ** 31 - 1))
run_win "$WORK/limit1.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Big' /SILENT '/LOG=C:\update.log'
check "exit code" 0 "$RUN_EXIT"
stop_server
ZIP=$(ls "$(drive_c)/Big/!Backup/"*.zip 2>/dev/null | head -n1)
if [ -z "$ZIP" ]; then
  fail "no archive; log:"$'\n'"$(log_text "$(drive_c)/update.log" | tail -n 20)"
else
  # Streamed checks: the entries' CRCs and sizes (zipfile reads in chunks), and unzip -t.
  check "entries, their sizes adding up to 2^31 - 1, CRCs" \
    "KIVO.ini|Profile\\KIVO.ini|Video\\Recording.bin|$((2 ** 31 - 1))|ok" "$(python3 - "$ZIP" <<'PY'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
infos = sorted(z.infolist(), key=lambda i: i.filename)
print("|".join(i.filename for i in infos) + f"|{sum(i.file_size for i in infos)}|" +
      ("ok" if z.testzip() is None else "bad CRC"))
PY
)"
  check_true "unzip -t" unzip -tq "$ZIP"
fi
check "the profile stays" "[Player]" "$(tr -d '\r' <"$(drive_c)/Big/Profile/KIVO.ini")"

step "2^31 bytes: refused before anything happens"
use_prefix limit2 fresh
lay_out $((2 ** 31))
BEFORE=$(cd "$(drive_c)/Big" && find . -type f -printf '%p %s\n' | sort)
start_win "$WORK/limit2.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\Big' /SILENT '/LOG=C:\update.log'
if answer_setup_box "too large"; then
  check "message" 'Too many files for backup' "${BOX_TEXT%%\\r\\n*}"
fi
end_win 60
check "exit code" 1603 "$RUN_EXIT"
stop_server
check "every file in place" "$BEFORE" "$(cd "$(drive_c)/Big" && find . -type f -printf '%p %s\n' | sort)"
check "no backup folder" "" "$(ls -d "$(drive_c)/Big/!Backup" 2>/dev/null)"

# A small drive D: of its own for the prefix; unmounted when the scenario ends.
SMALL=$WORK/small-drive
small_drive() {
  mkdir -p "$SMALL"
  mountpoint -q "$SMALL" && umount "$SMALL"
  mount -t tmpfs -o size=$1 kivo-e2e "$SMALL" || fatal "cannot mount a tmpfs at $SMALL (needs root)"
  trap 'umount "$SMALL" 2>/dev/null' EXIT
  rm -f "$WINEPREFIX/dosdevices/d:"
  ln -s "$SMALL" "$WINEPREFIX/dosdevices/d:"
}
# fill_to FREE_KB: a filler file leaves about that much room on the small drive.
fill_to() {
  local free
  free=$(df -k --output=avail "$SMALL" | tail -n1)
  [ "$free" -gt "$1" ] && head -c $(((free - $1) * 1024)) /dev/zero >"$SMALL/filler.bin"
}
# refused NAME ARGS...: the run is refused with the room's message and 1603.
refused() {
  local name=$1
  shift
  rm -f "$(drive_c)/$name.log"
  start_win "$WORK/$name.out" "$(winpath "$SETUP_EXE")" "$@" /SILENT "/LOG=C:\\$name.log"
  if answer_setup_box "not enough room"; then
    check_contains "message: the drive and the room" 'There is not enough room on the disk D:. The setup needs ' "$BOX_TEXT"
  fi
  end_win 60
  check "exit code" 1603 "$RUN_EXIT"
  stop_server
  LOG=$(log_text "$(drive_c)/$name.log" 2>/dev/null)
  check "log: refused in the first step, before the player is closed" "CloseApplications" "$(action_order "$LOG")"
  check_contains "log: the room on D:" 'Room on D:' "$LOG"
}

step "a fresh install that does not fit: refused, nothing touched"
use_prefix room fresh
small_drive 32m
fill_to 512
refused room-fresh '/AUTO=D:\KIVO'
check "no folder was made" "" "$(ls -d "$SMALL/KIVO" 2>/dev/null)"
check "no uninstall entry" 1 "$(wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO' /reg:32 \
  >/dev/null; echo $?)"

step "an update whose backup does not fit: refused, every file in place"
rm -f "$SMALL/filler.bin"
fixture_program "$SMALL/KIVO" 4600 0
fixture_profile "$SMALL/KIVO/Profile"
head -c $((4 * 1024 * 1024)) /dev/urandom >"$SMALL/KIVO/Video/Recording.bin" 2>/dev/null ||
  { mkdir -p "$SMALL/KIVO/Video" && head -c $((4 * 1024 * 1024)) /dev/urandom >"$SMALL/KIVO/Video/Recording.bin"; }
fill_to 2048
BEFORE=$(cd "$SMALL/KIVO" && find . -type f -printf '%p %s %T@\n' | sort)
refused room-update '/AUTO=D:\KIVO'
check "every file in place, unchanged" "$BEFORE" "$(cd "$SMALL/KIVO" && find . -type f -printf '%p %s %T@\n' | sort)"
check "no archive begun" "" "$(ls "$SMALL/KIVO/!Backup/" | grep -i '5\.10')"

step "an unfinished backup of an earlier run fills the drive: removed, then the update fits"
rm -f "$SMALL/filler.bin"
mkdir -p "$SMALL/KIVO/!Backup"
fill_to 1024
mv "$SMALL/filler.bin" "$SMALL/KIVO/!Backup/z Before install 5.10 [2026.02.02 10-00-00].zip.part"
run_win "$WORK/room-part.out" "$(winpath "$SETUP_EXE")" '/AUTO=D:\KIVO' /SILENT '/LOG=C:\room-part.log'
stop_server
LOG=$(log_text "$(drive_c)/room-part.log" 2>/dev/null)
check "exit code" 0 "$RUN_EXIT"
check_contains "log: the unfinished backup is deleted" \
  'Deleted (an unfinished backup of an earlier run): D:\KIVO\!Backup\z Before install 5.10 [2026.02.02 10-00-00].zip.part' "$LOG"
check "no partial archive is left" "" "$(ls "$SMALL/KIVO/!Backup/" | grep -i '\.part$')"
check "the update's backup is there" 1 "$(ls "$SMALL/KIVO/!Backup/" | grep -c '^z Before install 5\.10 .*\.zip$')"
# Not a kept folder: archived, then removed with the old installation.
check "the user's recording is in the update's backup" 1 \
  "$(unzip -Z1 "$SMALL/KIVO/!Backup/"z\ Before\ install\ 5.10\ *.zip 2>/dev/null | grep -c 'Video.Recording\.bin')"

# fill_during NAME LEAVE_KB PATTERN: an update of D:\KIVO, paused (its Wine process stopped)
# once its log holds PATTERN, before it puts the new files in place; the drive is filled to
# leave LEAVE_KB free, and the run goes on.
fill_during() {
  local name=$1 leave=$2 pattern=$3 waited=0 pids
  rm -f "$(drive_c)/$name.log" "$SMALL/filler.bin"
  start_win "$WORK/$name.out" "$(winpath "$SETUP_EXE")" '/AUTO=D:\KIVO' /SILENT "/LOG=C:\\$name.log"
  until grep -qa "$pattern" "$(drive_c)/$name.log" 2>/dev/null; do
    { kill -0 "$RUN_PID" 2>/dev/null && [ $waited -lt 6000 ]; } || fatal "$name: the run never set files aside"
    sleep 0.01
    waited=$((waited + 1))
  done
  pids=$(pgrep -x Setup.exe)
  [ -n "$pids" ] || fatal "$name: no Setup.exe process to pause"
  kill -STOP $pids
  ! grep -qa 'Action TInstallerActionExtract starts' "$(drive_c)/$name.log" ||
    fatal "$name: paused too late: the new files were being written"
  fill_to "$leave"
  kill -CONT $pids
}
# The installation's files with sizes and times, the archives included.
installed_files() { (cd "$SMALL/KIVO" && find . -type f -printf '%p %s %T@\n' | sort); }
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KIVO'

# The installation the last step updated, with a file of the user's and many small ones
# to set aside, which gives the pause its time.
mkdir -p "$SMALL/KIVO/Video" "$SMALL/KIVO/Notes"
head -c 100000 /dev/urandom >"$SMALL/KIVO/Video/Recording.bin"
(cd "$SMALL/KIVO/Notes" && touch $(seq -f 'note%g.txt' 1 1500))
BEFORE=$(installed_files)
ENTRY=$(wine_out reg query "$UNINSTALL_KEY" /reg:32)
# The product's files on a drive of 4 KiB pages, and a little more: the uninstaller does not fit.
PRODUCT_KB=$(find "$KIVO_PRODUCT_STAGE" -type f -printf '%s\n' | awk '{ s += int(($1 + 4095) / 4096) * 4 } END { print s }')
# The new files are written ahead during the close pass and put in place by renames, which
# need no room: the drive fills before the backup, or before the uninstaller copy.
for point in "backup=64=!Backup=Action TInstallerActionCloseApplications ends" \
  "uninstaller=$((PRODUCT_KB + 256))=Uninstall.exe=Replaced files are kept until the run is complete in:"; do
  IFS='=' read -r name leave file pattern <<<"$point"
  step "an update on a drive that fills before the $name: undone, the installation as it was"
  fill_during "fill-$name" "$leave" "$pattern"
  if answer_setup_box "the disk is full"; then
    check_contains "message: the file and the full disk" '" could not be written: the disk D: is full.' "$BOX_TEXT"
    check_contains "message: the file" "D:\\KIVO\\$file" "$BOX_TEXT"
    check_contains "message: what the failure left" 'Nothing was changed: the previous installation is in place' "$BOX_TEXT"
  fi
  end_win 60
  check "exit code" 1603 "$RUN_EXIT"
  stop_server
  rm -f "$SMALL/filler.bin"
  LOG=$(log_text "$(drive_c)/fill-$name.log" 2>/dev/null)
  check_contains "log: the run is undone" 'The run did not complete: undoing its actions' "$LOG"
  check "every file as it was, no archive of the failed run" "$BEFORE" "$(installed_files)"
  check "no folder of the run is left" "" "$(ls -d "$SMALL"/KIVO/~KIVO* 2>/dev/null)"
  check "the uninstall entry as it was" "$ENTRY" "$(wine_out reg query "$UNINSTALL_KEY" /reg:32)"
done

step "the installation's own uninstaller still works"
run_win "$WORK/fill-uninstall.out" 'D:\KIVO\Uninstall.exe' /AUTO /SILENT
check "exit code" 0 "$RUN_EXIT"
stop_server
check "the program is gone" "" "$(ls "$SMALL/KIVO/KIVO.exe" 2>/dev/null)"
check "the user's recording stays" 1 "$(ls "$SMALL/KIVO/Video/Recording.bin" 2>/dev/null | wc -l)"
check "the entry is gone" 1 "$(wine_out reg query "$UNINSTALL_KEY" /reg:32 >/dev/null; echo $?)"

step "a temporary folder without room for the product package: refused before anything is written"
use_prefix room-temp fresh
small_drive 1m
fill_to 64
wine_out reg add 'HKCU\Environment' /v TEMP /t REG_SZ /d 'D:\' /f >/dev/null
wine_out reg add 'HKCU\Environment' /v TMP /t REG_SZ /d 'D:\' /f >/dev/null
stop_server
# The E10 text of the English language file: the disk, then the sizes.
E10=$(iconv -f UTF-16 -t UTF-8 "${KIVO_SETUP_STAGE:?}/English.lng" | tr -d '\r' |
  awk '/^\[/ { s = ($0 == "[Common]"); next } s && /^E10=/ { sub(/^E10=/, ""); print; exit }')
[ -n "$E10" ] || fatal "no E10 text in section Common of $KIVO_SETUP_STAGE/English.lng"
E10_REST=${E10#*%s}
E10_START="${E10%%%s*}D:${E10_REST%%%s*}"
start_win "$WORK/room-temp.out" "$(winpath "$SETUP_EXE")" '/AUTO=C:\KIVO' /SILENT '/LOG=C:\room-temp.log'
if answer_setup_box "no room to unpack"; then
  check_contains "message: the E10 text naming the drive" "$E10_START" "$BOX_TEXT"
fi
end_win 60
check "exit code" 1603 "$RUN_EXIT"
stop_server
check "C:\KIVO was not made" "" "$(ls -d "$(drive_c)/KIVO" 2>/dev/null)"
check "nothing left on the temporary drive" "filler.bin" "$(ls "$SMALL")"
finish
