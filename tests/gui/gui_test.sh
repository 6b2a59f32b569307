#!/usr/bin/env bash
# End-to-end tests of the Windows program: the real executable under Wine, on
# an X display of its own, driven with real clicks and keystrokes (xdotool).
# State is read from window titles, from the files on disk and, through
# probe.exe, from what the controls show.
#   gui_test.sh APP.EXE PROBE.EXE [TEST...]
set -uo pipefail

app=$1
probe=$2
shift 2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run=$root/tools/wine-run.sh
export WINEPREFIX=${VAULTINE_GUI_WINEPREFIX:-$root/build/wineprefix-gui-$("$wine_run" --arch)}
work=$(mktemp -d /tmp/vaultine-gui-XXXXXX)
shots=${VAULTINE_SCREENSHOTS:-$root/build/screenshots}
mkdir -p "$shots"

# ---- the display and Wine

start_display() {
  local n
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1024x768x24 -noreset -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    # A display number taken by another server makes ours exit at once.
    for _ in $(seq 100); do
      kill -0 $xvfb_pid 2>/dev/null || break
      xdotool getmouselocation >/dev/null 2>&1 && return 0
      sleep 0.05
    done
    kill $xvfb_pid 2>/dev/null
  done
  echo "cannot start Xvfb" >&2
  exit 1
}

finish() {
  stop_app
  "$wine_run" --stop-server
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}

# ---- waiting: poll, never sleep a fixed time

# Prints the id of the first visible window whose name matches, waiting for it.
wait_for() {
  local pattern=$1 tries=$(( ${2:-20} * 10 )) id
  for _ in $(seq "$tries"); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "timed out waiting for a window named $pattern" >&2
  return 1
}

wait_gone() {
  local pattern=$1 tries=$(( ${2:-20} * 10 ))
  for _ in $(seq "$tries"); do
    xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "window $pattern did not go away" >&2
  return 1
}

# ---- the program

start_app() {
  "$wine_run" "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  main=$(wait_for '^Vaultine$' 30) || return 1
}

# Closes whatever boxes are still open, then the program with its close box,
# as a user would; kills it and restarts Wine only if that does not work.
stop_app() {
  [ -n "${app_pid:-}" ] || return 0
  local tries
  for tries in 1 2 3; do
    [ -z "$(other_windows)" ] && break
    xdotool key Escape
    sleep 0.2
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    click_close_box
    for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  if kill -0 "$app_pid" 2>/dev/null; then
    echo "    (the program would not close; killing it)" >&2
    kill -9 "$app_pid" 2>/dev/null
    "$wine_run" --stop-server
    "$wine_run" --start-server
  fi
  wait "$app_pid" 2>/dev/null
  app_pid=
}

# The main dialog's close box, on the frame Wine draws.
click_close_box() {
  eval "$(xdotool getwindowgeometry --shell "$main" 2>/dev/null)"
  xdotool mousemove $((X + WIDTH - 12)) $((Y + 11)) click 1
}

# Waits for the program to end; fails if it does not within the time.
wait_exit() {
  for _ in $(seq $(( ${1:-10} * 10 ))); do
    kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid" 2>/dev/null; app_pid=; return 0; }
    sleep 0.1
  done
  echo "the program did not end" >&2
  return 1
}

# Clicks the middle of a rectangle given in dialog units of the main dialog.
click_dlu() { xdotool mousemove $(dlu_to_screen "$@") click 1; }

# The screen pixel of the middle of a rectangle in dialog units.
dlu_to_screen() {
  local x=$1 y=$2 w=$3 h=$4 geometry wx wy ww wh
  geometry=$(xdotool getwindowgeometry --shell "$main")
  eval "$geometry"
  wx=$X wy=$Y ww=$WIDTH wh=$HEIGHT
  # Wine draws its own frame: 3 pixels at the sides and bottom, 22 at the top.
  local px py
  px=$(awk -v wx="$wx" -v ww="$ww" -v x="$x" -v w="$w" 'BEGIN { printf "%d", wx + 3 + (x + w / 2) * (ww - 6) / 244 }')
  py=$(awk -v wy="$wy" -v wh="$wh" -v y="$y" -v h="$h" 'BEGIN { printf "%d", wy + 22 + (y + h / 2) * (wh - 25) / 97 }')
  echo "$px $py"
}

