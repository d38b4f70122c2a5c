#!/usr/bin/env bash
# The setup and integration pages as a person uses them, on a clean machine:
# - the destination typed (the edit keeps exactly the typed text; empty or refused
#   folders block Next, a refused one says why) and chosen in the folder browser (the
#   product's name appended unless the folder already has it);
# - portable under Program Files moves the destination to the desktop's product folder,
#   standard moves it back; a portable installation skips the integration page;
# - the integration page's choices: the ready summary is rebuilt after going back, and
#   the integration program receives exactly the chosen switches (Elevator.log);
# - a typed destination is checked on Next: a relative path, a character no folder name
#   may hold, a drive that does not exist and a drive with too little room (a small
#   tmpfs linked as a Wine drive) are refused with their message, the text is kept as
#   typed; the free space is shown beside the space needed;
# - a typed destination that cannot be created fails the run: the finish page lists the
#   message, what to do and where the log is, never the call stack; exit 1603.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
need_display "$@"

NEXT=$(lng Common bNext)
BACK=$(lng Common bBack)
INSTALL=$(lng Common bInstall)
PORTABLE=$(lng PageSetup CB3)
STANDARD=$(lng PageSetup CB2)
DESKTOP_WIN='C:\users\root\Desktop\KIVO\'
DEFAULT_WIN='C:\Program Files (x86)\KIVO\'
BROWSER=$(lng Common lBrowse)

use_prefix wizard_pages fresh
# A small drive R: (a 256 KB tmpfs) for the too-little-room case, linked before Wine starts.
SMALL_DRIVE=$WORK/small-drive
mkdir -p "$SMALL_DRIVE"
if mount -t tmpfs -o size=256k tmpfs "$SMALL_DRIVE" 2>/dev/null; then
  # Unmounted however the scenario ends.
  trap 'umount "$SMALL_DRIVE" 2>/dev/null' EXIT
  ln -sfn "$SMALL_DRIVE" "$WINEPREFIX/dosdevices/r:"
else
  SMALL_DRIVE=""
fi
mkdir -p "$(drive_c)/Media/KIVO" "$(drive_c)/Media/Films"
step "Setup.exe to the setup page"
start_wizard "$WORK/wizard_pages.out"
choose_language
expect_page PageWelcome
click_button "$NEXT"
accept_licence
expect_page PageSetup
check "the default destination" "$DEFAULT_WIN" "$(visible_text Edit)"
check "the browse button's caption" VE "$(control_flags "$(lng PageSetup Browse)" | tr -d 'F')"
check "nothing to update: CB1 hidden" "" "$(control_flags "$(lng PageSetup CB1)" | tr -d 'EC')"
check "standard chosen, both radios enabled" "VEC VE" \
  "$(control_flags "$STANDARD" | tr -d 'F') $(control_flags "$PORTABLE" | tr -d 'F')"
check "no warning on a clean machine" "" "$(visible_texts | grep -Fx -e "$(lng PageSetup W1)" -e "$(lng PageSetup W3)")"

step "typed destinations"
type_path 'C:\Typed'
check_soon "the edit keeps the typed text" 'C:\Typed' visible_text Edit
check_soon "Next enabled" 1 next_enabled
type_path ''
check_soon "an empty destination disables Next" 0 next_enabled
type_path 'C:\'
check_soon "a drive's root disables Next" 0 next_enabled
check_contains "and the page says why" "it is the root of a drive" "$(visible_texts)"
check "the refused text stays in the edit" 'C:\' "$(visible_text Edit)"
type_path 'C:\Typed\KIVO'
check_soon "a usable folder enables Next again" 1 next_enabled
check "the reason is gone" "" "$(visible_texts | grep -F 'root of a drive')"
check_contains "the space needed and the free space of drive C: beside the folder" \
  "$(fmt "$(lng PageSetup Space)" X Y C: | sed 's/^.* Y//')" "$(visible_texts)"
screenshot pages-setup-typed

