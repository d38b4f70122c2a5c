#!/usr/bin/env bash
# The setup and integration pages as a person uses them, on a clean machine:
# - the destination typed (the edit keeps exactly the typed text; empty or refused
#   folders block Next, a refused one says why) and chosen in the folder browser (the
#   product's name appended unless the folder already has it);
# - portable under Program Files moves the destination to the desktop's product folder,
#   standard moves it back; a portable installation skips the integration page;
# - the integration page's choices: the ready summary is rebuilt after going back, and
#   the integration program receives exactly the chosen switches (Elevator.log);
# - a typed destination that cannot be created fails the run: the finish page lists the
#   error and the exit code is 1603.
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
sleep 0.3
check "the edit keeps the typed text" 'C:\Typed' "$(visible_text Edit)"
check_true "Next enabled" has_flag "$NEXT" E
type_path ''
sleep 0.3
check "an empty destination disables Next" 0 "$(has_flag "$NEXT" E && echo 1 || echo 0)"
type_path 'C:\'
sleep 0.3
check "a drive's root disables Next" 0 "$(has_flag "$NEXT" E && echo 1 || echo 0)"
check_contains "and the page says why" "it is the root of a drive" "$(visible_texts)"
check "the refused text stays in the edit" 'C:\' "$(visible_text Edit)"
type_path 'C:\Typed\KIVO'
sleep 0.3
check_true "a usable folder enables Next again" has_flag "$NEXT" E
check "the reason is gone" "" "$(visible_texts | grep -F 'root of a drive')"
screenshot pages-setup-typed

step "browsed destinations"
for case in 'C:\Media|C:\Media\KIVO\' 'C:\Media\Films|C:\Media\Films\KIVO\' 'C:\Media\KIVO|C:\Media\KIVO\'; do
  click_button "$(lng PageSetup Browse)"
  if drive wait --class '#32770' --title "$BROWSER" --timeout 10000 >/dev/null; then
    drive type --class '#32770' --title "$BROWSER" --id 1152 --text "${case%%|*}" >/dev/null
    drive click --class '#32770' --title "$BROWSER" --button "$(lng Common lOk)" >/dev/null
    sleep 1
    check "browsed ${case%%|*}" "${case#*|}" "$(visible_text Edit)"
  else
    fail "no folder browser titled [$BROWSER]"
  fi
done
click_button "$(lng PageSetup Browse)"
drive wait --class '#32770' --title "$BROWSER" --timeout 10000 >/dev/null
drive click --class '#32770' --title "$BROWSER" --button "$(lng Common lCancel)" >/dev/null ||
  drive click --class '#32770' --title "$BROWSER" --button Cancel >/dev/null
sleep 1
check "Cancel in the browser changes nothing" 'C:\Media\KIVO\' "$(visible_text Edit)"

step "portable and standard"
click_button "$PORTABLE"
sleep 0.3
check "portable outside Program Files keeps the folder" 'C:\Media\KIVO\' "$(visible_text Edit)"
click_button "$NEXT"
expect_page PageReadyToInstall
check_contains "portable: the integration page is skipped, the summary says portable" "$PORTABLE" "$(summary)"
click_button "$BACK"
expect_page PageSetup
click_button "$STANDARD"
type_path 'C:\Program Files (x86)\KIVO'
sleep 0.3
click_button "$PORTABLE"
sleep 0.3
check "portable under Program Files moves to the desktop" "$DESKTOP_WIN" "$(visible_text Edit)"
check_true "portable ticked" has_flag "$PORTABLE" C
screenshot pages-setup-portable
click_button "$STANDARD"
sleep 0.3
check "standard again moves back to the default" "$DEFAULT_WIN" "$(visible_text Edit)"
check_true "standard ticked" has_flag "$STANDARD" C
click_button "$(lng PageSetup Browse)"
drive wait --class '#32770' --title "$BROWSER" --timeout 10000 >/dev/null
drive type --class '#32770' --title "$BROWSER" --id 1152 --text 'C:\Media' >/dev/null
drive click --class '#32770' --title "$BROWSER" --button "$(lng Common lOk)" >/dev/null
sleep 1
check "the final destination" 'C:\Media\KIVO\' "$(visible_text Edit)"

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
  "$(grep -F -e "$(lng PageIntegration CB3)" -e "$(lng PageIntegration CB1)" <<<"${SUMMARY//\\r\\n/$'\n'}")"
check_contains "summary: the context menu" "$(lng PageIntegration CB5)" "$SUMMARY"
click_button "$BACK"
expect_page PageIntegration
check "the unticked box stays unticked" VE "$(control_flags "$(lng PageIntegration CB3)" | tr -d 'F')"
click_button "$(lng PageIntegration CB3)"
click_button "$(lng PageIntegration CB5)"
click_button "$NEXT"
expect_page PageReadyToInstall
SUMMARY=$(summary)
check_contains "rebuilt summary: association again" "$(lng PageIntegration CB3)" "$SUMMARY"
check "rebuilt summary: no context menu now" "" "$(grep -F "$(lng PageIntegration CB5)" <<<"${SUMMARY//\\r\\n/$'\n'}")"
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
sleep 0.3
click_button "$NEXT"
expect_page PageIntegration
click_button "$NEXT"
expect_page PageReadyToInstall
click_button "$INSTALL"
expect_page PageFinish 90
check_contains "the finish page says the run failed" "$(lng PageFinish E1)" "$(visible_texts)"
check_contains "and lists the error" 'C:\blocker\KIVO\' "$(visible_text Edit)$(visible_texts)"
click_button "$(lng Common bFinish)"
end_win 30
check "exit code" 1603 "$RUN_EXIT"
finish