click_data_browse() { click_dlu 5 11 53 14; }
click_key_browse() { click_dlu 5 29 53 14; }
click_encrypt() { click_dlu 187 75 50 14; }
click_decrypt() { click_dlu 187 60 50 14; }
click_read_only() { click_dlu 8 80 10 10; }
# Two quick clicks at one spot make a double click, which does not give an
# edit field the focus: alternate between two spots of the field.
click_offset() {
  offset_click_left=$((1 - ${offset_click_left:-0}))
  if [ "$offset_click_left" = 1 ]; then click_dlu 7 61 10 14; else click_dlu 23 61 10 14; fi
}
click_arrow_up() { click_dlu 40 61 10 5; }
click_arrow_down() { click_dlu 40 71 10 5; }

# Replaces the offset field's text by typing, leaving the focus in the field.
type_offset() {
  click_offset
  xdotool key Home shift+End BackSpace
  [ -z "$1" ] || xdotool type --delay 5 -- "$1"
}

# Mouse actions at client pixels of the main dialog (the About box area is
# given in pixels, not dialog units).
client_to_screen() {
  eval "$(xdotool getwindowgeometry --shell "$main")"
  echo $((X + 3 + $1)) $((Y + 22 + $2))
}
press_at() { xdotool mousemove $(client_to_screen "$1" "$2") mousedown 1; }
release_at() { xdotool mousemove $(client_to_screen "$1" "$2") mouseup 1; }

windows_path() { echo "Z:${1//\//\\}"; }

open_about() {
  press_at 321 41
  release_at 321 41
  wait_for '^About Qelt$' >/dev/null
}

# Chooses a file through the real Open dialog, typing its full path; letters
# beyond ASCII need a slower hand, or xdotool loses some.
choose_file() {
  local click=$1 path=$2 open delay=2
  LC_ALL=C.UTF-8 grep -q '[^ -~]' <<<"$path" && delay=50
  "$click"
  open=$(wait_for '^Open$') || return 1
  xdotool type --delay "$delay" "$(windows_path "$path")"
  xdotool key Return
  wait_gone '^Open$'
}

# The names of visible windows other than the main dialog.
other_windows() {
  local id
  for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    [ "$id" = "$main" ] || xdotool getwindowname "$id" 2>/dev/null
  done
}

probe() { "$wine_run" "$probe" "$@" 2>/dev/null | tr -d '\r'; }

# Waits until control ID shows TEXT: input reaches the program a little after
# xdotool returns.
shows() {
  local id=$1 want=$2 got
  for _ in $(seq 50); do
    got=$(probe text "$id")
    [ "$got" = "$want" ] && return 0
    sleep 0.1
  done
  echo "    control $id shows '$got', expected '$want'" >&2
  return 1
}

# Waits until control ID has the keyboard focus.
has_focus() {
  local got
  for _ in $(seq 50); do
    got=$(probe focus)
    [ "$got" = "$1" ] && return 0
    sleep 0.1
  done
  echo "    control $got has the focus, expected $1" >&2
  return 1
}