step "typed folders checked on Next"
# refused_on_next TEXT KEY ARGS...: Next refuses TEXT with the message KEY formatted with ARGS.
refused_on_next() {
  local typed=$1 expected
  expected=$(fmt "$(lng PageSetup "$2")" "${@:3}")
  type_path "$typed"
  check_soon "[$typed]: Next is enabled, to say what is wrong" 1 next_enabled
  click_button "$NEXT"
  check "[$typed]: the message on Next" "$expected" "$(box_text "$WIZARD_TITLE")"
  close_box "$WIZARD_TITLE" OK || fail "[$typed]: the message stays open"
  check "[$typed]: still the setup page" PageSetup "$(wizard_page)"
  check "[$typed]: the text is kept as typed" "$typed" "$(visible_text Edit)"
  check_contains "[$typed]: the page says it too" "$expected" "$(visible_texts)"
}
refused_on_next 'kivo' ERelative 'kivo'
refused_on_next 'C:\bad|name' EInvalidChar 'C:\bad|name' '|'
refused_on_next 'Q:\x' ENoDrive 'Q:'
if [ -n "$SMALL_DRIVE" ]; then
  TOO_SMALL=$(fmt "$(lng PageSetup ENoRoom)" 'R:' X X | sed 's/ X.*//')
  type_path 'R:\KIVO'
  click_button "$NEXT"
  check_contains "a drive with too little room" "$TOO_SMALL" "$(box_text "$WIZARD_TITLE")"
  close_box "$WIZARD_TITLE" OK || fail "too little room: the message stays open"
  check "too little room: still the setup page" PageSetup "$(wizard_page)"
else
  note "no tmpfs can be mounted here: the too-little-room case is left out"
fi
type_path 'C:\Typed\KIVO'
check_soon "a usable folder after the refusals" 1 next_enabled

step "browsed destinations"
for case in 'C:\Media|C:\Media\KIVO\' 'C:\Media\Films|C:\Media\Films\KIVO\' 'C:\Media\KIVO|C:\Media\KIVO\'; do
  click_button "$(lng PageSetup Browse)"
  if drive wait --class '#32770' --title "$BROWSER" --timeout 10000 >/dev/null; then
    drive type --class '#32770' --title "$BROWSER" --id 1152 --text "${case%%|*}" >/dev/null
    drive click --class '#32770' --title "$BROWSER" --button "$(lng Common lOk)" >/dev/null
    check_soon "browsed ${case%%|*}" "${case#*|}" visible_text Edit
  else
    fail "no folder browser titled [$BROWSER]"
  fi
done
click_button "$(lng PageSetup Browse)"
drive wait --class '#32770' --title "$BROWSER" --timeout 10000 >/dev/null
drive click --class '#32770' --title "$BROWSER" --button "$(lng Common lCancel)" >/dev/null ||
  drive click --class '#32770' --title "$BROWSER" --button Cancel >/dev/null
soon 10 "" eval 'drive list | grep -F "$BROWSER"' || fail "the folder browser stays open"
check "Cancel in the browser changes nothing" 'C:\Media\KIVO\' "$(visible_text Edit)"

step "portable and standard"
click_button "$PORTABLE"
check_soon "portable chosen" 1 eval 'has_flag "$PORTABLE" C && echo 1'
check "portable outside Program Files keeps the folder" 'C:\Media\KIVO\' "$(visible_text Edit)"
click_button "$NEXT"
expect_page PageReadyToInstall
check_contains "portable: the integration page is skipped, the summary says portable" "$(lng_plain PageSetup CB3)" "$(summary)"
click_button "$BACK"
expect_page PageSetup
click_button "$STANDARD"
type_path 'C:\Program Files (x86)\KIVO'
click_button "$PORTABLE"
check_soon "portable under Program Files moves to the desktop" "$DESKTOP_WIN" visible_text Edit
check_true "portable ticked" has_flag "$PORTABLE" C
screenshot pages-setup-portable
click_button "$STANDARD"
check_soon "standard again moves back to the default" "$DEFAULT_WIN" visible_text Edit
check_true "standard ticked" has_flag "$STANDARD" C
click_button "$(lng PageSetup Browse)"
drive wait --class '#32770' --title "$BROWSER" --timeout 10000 >/dev/null
drive type --class '#32770' --title "$BROWSER" --id 1152 --text 'C:\Media' >/dev/null
drive click --class '#32770' --title "$BROWSER" --button "$(lng Common lOk)" >/dev/null
check_soon "the final destination" 'C:\Media\KIVO\' visible_text Edit

step "integration page and the ready summary"
click_button "$NEXT"
expect_page PageIntegration
for key in CB1 CB2 CB4 CB3 CB5; do
  check "$key ticked by default" VEC "$(control_flags "$(lng PageIntegration "$key")" | tr -d 'F')"
