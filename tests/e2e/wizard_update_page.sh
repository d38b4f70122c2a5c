#!/usr/bin/env bash
# The setup page at an updatable installation: version 4.60, per-user, registered at
# C:\KIVO (tests/fixtures). The page shows "CB1" and "CB4" ticked, both radios disabled
# with the installed kind, and "W1" with both versions; the integration page is skipped.
# Unticking "CB4" drops the backup from the summary; unticking "CB1" hides "CB4", frees
# the radios, shows "W5" (this folder's version) instead of "W1" and brings the
# integration page back, with the installed copy's earlier choices. The new installation
# then integrates as chosen.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/wizard_lib.sh"
source "$(dirname "$0")/../fixtures/older_install.sh"
need_display "$@"

NEXT=$(lng Common bNext)
BACK=$(lng Common bBack)
CB1=$(lng PageSetup CB1)
CB4=$(lng PageSetup CB4)
# The notice names both versions: the installed one and this setup's.
W1=$(fmt "$(lng PageSetup W1)" 4.60 5.10)
# Declined, the notice speaks of this folder's installation and its version.
W5=$(fmt "$(lng PageSetup W5)" 4.60)
PORTABLE=$(lng PageSetup CB3)
STANDARD=$(lng PageSetup CB2)
unlines() { printf '%s' "${1//\\r\\n/$'\n'}"; }

use_prefix wizard_update_page fresh
fixture_460 KIVO
# An earlier choice of the installed copy: no file associations.
printf '[System]\r\nUserMode=1\r\nVersion=4600\r\n\r\n[Integration]\r\nShortcutDesktop=1\r\nAssociateWithFiles=0\r\n' \
  >"$(drive_c)/KIVO/KIVO.ini"

step "the setup page at version 4.60"
start_wizard "$WORK/wizard_update_page.out"
choose_language
expect_page PageWelcome
click_button "$NEXT"
accept_licence
expect_page PageSetup
check "the registered folder is the destination" 'C:\KIVO\' "$(visible_text Edit)"
check "CB1 shown and ticked" VEC "$(control_flags "$CB1" | tr -d 'F')"
check "CB4 shown and ticked" VEC "$(control_flags "$CB4" | tr -d 'F')"
check "radios disabled, the installed kind (standard) shown" "VC V" \
  "$(control_flags "$STANDARD" | tr -d 'F') $(control_flags "$PORTABLE" | tr -d 'F')"
check_contains "W1 shown" "$W1" "$(visible_texts)"
check "W5 not shown while updating" "" "$(visible_texts | grep -Fx "$W5")"
screenshot update-page-460

step "the update's summary, with and without the backup"
click_button "$NEXT"
expect_page PageReadyToInstall
check_contains "integration page skipped; the summary says update" "$(lng_plain PageSetup CB1)" "$(unlines "$(summary)")"
check_contains "and backup" "$(lng_plain PageSetup CB4)" "$(unlines "$(summary)")"
click_button "$BACK"
expect_page PageSetup
click_button "$CB4"
check_soon "CB4 unticked" VE eval 'control_flags "$CB4" | tr -d F' 
click_button "$NEXT"
expect_page PageReadyToInstall
check "no backup in the summary" "" "$(unlines "$(summary)" | grep -F "$(lng_plain PageSetup CB4)")"
click_button "$BACK"
expect_page PageSetup
click_button "$CB4"

step "declining the update"
click_button "$CB1"
check_soon "CB1 shown, unticked" VE eval 'control_flags "$CB1" | tr -d F' 
check "CB4 hidden" "" "$(control_flags "$CB4" | tr -d 'ECF')"
check "radios enabled" "VEC VE" "$(control_flags "$STANDARD" | tr -d 'F') $(control_flags "$PORTABLE" | tr -d 'F')"
check_contains "W5 shown" "$W5" "$(visible_texts)"
check "W1 gone" "" "$(visible_texts | grep -Fx "$W1")"
screenshot update-page-declined
click_button "$NEXT"
expect_page PageIntegration
check "the installed copy's choice: no association" VE \
  "$(control_flags "$(lng PageIntegration CB3)" | tr -d 'F')"
check "the rest ticked" VEC "$(control_flags "$(lng PageIntegration CB5)" | tr -d 'F')"
click_button "$NEXT"
expect_page PageReadyToInstall
SUMMARY=$(unlines "$(summary)")
check_contains "summary: a standard installation" "$(lng_plain PageSetup CB2)" "$SUMMARY"
check_contains "summary: W5 repeated" "$W5" "$SUMMARY"
check "summary: the options' heading once, the warning under it" 1 "$(grep -cFx "$(lng PageSetup Title)" <<<"$SUMMARY")"
click_button "$(lng Common bInstall)"
expect_page PageFinish 120
for box in RunProduct ShowWhatsNew; do click_button "$(lng PageFinish "$box")"; done
click_button "$(lng Common bFinish)"
end_win 30
check "exit code" 0 "$RUN_EXIT"
check "Elevator.log: integration without association" '"C:\KIVO\Elevator.exe" /REG=L1 /REG=D1 /REG=R1 /REG=M1' \
  "$(tr -d '\r' <"$(drive_c)/KIVO/Elevator.log" 2>/dev/null)"
check_contains "a new installation, not an update" "Run starts" "$(wizard_log | grep '^Run starts' | grep -v Update)"
finish