# The About box is centred over the main dialog, left to right (the top of
# the screen may keep it from being centred up and down).
about_centred_over_main() {
  local about main_x main_w
  about=$(xdotool search --onlyvisible --name '^About Qelt$' | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$main")"
  main_x=$X main_w=$WIDTH
  eval "$(xdotool getwindowgeometry --shell "$about")"
  local offset=$(( (2 * X + WIDTH) - (2 * main_x + main_w) ))
  [ "${offset#-}" -le 2 ] || { echo "    About box centre is $offset half-pixels off" >&2; return 1; }
}

# Waits for the program to finish a command: the title is back to "Vaultine"
# and the buttons are enabled again.
wait_idle() {
  for _ in $(seq $(( ${1:-20} * 10 ))); do
    [ "$(xdotool getwindowname "$main" 2>/dev/null)" = Vaultine ] &&
      [ "$(probe enabled 1007)" = 1 ] && return 0
    sleep 0.1
  done
  echo "the program stayed busy" >&2
  return 1
}

# ---- what the cipher should give, worked out independently with awk

bytes() { od -An -v -tu1 -w1 "$1" | awk '{ print $1 + 0 }'; }

# The bytes of DATA enciphered TIMES times with KEY and OFFSET (deciphered
# when TIMES is negative).
expected_bytes() {
  awk -v offset="$3" -v times="$4" '
    NR == FNR { key[n++] = $1; next }
    { i = FNR - 1; k = i < n ? key[i] : key[n - 1]
      printf "%d\n", (($1 + times * (k + offset)) % 256 + 256) % 256 }' <(bytes "$2") <(bytes "$1")
}

# ---- checks

failures=0
check() {
  local what=$1
  shift
  if ! "$@"; then
    echo "    FAILED: $what" >&2
    failures=$((failures + 1))
  fi
}
same_bytes() { cmp -s <(bytes "$1") "$2"; }
equals() { [ "$1" = "$2" ] || { echo "    got '$1', expected '$2'" >&2; return 1; }; }

make_files() {
  head -c 3000 /dev/urandom >"$work/data.bin"
  cp "$work/data.bin" "$work/plain.bin"
  head -c 700 /dev/urandom >"$work/key.bin"
  chmod 644 "$work/data.bin" "$work/key.bin"
}

# ---- the tests

test_encrypt_then_decrypt_restores_the_file() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  import -window root "$shots/main-dialog.png" 2>/dev/null
  expected_bytes "$work/plain.bin" "$work/key.bin" 0 1 >"$work/expected"
  click_encrypt
  wait_idle
  check "enciphered as computed" same_bytes "$work/data.bin" "$work/expected"
  check "title after the command" equals "$(xdotool getwindowname "$main")" Vaultine
  check "data display cleared" shows 1000 ""
  click_decrypt
  wait_idle
  check "deciphered back" cmp -s "$work/data.bin" "$work/plain.bin"
  check "no working file left" test ! -e "$work/data.1ê9"
}

test_names_beyond_the_ansi_code_page_are_the_files_chosen() {
  # Best fit would take ā.txt for a.txt, and 日本.txt could not be named.
  mkdir -p "$work/names"
  local name
  for name in a.txt ā.txt 日本.txt; do
    head -c 200 /dev/urandom >"$work/names/$name"
    cp "$work/names/$name" "$work/$name.plain"
  done
  head -c 50 /dev/urandom >"$work/key.bin"
  choose_file click_key_browse "$work/key.bin"
  for name in ā.txt 日本.txt; do
    choose_file click_data_browse "$work/names/$name"
    check "$name shown" shows 1000 "Z:\\...\\$name"
    click_encrypt
    wait_idle
    check "$name enciphered" same_bytes "$work/names/$name" <(expected_bytes "$work/$name.plain" "$work/key.bin" 0 1)
  done
  check "a.txt untouched" cmp -s "$work/names/a.txt" "$work/a.txt.plain"
  check "no working file left" test -z "$(ls "$work/names" | grep -v '\.txt$')"
}

test_encrypt_before_both_files_does_nothing() {
  make_files
  click_encrypt
  choose_file click_data_browse "$work/data.bin"
  click_encrypt
  sleep 0.5  # nothing is supposed to happen; give it the chance to go wrong
  check "no message box" equals "$(other_windows)" ""
  check "file unchanged" cmp -s "$work/data.bin" "$work/plain.bin"
}

test_same_file_as_data_and_key_is_refused() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/data.bin"
  click_encrypt
  local box
  box=$(wait_for '^Filename error\. \(Bad idea\.\)$')
  check "same-file box" test -n "$box"
  check "same-file text" equals "$(probe box 'Filename error. (Bad idea.)' | head -n 1)" \
    "Using  the same filename for encrypting file and a key file destroys the key file."
  import -window root "$shots/warning-box.png" 2>/dev/null
  xdotool key Return
  wait_gone '^Filename error'
  check "file unchanged" cmp -s "$work/data.bin" "$work/plain.bin"
}