done
screenshot pages-integration
click_button "$(lng PageIntegration CB1)"
click_button "$(lng PageIntegration CB3)"
click_button "$NEXT"
expect_page PageReadyToInstall
SUMMARY=$(summary)
check_contains "summary: the destination" 'C:\Media\KIVO\' "$SUMMARY"
check "summary: no association, no desktop shortcut" "" \
  "$(grep -F -e "$(lng_plain PageIntegration CB3)" -e "$(lng_plain PageIntegration CB1)" <<<"${SUMMARY//\\r\\n/$'\n'}")"
check_contains "summary: the context menu" "$(lng_plain PageIntegration CB5)" "$SUMMARY"
click_button "$BACK"
expect_page PageIntegration
check "the unticked box stays unticked" VE "$(control_flags "$(lng PageIntegration CB3)" | tr -d 'F')"
click_button "$(lng PageIntegration CB3)"
click_button "$(lng PageIntegration CB5)"
click_button "$NEXT"
expect_page PageReadyToInstall
SUMMARY=$(summary)
check_contains "rebuilt summary: association again" "$(lng_plain PageIntegration CB3)" "$SUMMARY"
check "rebuilt summary: no context menu now" "" "$(grep -F "$(lng_plain PageIntegration CB5)" <<<"${SUMMARY//\\r\\n/$'\n'}")"
click_button "$INSTALL"
expect_page PageFinish 90
for box in RunProduct ShowWhatsNew; do click_button "$(lng PageFinish "$box")"; done
click_button "$(lng Common bFinish)"
end_win 30
check "exit code" 0 "$RUN_EXIT"

step "what the run did"
check "Elevator.log: the chosen switches (no context menu), association with its dialog" \
  '"C:\Media\KIVO\Elevator.exe" /REG=L1 /REG=D1 /REG=R1 /REG=R2 /REG_UI' \
  "$(tr -d '\r' <"$(drive_c)/Media/KIVO/Elevator.log" 2>/dev/null)"
check_true "Start menu shortcut made" test -n "$(find "$(drive_c)" -ipath '*Start Menu*' -iname 'KIVO*.lnk' | head -1)"
check "no desktop shortcut" "" "$(find "$(drive_c)/users" -ipath '*Desktop*' -iname 'KIVO*.lnk')"
check "pages" "PageWelcome PageLicense PageSetup PageReadyToInstall PageSetup PageIntegration PageReadyToInstall \
PageIntegration PageReadyToInstall PageInstall PageFinish" "$(pages_seen)"

step "a destination that cannot be made"
stop_server
echo "a file, not a folder" >"$(drive_c)/blocker"
start_wizard "$WORK/wizard_pages_failed.out"
choose_language
expect_page PageWelcome
click_button "$NEXT"
accept_licence
expect_page PageSetup
type_path 'C:\blocker\KIVO'
check_soon "the typed folder is taken" 1 next_enabled
click_button "$NEXT"
expect_page PageIntegration
click_button "$NEXT"
expect_page PageReadyToInstall
click_button "$INSTALL"
expect_page PageFinish 90
check_contains "the finish page says the run failed" "$(lng PageFinish E1)" "$(visible_texts)"
FAILED_TEXT=$(visible_text Edit)$(visible_texts)
check_contains "and lists the error" 'C:\blocker\KIVO\' "$FAILED_TEXT"
check_contains "what to do" "$(lng Common FailedHelp)" "$FAILED_TEXT"
check_contains "where the log is" "$(fmt "$(lng Common FailedLog)" 'C:\wizard.log')" "$FAILED_TEXT"
check "no call stack for the user" "" "$(grep -oE 'Setup\.exe\+0x[0-9a-f]+|-{20}' <<<"$FAILED_TEXT" | head -1)"
check_true "the call stack is in the log" grep -qE 'Setup\.exe\+0x' "$(drive_c)/wizard.log"
click_button "$(lng Common bFinish)"
end_win 30
check "exit code" 1603 "$RUN_EXIT"
if [ -n "$SMALL_DRIVE" ]; then
  stop_server
  rm -f "$WINEPREFIX/dosdevices/r:"
  umount "$SMALL_DRIVE"
fi
finish
