#!/usr/bin/env bash
# The backup's size limit, with sparse files (no 2 GiB on disk): a portable 4.60
# installation whose files add up to 2^31 - 1 bytes is archived and updated; one more
# byte and the run stops before anything is written or deleted, with one "Setup" box
# "Too many files for backup" and the exit code 1603.
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
finish