test_missing_file_is_named() {
  make_files
  choose_file click_data_browse "$work/absent.txt"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  local box
  box=$(wait_for '^Encrypt file error\.$')
  check "cannot-find text" equals "$(probe box 'Encrypt file error.')" "Cannot find $(windows_path "$work/absent.txt")."
  xdotool key Return
  wait_gone '^Encrypt file error'
}

test_cancelled_open_keeps_the_display_and_forgets_the_path() {
  make_files
  choose_file click_key_browse "$work/key.bin"
  choose_file click_data_browse "$work/data.bin"
  local shown='Z:\...\data.bin' open
  check "long path shortened" shows 1000 "$shown"
  click_data_browse
  open=$(wait_for '^Open$')
  xdotool key Escape
  wait_gone '^Open$'
  check "display kept" shows 1000 "$shown"
  click_encrypt
  sleep 0.5
  check "nothing enciphered" cmp -s "$work/data.bin" "$work/plain.bin"
}

test_second_encrypt_after_the_display_was_cleared() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  wait_idle
  check "display cleared" shows 1000 ""
  sleep 0.6  # a new click, not the second of a double click
  click_encrypt
  wait_idle
  # Twice enciphered: the shift applied a second time to the first result.
  expected_bytes "$work/plain.bin" "$work/key.bin" 0 2 >"$work/twice"
  check "enciphered twice" same_bytes "$work/data.bin" "$work/twice"
}

test_typed_offsets_are_cleaned_when_the_field_is_left() {
  local typed shown
  for pair in "999:255" "-5:0" "12abc:12" "007:7" ":0" "255:255"; do
    typed=${pair%%:*} shown=${pair#*:}
    type_offset "$typed"
    check "'$typed' kept while typing" shows 1002 "$typed"
    xdotool key Tab
    check "'$typed' shown as $shown" shows 1002 "$shown"
  done
}

test_arrows_step_the_offset_and_stop_at_the_ends() {
  click_arrow_down
  check "no step below 0" shows 1002 0
  click_arrow_up
  click_arrow_up
  check "two steps up" shows 1002 2
  click_arrow_down
  check "one step down" shows 1002 1
  type_offset 255
  xdotool key Tab
  click_arrow_up
  check "no step above 255" shows 1002 255
  # 300 typed, focus still in the field: the arrow clamps to 255 and cannot
  # step further, and the text stays until the field is left.
  type_offset 300
  click_arrow_up
  check "300 left in place" shows 1002 300
  xdotool key Tab
  check "then shown as 255" shows 1002 255
}

test_typed_and_stepped_offsets_shift_the_bytes() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  type_offset 17
  click_encrypt
  wait_idle
  check "enciphered with offset 17" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 17 1)
  type_offset 15
  xdotool key Tab
  click_arrow_up
  click_arrow_up
  check "stepped to 17" shows 1002 17
  click_decrypt
  wait_idle
  check "deciphered with offset 17" cmp -s "$work/data.bin" "$work/plain.bin"
}

test_offset_300_is_cut_to_255_when_encrypt_is_clicked() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  type_offset 300
  click_encrypt
  wait_idle
  check "field shows 255" shows 1002 255
  check "enciphered with offset 255" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 255 1)
}

test_enter_on_the_focused_decrypt_button_runs_decrypt() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  type_offset 5
  xdotool key Tab Tab Tab  # the check box, Encrypt, Decrypt
  xdotool key Return
  wait_idle
  check "deciphered with offset 5" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 5 -1)
  check "program still running" kill -0 "$app_pid"
}

test_enter_in_the_offset_field_ends_the_program() {
  click_offset
  xdotool key Return
  check "program ended" wait_exit 10
}

test_about_box_opens_on_a_click_on_the_icon() {
  press_at 321 41
  release_at 321 41
  local about
  about=$(wait_for '^About Qelt$')
  check "About box open" test -n "$about"
  import -window root "$shots/about-box.png" 2>/dev/null
  xdotool key Return
  check "Enter closes it" wait_gone '^About Qelt$' 10
  press_at 321 41
  release_at 321 41
  wait_for '^About Qelt$' >/dev/null
  xdotool key Escape
  check "Escape closes it" wait_gone '^About Qelt$' 10
}

