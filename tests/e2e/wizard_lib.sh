# Helpers of the wizard scenarios (wizard_*.sh): start Setup.exe with its window, walk
# the pages with the UI driver as a person would, read controls and their state, and
# take screenshots. Sourced after lib.sh.

WIZARD_TITLE="KIVO Setup"
STUBBORN_EXE=$(dirname "${UIDRIVER_EXE:?}")/stubborn_window.exe
SHOTS=${KIVO_WIZARD_SHOTS:-$WORK/shots}

# lng SECTION KEY: the text as the setup shows it ($NAME is the product's name), from
# $WIZARD_LANGUAGE.lng (English by default).
# How long a wizard run may stay open: the scenario walks its pages for minutes.
WIZARD_RUN_TIMEOUT=${KIVO_E2E_WIZARD_TIMEOUT:-900}

lng() {
  iconv -f UTF-16 -t UTF-8 "${KIVO_SETUP_STAGE:?}/${WIZARD_LANGUAGE:-English}.lng" | tr -d '\r' |
    S=$1 K=$2 awk '/^\[/ { s = ($0 == "[" ENVIRON["S"] "]"); next }
      s && index($0, ENVIRON["K"] "=") == 1 { print substr($0, length(ENVIRON["K"]) + 2); exit }' |
    sed 's/\$NAME/KIVO/g'
}

# lng_plain SECTION KEY: the text without its access key, as summaries and logs write it.
lng_plain() { lng "$1" "$2" | sed 's/&\(.\)/\1/g'; }

wizard_state() { drive state --title "$WIZARD_TITLE" --timeout 10000; }
wizard_page() { drive page --title "$WIZARD_TITLE" --timeout 10000; }

# control_flags TEXT: the state flags of the control whose text is TEXT (first match).
# Every control has flags ("-" at least), so none means its text was not read: the
# driver gives up on a text after 10 s while the window is busy (a page being built on a
# loaded machine). The state is read again until the control is found.
control_flags() {
  local deadline=$((SECONDS + 10)) flags
  while :; do
    flags=$(T=$1 awk -F'\t' 'NR > 1 && $4 == ENVIRON["T"] { print $3; exit }' <<<"$(wizard_state)")
    [ -n "$flags" ] || [ "$SECONDS" -ge "$deadline" ] && break
    sleep 0.2
  done
  printf '%s\n' "$flags"
}
# has_flag TEXT FLAG: whether the control with that text has the flag (V, E, C, F).
has_flag() { [[ "$(control_flags "$1")" == *"$2"* ]]; }

# wait_page NAME [SECONDS]: until the wizard shows that page; false on time-out.
wait_page() {
  local deadline=$((SECONDS + ${2:-20}))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(wizard_page 2>/dev/null)" == "$1" ] && return 0
    sleep 0.2
  done
  return 1
}

# soon SECONDS EXPECTED COMMAND...: until the command prints EXPECTED (true), or the
# time is up (false; the last output is in SOON_SEEN). The state a check needs, not a pause.
soon() {
  local deadline=$((SECONDS + $1)) expected=$2
  shift 2
  while :; do
    SOON_SEEN=$("$@" 2>/dev/null)
    [ "$SOON_SEEN" == "$expected" ] && return 0
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}
# check_soon NAME EXPECTED COMMAND...: check on what the command prints once it has
# settled (up to 10 s).
check_soon() {
  local name=$1 expected=$2
  shift 2
  soon 10 "$expected" "$@"
  check "$name" "$expected" "$SOON_SEEN"
}
# next_enabled: 1 when the wizard's Next button is enabled, else 0.
next_enabled() { has_flag "$(lng Common bNext)" E && echo 1 || echo 0; }

# log_ms FROM TO: the milliseconds from the first line of the wizard's log that begins
# with FROM to the first later one that begins with TO; empty when either is missing.
log_ms() {
  tr -d '\r' <"$(drive_c)/wizard.log" | F=$1 T=$2 awk '
    function ms(line, t) { split(substr(line, 12, 12), t, "[:.]"); return ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }
    !from && index(substr($0, 26), ENVIRON["F"]) == 1 { from = ms($0); next }
    from && index(substr($0, 26), ENVIRON["T"]) == 1 { print ms($0) - from; exit }'
}

# fmt TEMPLATE ARGS...: the template with each "%s" replaced by the next argument.
fmt() {
  local text=$1 arg
  shift
  for arg in "$@"; do text=${text/\%s/"$arg"}; done
  printf '%s' "$text"
}

# expect_page NAME [SECONDS]: wait_page as a check; a wrong page ends the scenario.
expect_page() {
  if wait_page "$1" "${2:-20}"; then
    pass
  else
    fail "the wizard should show $1, it shows [$(wizard_page 2>&1)]; what is on the screen:"
    visible_windows
    finish
  fi
}

