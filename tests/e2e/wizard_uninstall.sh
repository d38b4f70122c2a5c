#!/usr/bin/env bash
# The uninstall wizard: C:\KIVO\Uninstall.exe started without switches hands over to its
# copy in the temporary folder, which shows the options page (Next reads "Uninstall"),
# the progress and the finish page. The options reach the uninstall action:
# - "RemoveContent" alone removes the profiles and the program's own profile folder,
#   keeps "!Backup\" and so the program folder;
# - both options remove what the installation made, the profile and the backups, and
#   keep the user's own files in the program folder;
# - neither keeps profiles and backups; closing on the options page ends with 1602.
# The window is titled as the uninstaller, names the folder it removes, asks again before
# the user's data goes, and preselects the language the installation was set up in.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

# The uninstaller's window names itself so.
WIZARD_TITLE=$(lng Common CaptionUninstall)
UNINSTALL=$(lng Common bUninstall)
FINISH=$(lng Common bFinish)
CB1=$(lng PageUninstallParams CB1)
CB2=$(lng PageUninstallParams CB2)
DEST=""
PROFILE=""

# installed: a fresh installation at C:\KIVO with a backup, the user's playlist and a profile.
installed() {
  silent_install "$1" "$1.log"
  [ "$RUN_EXIT" == 0 ] || fatal "the installation failed with $RUN_EXIT"
  DEST=$(drive_c)/KIVO
  PROFILE=$(drive_c)/users/root/AppData/Roaming/KIVO
  mkdir -p "$DEST/!Backup" "$DEST/Playlists" "$PROFILE"
  echo zip >"$DEST/!Backup/z Before install 4.60 [2024.01.01 10-00-00].zip"
  echo mine >"$DEST/Playlists/mine.m3u"
  echo profile >"$PROFILE/KIVO.ini"
}

# uninstall_wizard LOG BOXES...: runs the uninstaller with its window, ticks the named
# boxes on the options page and uninstalls; RUN_EXIT, LOG.
uninstall_wizard() {
  local log=$1 box
  shift
  rm -f "$(drive_c)/$log"
  RUN_TIMEOUT=$WIZARD_RUN_TIMEOUT start_win "$WORK/$log.out" 'C:\KIVO\Uninstall.exe' "/LOG=C:\\$log"
  drive click --class '#32770' --title "Select Language" --button OK --timeout 30000 >/dev/null
  expect_page PageUninstallParams 30
  check "options: both unticked at first" "VE VE" \
    "$(control_flags "$CB1" | tr -d 'F') $(control_flags "$CB2" | tr -d 'F')"
  check_true "options: Next reads Uninstall" has_flag "$UNINSTALL" E
  check "options: no Back on the first page" 0 "$(has_flag "$(lng Common bBack)" V && echo 1 || echo 0)"
  check_contains "options: the folder that goes" "$(fmt "$(lng PageUninstallParams LFolder)" 'C:\KIVO')" "$(visible_texts)"
  for box in "$@"; do
    click_button "$box"
    # Removing the user's data is asked once more.
    if [ "$box" == "$CB2" ]; then
      check "options: the user data question" "$(lng PageUninstallParams CB2Confirm | sed 's/\\n/\\r\\n/g')" \
        "$(box_text "$WIZARD_TITLE")"
      answer_box "$WIZARD_TITLE" OK
    fi
    check_soon "options: [$box] ticked" 1 eval 'has_flag "$box" C && echo 1'
  done
  screenshot "uninstall-options-$log"
  click_button "$UNINSTALL"
  expect_page PageUninstallFinish 90
  check_contains "the progress page was shown" "Wizard: page PageUninstall" "$(wizard_log_of "$log")"
  click_button "$FINISH"
  end_win 60
  stop_server
  LOG=$(log_text "$(drive_c)/$log" 2>/dev/null)
}
wizard_log_of() { log_text "$(drive_c)/$1" 2>/dev/null; }

use_prefix wizard_uninstall fresh
step "RemoveContent only"
installed install1
uninstall_wizard content.log "$CB2"
check "exit code through the relay" 0 "$RUN_EXIT"
check_contains "the installed uninstaller hands over" 'Handing over to a copy of the uninstaller' "$LOG"
check_contains "the copy runs the wizard" 'Command line: /PATH="C:\KIVO\" /LOG=C:\content.log' "$LOG"
check "the actions" "CloseApplications UninstallFiles UninstallIntegration UninstallEntry" "$(action_order "$LOG")"
check "the profile is gone" "" "$(ls -d "$PROFILE" 2>/dev/null)"
check "the backup stays" zip "$(cat "$DEST/!Backup/"*.zip 2>/dev/null)"
check_true "so the program folder stays" test -d "$DEST"
check_true "the program is gone" test ! -e "$DEST/KIVO.exe"
check "no errors" "" "$(grep -E '^(Error|Setup error):' <<<"$LOG")"

step "both options"
installed install2
uninstall_wizard both.log "$CB1" "$CB2"
check "exit code" 0 "$RUN_EXIT"
# Only what the installation made goes: the user's playlist, which no setup wrote, stays.
check "the program's files are gone" "" "$(ls "$DEST/KIVO.exe" "$DEST/Uninstall.dat" "$DEST/!Backup" 2>/dev/null)"
check "the user's playlist stays" mine "$(cat "$DEST/Playlists/mine.m3u" 2>/dev/null)"
rm -rf "$DEST"  # the next case is a fresh installation
check "the profile is gone" "" "$(ls -d "$PROFILE" 2>/dev/null)"

step "neither option"
installed install3
uninstall_wizard neither.log
check "exit code" 0 "$RUN_EXIT"
check "the backup stays (a wizard run keeps it unless asked)" zip "$(cat "$DEST/!Backup/"*.zip 2>/dev/null)"
check "the profile stays" profile "$(cat "$PROFILE/KIVO.ini" 2>/dev/null)"
check "the playlist stays" mine "$(cat "$DEST/Playlists/mine.m3u" 2>/dev/null)"
check_true "the program is gone" test ! -e "$DEST/KIVO.exe"

step "closing on the options page; the language of the installation preselected"
installed install4
# The installation says it was set up in German (KIVO.ini, UTF-16 or UTF-8 as written).
INI=$DEST/KIVO.ini
if [ "$(head -c2 "$INI" | od -An -tx1 | tr -d ' \n')" == fffe ]; then
  { printf '\xff\xfe'; iconv -f UTF-16 -t UTF-8 "$INI" | sed 's/^DefaultLang=[^\r]*/DefaultLang=German.lng/' |
    iconv -f UTF-8 -t UTF-16LE; } >"$INI.new"
else
  sed 's/^DefaultLang=[^\r]*/DefaultLang=German.lng/' "$INI" >"$INI.new"
fi
mv "$INI.new" "$INI"
rm -f "$(drive_c)/closed.log"
RUN_TIMEOUT=$WIZARD_RUN_TIMEOUT start_win "$WORK/closed.out" 'C:\KIVO\Uninstall.exe' '/LOG=C:\closed.log'
LANGUAGES=$(drive texts --class '#32770' --title "Select Language" --timeout 30000)
check "the installation's language is preselected" "Deutsch" "$(sed -n 's/^ComboBox\t100\t//p' <<<"$LANGUAGES")"
choose_language_named English
expect_page PageUninstallParams 30
drive close --title "$WIZARD_TITLE" >/dev/null
answer_box "$WIZARD_TITLE" OK
end_win 30
check "exit code through the relay" 1602 "$RUN_EXIT"
check_true "nothing removed" test -f "$DEST/KIVO.exe"
finish