test_only_the_release_over_the_icon_counts() {
  press_at 290 41    # beside the icon
  release_at 321 41  # over it
  check "release over the icon opens it" wait_for '^About Qelt$' 10
  xdotool key Return
  wait_gone '^About Qelt$'
  press_at 321 41    # on the icon
  release_at 200 100 # elsewhere
  press_at 290 41    # a click beside it
  release_at 290 41
  sleep 0.5  # nothing is supposed to happen; give it the chance to go wrong
  check "no About box" equals "$(other_windows)" ""
}

test_system_command_0x0010_opens_the_about_box() {
  probe syscommand 0x0013
  check "About box open" wait_for '^About Qelt$' 10
  xdotool key Return
  wait_gone '^About Qelt$'
}

test_f1_without_help_file_says_so() {
  xdotool key F1
  check "help box" wait_for '^Qelt$' 10
  check "help text" equals "$(probe box Qelt)" "Failed to launch help."
  xdotool key Return
  wait_gone '^Qelt$'
  press_at 321 41
  release_at 321 41
  wait_for '^About Qelt$' >/dev/null
  xdotool key F1
  check "help box from the About box" wait_for '^Qelt$' 10
  xdotool key Return
  wait_gone '^Qelt$'
}

test_display_shortens_paths_beyond_20_characters() {
  local short
  short=$(mktemp -d /tmp/vXXXX)  # Z:\tmp\vXXXX\ is 13 characters
  head -c 10 /dev/urandom >"$short/a12.bin"
  head -c 10 /dev/urandom >"$short/a123.bin"
  head -c 10 /dev/urandom >"$work/no_extension"
  choose_file click_data_browse "$short/a12.bin"
  check "20 characters shown whole" shows 1000 "$(windows_path "$short/a12.bin")"
  choose_file click_data_browse "$short/a123.bin"
  check "21 characters shortened" shows 1000 'Z:\...\a123.bin'
  choose_file click_key_browse "$work/no_extension"
  check "no extension" shows 1001 'Z:\...\no_extension'
  rm -rf "$short"
}

test_offset_that_is_no_number_enciphers_with_0() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  type_offset -5
  click_encrypt
  wait_idle
  check "field shows 0" shows 1002 0
  check "enciphered with offset 0" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 0 1)
}

test_closing_the_about_box_leaves_the_dialog_as_it_was() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  type_offset 42
  xdotool key Tab
  click_read_only
  press_at 321 41
  release_at 321 41
  wait_for '^About Qelt$' >/dev/null
  xdotool key Return
  wait_gone '^About Qelt$'
  check "offset kept" shows 1002 42
  check "display kept" shows 1000 'Z:\...\data.bin'
  check "check box kept" equals "$(probe checked 1006)" 1
}

test_read_only_option_marks_the_key_file() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_read_only
  check "box checked" equals "$(probe checked 1006)" 1
  click_encrypt
  wait_idle
  check "key file read-only" test -z "$(find "$work/key.bin" -perm /222)"
  chmod 644 "$work/key.bin"
}

test_double_click_on_encrypt_enciphers_once() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  sleep 0.25  # the second click after the short run, still a double click
  xdotool click 1
  wait_idle
  sleep 0.5
  wait_idle
  check "enciphered once" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 0 1)
}

test_enter_twice_in_a_hurry_on_encrypt_enciphers_once() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_offset
  xdotool key Tab Tab  # the check box, Encrypt
  has_focus 1007
  xdotool mousemove 0 0
  xdotool key --delay 60 Return Return
  wait_idle
  sleep 0.5  # a second run would start now
  wait_idle
  check "enciphered once" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 0 1)
  # Pressed again after the double-click time, with the pointer resting on
  # the button: a command of its own each time.
  xdotool mousemove $(dlu_to_screen 187 75 50 14)
  sleep 0.6
  xdotool key Return
  wait_idle
  sleep 0.6
  xdotool key Return
  wait_idle
  check "then twice more" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 0 3)
}