# click_button CAPTION: clicks a control of the wizard by its caption.
# The driver looks for it as long as the language dialog's OK: a page being built on a
# loaded machine keeps the window from answering for a while.
click_button() { drive click --title "$WIZARD_TITLE" --button "$1" --timeout 30000 >/dev/null || fail "cannot click [$1]"; }

# The wizard's message boxes: the toolkit's own, in light and dark mode alike.
BOX_CLASS=TZELMessageForm
# box_text TITLE: waits for a message box with that title and prints its message.
box_text() {
  local texts
  texts=$(drive texts --class "$BOX_CLASS" --title "$1" --timeout 10000) || return 1
  sed -n 's/^Static\t65535\t//p' <<<"$texts"
}
# answer_box TITLE BUTTON: clicks a button of the box; OK and Cancel name the buttons
# as the wizard's language captions them.
answer_box() {
  local button=$2
  case $button in
    OK) button=$(lng Common lOk) ;;
    Cancel) button=$(lng Common lCancel) ;;
  esac
  drive click --class "$BOX_CLASS" --title "$1" --button "$button" >/dev/null
}
# close_box TITLE BUTTON: answers the box and waits until it has gone, asking again when
# a click came before the box was ready for it; false when it stays.
close_box() {
  local i
  for i in 1 2 3 4 5; do
    answer_box "$1" "$2"
    soon 3 1 eval 'no_box "$1" && echo 1' && return 0
  done
  return 1
}
no_box() { ! drive list | grep -q $'^'"$BOX_CLASS"$'\t'"$1"'$'; }

# start_wizard OUT ARGS...: starts Setup.exe with its window and a log at C:\wizard.log.
start_wizard() {
  local out=$1
  shift
  # A walk through every page lasts minutes on a loaded machine: the run's own limit is
  # the scenario's, not that of a silent run.
  RUN_TIMEOUT=$WIZARD_RUN_TIMEOUT start_win "$out" "$(winpath "$SETUP_EXE")" '/LOG=C:\wizard.log' "$@"
}

# choose_language: OK in the language dialog (English is preselected on this system).
choose_language() {
  drive click --class '#32770' --title "Select Language" --button OK --timeout 30000 >/dev/null ||
    fatal "no language dialog; what is on the screen:"$'\n'"$(visible_windows)"
}

# choose_language_named NAME: picks the language by its name in the dialog, then OK.
choose_language_named() {
  drive select --class '#32770' --title "Select Language" --id 100 --text "$1" --timeout 30000 >/dev/null ||
    fatal "cannot choose $1 in the language dialog; what is on the screen:"$'\n'"$(visible_windows)"
  drive click --class '#32770' --title "Select Language" --button OK >/dev/null
}

# use_desktop_window: the programs of this prefix open in Wine's desktop window. Keys typed
# there through the X server reach the window that Wine made active, as a person's keys
# do; the UI driver's clicks and posted keys go around activation and focus.
use_desktop_window() {
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  "$WINESERVER" -w  # the desktop is made when the next program starts
}

# keys KEY...: typed through the X server (xdotool names: Return, Tab, space, alt+n).
keys() { xdotool key --delay 100 "$@"; }

wizard_log() { log_text "$(drive_c)/wizard.log" 2>/dev/null; }

# screenshot NAME: the whole virtual screen into $SHOTS/NAME.png.
screenshot() {
  mkdir -p "$SHOTS"
  import -window root "$SHOTS/$1.png" 2>/dev/null || note "no screenshot $1 (import failed)"
}

# visible_id CLASS: the id of the first visible control of that class (the page shown).
visible_id() { visible_field 2 "$1"; }
# visible_text CLASS: its text.
visible_text() { visible_field 4 "$1"; }
visible_field() {
  N=$1 C=$2 awk -F'\t' 'NR > 1 && tolower($1) == tolower(ENVIRON["C"]) && $3 ~ /V/ { print $ENVIRON["N"]; exit }' \
    <<<"$(wizard_state)"
}
# visible_texts: the texts of every visible control, one a line.
visible_texts() { awk -F'\t' 'NR > 1 && $3 ~ /V/ { print $4 }' <<<"$(wizard_state)"; }
# type_path TEXT: types into the setup page's destination edit.
type_path() {
  drive type --title "$WIZARD_TITLE" --id "$(visible_id Edit)" --text "$1" >/dev/null || fail "cannot type [$1]"
}
# summary: the ready page's summary text (\r\n as written by the driver).
summary() { visible_text RichEdit50W; }
# pages_seen: the pages the log names, in order.
pages_seen() { wizard_log | sed -n 's/^Wizard: page //p' | tr '\n' ' ' | sed 's/ $//'; }
# accept_licence: from the licence page to the next one (the box, its notice, Next).
accept_licence() {
  expect_page PageLicense
  click_button "$(lng PageLicense L1)"
  box_text "$WIZARD_TITLE" >/dev/null
  answer_box "$WIZARD_TITLE" OK
  soon 10 1 next_enabled || fail "Next stays disabled after the licence was accepted"
  click_button "$(lng Common bNext)"
}