test_clicks_during_a_run_have_no_effect_and_the_window_answers() {
  start_long_run 3G
  xdotool key Escape  # the clicked Encrypt is grey, and had the focus
  check "Escape asks whether to stop" wait_for '^Stop the run\?$' 20 >/dev/null
  xdotool key Return  # No, as a stray Enter answers
  wait_gone '^Stop the run\?$'
  check "the window answers during the run" equals "$(probe responds)" 1
  click_decrypt  # greyed
  wait_idle 120
  sleep 0.5  # a click acted on late would start a run now
  wait_idle
  local first last
  first=$(od -An -tu1 -N1 "$work/big.bin" | tr -d ' ')
  last=$(od -An -tu1 -j $(((3 << 30) - 1)) "$work/big.bin" | tr -d ' ')
  check "enciphered, not deciphered back" equals "$first $last" "5 5"
  check "the program goes on" kill -0 "$app_pid"
  rm -f "$work/big.bin"
}

test_a_long_run_stopped_by_the_close_box_leaves_the_file_whole() {
  start_long_run 3G
  click_close_box
  wait_for '^Stop the run\?$' 20 >/dev/null
  xdotool key y
  wait_idle
  check "the file is as it was" test -z "$(tr -d '\0' <"$work/big.bin" | head -c 1)"
  check "no working file left" test ! -e "$work/big.1ê9"
  check "no box about it" equals "$(other_windows)" ""
  check "the buttons are back" equals "$(probe enabled 1004)" 1
  check "the program goes on" kill -0 "$app_pid"
  rm -f "$work/big.bin"
}

test_ending_the_session_during_a_run_leaves_the_file_whole() {
  start_long_run 2G
  # Asked first, the program refuses while the run goes on.
  "$wine_run" wineboot --end-session >/dev/null 2>&1
  check "the program goes on" kill -0 "$app_pid"
  check "and so does the run" test -e "$work/big.1ê9"
  # Ended all the same (wineboot takes no for an answer, Windows may not):
  # the run stops before the program is ended.
  probe endsession
  check "the program ended" wait_exit 30
  check "the file is as it was" test -z "$(tr -d '\0' <"$work/big.bin" | head -c 1)"
  check "no working file left" test ! -e "$work/big.1ê9"
  rm -f "$work/big.bin"
}

test_nobody_writes_the_file_or_the_key_during_a_run() {
  start_long_run 2G
  check "a writer of the data file is refused" equals "$(probe write "$(windows_path "$work/big.bin")")" refused
  check "a writer of the key is refused" equals "$(probe write "$(windows_path "$work/key.bin")")" refused
  wait_idle 120
  rm -f "$work/big.bin"
  # One that writes already is named as a user of the file.
  make_files
  "$wine_run" "$probe" hold "$(windows_path "$work/data.bin")" >"$work/held" 2>/dev/null &
  local holder=$!
  for _ in $(seq 100); do [ -s "$work/held" ] && break; sleep 0.1; done
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  check "in use, not missing" wait_for '^Encrypt file error\.$' >/dev/null
  check "the box says so" equals "$(probe box 'Encrypt file error.' | head -n 1)" \
    "$(windows_path "$work/data.bin") is in use: another program has it open."
  xdotool key Return
  kill "$holder"
  wait "$holder" 2>/dev/null
  check "file unchanged" cmp -s "$work/data.bin" "$work/plain.bin"
}

test_the_path_fields_show_what_is_used_and_take_no_typing() {
  make_files
  head -c 3000 /dev/urandom >"$work/other.bin"
  cp "$work/other.bin" "$work/other.plain"
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_dlu 61 11 104 14  # into the data file's field
  xdotool key End BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
  xdotool type "other.bin"
  check "the field keeps the chosen file" shows 1000 'Z:\...\data.bin'
  click_encrypt
  wait_idle
  check "the chosen file enciphered" same_bytes "$work/data.bin" <(expected_bytes "$work/plain.bin" "$work/key.bin" 0 1)
  check "the typed one untouched" cmp -s "$work/other.bin" "$work/other.plain"
}

# Starts enciphering a file of zeros (1 GiB, or SIZE; at $work/big.bin, or
# PATH) with the key byte 5, and returns once the run is under way: its
# working file is there.
start_long_run() {
  local data=${2:-$work/big.bin}
  local working=${data%%.*}.1ê9
  printf '\005' >"$work/key.bin"
  truncate -s "${1:-1G}" "$data"
  choose_file click_data_browse "$data"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  for _ in $(seq 300); do [ -e "$working" ] && break; sleep 0.05; done
  check "the run is under way" test -e "$working"
}

test_warning_that_ends_a_run_waits_for_the_user_whatever_was_pressed_meanwhile() {
  start_long_run 2G
  click_close_box
  wait_for '^Stop the run\?$' 20 >/dev/null
  xdotool key Return
  printf x >>"$work/big.bin"  # another program: the run ends with a warning
  local warning='^Error: File changed during the run!$'
  check "the warning is up" wait_for "$warning" 60 >/dev/null
  sleep 0.5
  check "and waits" wait_for "$warning" 1 >/dev/null
  xdotool key Return
  wait_gone "$warning"
  wait_idle
  check "the program goes on" kill -0 "$app_pid"
  check "no working file left" test ! -e "$work/big.1ê9"
  rm -f "$work/big.bin"
}

test_a_folder_removed_during_a_run_is_not_said_to_be_unchanged() {
  mkdir "$work/gone"
  start_long_run 2G "$work/gone/data.txt"
  rm -rf "$work/gone"
  local box='^Error: Could not write encrypted file!$'
  check "the run ends with a warning" wait_for "$box" 120 >/dev/null
  local data working
  data=$(windows_path "$work/gone/data.txt")
  working=$(windows_path "$work/gone/data.1ê9")
  check "the box says the file was removed" equals "$(probe box 'Error: Could not write encrypted file!')" \
    "Could not write the working file $working (Path not found). $data was removed by another program during the run."
  check "the title shows no progress meanwhile" equals "$(xdotool getwindowname "$main")" Vaultine
  xdotool key Return
  wait_gone "$box"
  wait_idle
  check "nothing left behind" test ! -e "$work/gone"
}

test_a_private_file_stays_private_under_wine() {
  make_files
  chmod 600 "$work/data.bin"
  cp "$work/key.bin" "$work/other.bin"
  chmod 644 "$work/other.bin"
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  wait_idle
  check "private after Encrypt" equals "$(stat -c %a "$work/data.bin")" 600
  click_decrypt
  wait_idle
  check "private after Decrypt" equals "$(stat -c %a "$work/data.bin")" 600
  check "deciphered back" cmp -s "$work/data.bin" "$work/plain.bin"
  choose_file click_data_browse "$work/other.bin"
  click_encrypt
  wait_idle
  check "644 stays 644" equals "$(stat -c %a "$work/other.bin")" 644
}

test_a_data_file_that_is_a_link_is_refused_and_both_files_stay() {
  # The link's name is typed into the Open dialog: one in ASCII, which
  # xdotool types reliably. Wine resolves a name without its trailing full
  # stops and spaces: a link to "secret." resolves to the link's own name.
  local target link
  for target in настоящий_本物.txt secret. 'secret '; do
    link=link.txt
    [ "$target" = настоящий_本物.txt ] || link=secret
    make_files
    mv "$work/data.bin" "$work/$target"
    ln -s "$target" "$work/$link"
    choose_file click_data_browse "$work/$link"
    choose_file click_key_browse "$work/key.bin"
    click_encrypt
    check "'$link' to '$target' refused" wait_for '^Encrypt file error\.$' >/dev/null
    check "the box says why" equals "$(probe box 'Encrypt file error.' | head -n 1)" \
      "Cannot use $(windows_path "$work/$link"): it is a link to another file, which would stay as it is."
    xdotool key Return
    wait_gone '^Encrypt file error'
    check "the file it leads to unchanged" cmp -s "$work/$target" "$work/plain.bin"
    check "still a link" test -L "$work/$link"
    check "no working file" test ! -e "$work/${link%%.*}.1ê9"
    rm -f "$work/$link" "$work/$target"
  done
}

test_the_chosen_files_folder_is_not_kept_busy() {
  # A USB stick, as a small disk the test mounts (as root) and unmounts.
  mkdir -p "$work/stick"
  if ! mount -t tmpfs -o size=1m vaultine-test "$work/stick" 2>/dev/null; then
    echo "    (skipped: cannot mount a tmpfs here)"
    return 0
  fi
  make_files
  mv "$work/data.bin" "$work/stick/data.bin"
  choose_file click_key_browse "$work/key.bin"
  # Gone into in the Open dialog, as a user does: a full path typed there
  # changes no folder.
  click_data_browse
  wait_for '^Open$' >/dev/null
  xdotool type --delay 2 "$(windows_path "$work/stick")"
  xdotool key Return
  sleep 0.5  # the dialog lists the folder
  xdotool type --delay 2 data.bin
  xdotool key Return
  wait_gone '^Open$'
  # The next dialog starts there all the same: the name alone is that file.
  click_data_browse
  wait_for '^Open$' >/dev/null
  xdotool type --delay 2 data.bin
  xdotool key Return
  wait_gone '^Open$'
  click_encrypt
  wait_idle
  check "the file there enciphered" same_bytes "$work/stick/data.bin" \
    <(expected_bytes "$work/plain.bin" "$work/key.bin" 0 1)
  check "its disk can be unmounted" umount "$work/stick"
  check "the program goes on" kill -0 "$app_pid"
  mountpoint -q "$work/stick" && umount -l "$work/stick"
}

test_keyboard_works_after_a_run_by_mouse_and_by_keyboard() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  click_encrypt
  wait_idle
  check "focus back on Encrypt" has_focus 1007
  xdotool key Tab
  check "Tab goes on to Decrypt" has_focus 1010
  xdotool key Return
  wait_idle
  check "Decrypt by keyboard" cmp -s "$work/data.bin" "$work/plain.bin"
  check "focus back on Decrypt" has_focus 1010
  xdotool key shift+Tab shift+Tab shift+Tab
  check "back to the offset field" has_focus 1002
  xdotool type 42
  check "typing reaches it" shows 1002 42
  xdotool key Escape
  check "Escape ends the program" wait_exit 10
}

test_about_box_is_modal_over_the_main_dialog() {
  make_files
  choose_file click_data_browse "$work/data.bin"
  choose_file click_key_browse "$work/key.bin"
  open_about
  check "owned by the main dialog, which waits" equals "$(probe owner 'About Qelt')" "Vaultine disabled"
  check "centred over it" about_centred_over_main
  press_at 321 41  # the icon, and Encrypt, as far as a click can reach them
  release_at 321 41
  click_encrypt
  sleep 0.5  # nothing is supposed to happen; give it the chance to go wrong
  check "one About box" equals "$(xdotool search --onlyvisible --name '^About Qelt$' | wc -l)" 1
  check "nothing enciphered" cmp -s "$work/data.bin" "$work/plain.bin"
  xdotool key Escape
  wait_gone '^About Qelt$'
}

test_a_program_that_cannot_open_its_window_ends_with_a_failure() {
  local status
  (unset DISPLAY; "$wine_run" "$app" >/dev/null 2>&1)
  status=$?
  check "status 1 without a display" equals "$status" 1
}

test_closing_before_choosing_ends_the_program() {
  xdotool key Escape
  check "program ended" wait_exit 10
}

# ---- the run

trap finish EXIT
start_display
"$wine_run" --start-server

tests=("$@")
[ ${#tests[@]} -gt 0 ] || tests=($(declare -F | awk '{ print $3 }' | grep '^test_'))
passed=0
failed=0
for test in "${tests[@]}"; do
  before=$failures
  echo "--- $test"
  if start_app; then
    "$test"
  else
    failures=$((failures + 1))
  fi
  stop_app
  if [ "$failures" -eq "$before" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "    ($test failed)"; fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
