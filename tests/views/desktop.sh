#!/bin/sh
# The desktop view on one Xvfb display, driven with xdotool as a person
# would: the agreement read to its end (wheel, Page Down, a thumb drag),
# accepted, NEXT, the second of two drives chosen, UPDATE with its boxes
# (the bar and the note drawn while the update blocks, the status line
# saying how far the write is), EXIT; then a
# Japanese run by the keyboard, and one whose write holds a signal; then
# two writes whose display is lost midway. The view's layout record says what the model holds after
# each step; pixels of the screen say that the buttons and the progress
# frame stand where the model puts them (within one pixel), that the bar and
# the note are drawn as the update ends, and that Japanese text is drawn. With QV_SHOTS=DIR set, the screenshots are kept there.
# Usage: sh desktop.sh QUORVANTA_BIN QUORVANTA_SIM_BIN BUILD_DIR
# Absolute, as some runs start from another folder.
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
QV=$(absolute "$1")
SIM=$(absolute "$2")
SHOT="$(cd "$3" && pwd)/qv_xshot"
test_name=views_desktop
. "$(dirname "$0")/../cli/lib/common.sh"
for tool in Xvfb xdotool evilwm xprop; do
  command -v $tool >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
[ -x "$SHOT" ] || { echo "$SHOT is missing: this build has no desktop view"; exit 1; }
# Under the sanitizers: the font library's own caches are not the view's.
LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS

xvfb=""
program=""
wm=""
trap 'kill $program $wm $xvfb 2>/dev/null; rm -rf "$WORK"' EXIT
# A fresh X server with a screen of WxH pixels, the one before it gone.
start_display() {  # WxH
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -f "$WORK/display"
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp -noreset 3>"$WORK/display" 2>"$WORK/xvfb.log" &
  xvfb=$!
  i=0
  while [ ! -s "$WORK/display" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  DISPLAY=":$(cat "$WORK/display")"
  export DISPLAY
  screen_width=${1%x*}
  screen_height=${1#*x}
}
start_display 1024x768
layout="$WORK/layout.txt"

# Waits until the view has recorded LINE (a grep pattern) since the last
# wait for the program's input (10 seconds at most: a loaded machine).
wait_layout() {  # PATTERN WHAT
  i=0
  while [ $i -lt 200 ]; do
    sed -n '/^wait /h;/^wait /!H;${x;p}' "$layout" 2>/dev/null | grep -q -- "$1" && return 0
    sleep 0.05
    i=$((i + 1))
  done
  fail "$2: no '$1' in the layout"
  return 1
}
# The last recorded rectangle of a control: X Y W H.
# The newest window of the program on the screen and holding the keyboard:
# the layout records a dialog before the X server has mapped and focused its
# window, and keys sent in between are lost (seen on a loaded machine).
wait_focus() {  # WHAT
  i=0
  until newest=$(xdotool search --onlyvisible --classname '^quorvanta$' | tail -n 1) &&
    [ -n "$newest" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$newest" ] || [ $i -ge 200 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  [ $i -lt 200 ] || fail "$1: the keyboard is not on the program's newest window"
}
rect() { grep "^control $1 " "$layout" | tail -n 1 | cut -d' ' -f3-6; }
centre() { set -- $(rect "$1"); echo "$(($1 + $3 / 2)) $(($2 + $4 / 2))"; }
click() { set -- $(centre "$1"); xdotool mousemove "$1" "$2" click 1; }
# The rectangle found on the screen against the model's, one pixel of slack.
check_edges() {  # ID WHAT
  what=$2
  want=$(rect "$1")
  got=$("$SHOT" edges $want)
  set -- $want $got
  for k in 1 2 3 4; do
    eval "a=\${$k}; b=\${$((k + 4))}"
    d=$((a - b))
    [ "$d" -le 1 ] && [ "$d" -ge -1 ] || { fail "$what: model $want, screen $got"; return; }
  done
}
# The newest box stands centred on WINDOW (two pixels of slack), as the
# screen shows them.
box_centred_on() {  # WINDOW
  geometry() {
    xdotool getwindowgeometry "$1" |
      sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p; s/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p' |
      tr '\n' ' '
  }
  box=$(xdotool search --onlyvisible --classname '^quorvanta$' | grep -vx "$1" | tail -n 1)
  [ -n "$box" ] || { fail "no box on the screen"; return; }
  set -- $(geometry "$1") $(geometry "$box")
  dx=$(($1 + $3 / 2 - $5 - $7 / 2))
  dy=$(($2 + $4 / 2 - $6 - $8 / 2))
  [ "$dx" -le 2 ] && [ "$dx" -ge -2 ] && [ "$dy" -le 2 ] && [ "$dy" -ge -2 ] ||
    fail "box at $5,$6 ($7x$8) not centred on its window at $1,$2 ($3x$4)"
}
start() {  # PC
  rm -f "$layout"
  QV_VIEW_LAYOUT="$layout" "$QV" --machine "$1" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  program=$!
}
ended() {  # [STATUS]: waits for the program (10 seconds at most: a loaded machine); it must end with STATUS (0)
  i=0
  while kill -0 "$program" 2>/dev/null && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
  kill "$program" 2>/dev/null
  wait "$program"
  rc=$?
  program=""
  [ "$rc" = "${1:-0}" ] || { fail "exit code $rc, not ${1:-0}"; cat "$WORK/err.txt"; }
}
shot() {  # NAME [SCALE]: the dialog last recorded, with the status line under it
  [ -n "${QV_SHOTS:-}" ] || return 0
  k=${2:-1}
  set -- "$1" $(grep '^wait ' "$layout" | tail -n 1 | cut -d' ' -f3-6) \
    $(grep '^status ' "$layout" | tail -n 1 | cut -d' ' -f5)
  "$SHOT" save "$QV_SHOTS/$1.png" $((k * $2)) $((k * $3)) $((k * $4)) $((k * ($5 + ${6:-0}))) ||
    fail "screenshot $1"
}
# X Y W H of a window as the X server has it.
window_geometry() {  # WINDOW
  xdotool getwindowgeometry "$1" |
    sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p; s/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p' |
    tr '\n' ' '
}
# Where the screen shows the program's windows: every one inside the screen;
# the newest SCALE times the size of its dialog's last record with the
# status line, and the dialog (the status line below it not counted)
# centred on the screen, as the program centres it, within two model pixels.
on_screen() {  # WHAT SCALE TEMPLATE
  what=$1 k=$2 template=$3
  for w in $(xdotool search --onlyvisible --classname '^quorvanta$'); do
    set -- $(window_geometry "$w")
    [ "$1" -ge 0 ] && [ "$2" -ge 0 ] && [ $(($1 + $3)) -le "$screen_width" ] &&
      [ $(($2 + $4)) -le "$screen_height" ] ||
      fail "$what: a window at $1,$2 ($3x$4) is not inside the ${screen_width}x$screen_height screen"
  done
  set -- $(grep "^wait $template " "$layout" | tail -n 1 | cut -d' ' -f5-6)
  want="$((k * $1))x$((k * ($2 + 20)))"
  set -- $(window_geometry "$(xdotool search --onlyvisible --classname '^quorvanta$' | tail -n 1)")
  echo "$what: window at $1,$2 ($3x$4) on ${screen_width}x$screen_height"
  [ "$3x$4" = "$want" ] || fail "$what: the window is $3x$4, not $want"
  dx=$(($1 + $3 / 2 - screen_width / 2))
  dy=$(($2 + ($4 - k * 20) / 2 - screen_height / 2))
  [ $dx -le $((2 * k)) ] && [ $dx -ge $((-2 * k)) ] && [ $dy -le $((2 * k)) ] && [ $dy -ge $((-2 * k)) ] ||
    fail "$what: the dialog is not centred on the screen ($dx, $dy pixels off)"
}

# The bar and the note as the X server shows them while the box that ends
# an update is up (the layout record gives only where they stand; once the
# box has gone the dialog is drawn afresh, without what was painted into
# it, as on Windows): every pixel of the bar's middle row inside its frame
# that the box leaves visible has one colour, unlike the dialog's face, and
# the note holds text.
bar_row_runs() {  # X Y W: one "COLOUR N" line per run, nothing when W <= 0
  [ "$3" -gt 0 ] && "$SHOT" row "$1" "$2" "$3"
  return 0
}
expect_bar_and_note_on_screen() {
  set -- $(rect 1013)
  bar_x=$(($1 + 2)) bar_y=$(($2 + $4 / 2)) bar_end=$(($1 + $3 - 2))
  face=$("$SHOT" row $(($1 - 4)) "$bar_y" 1 | cut -d' ' -f1)
  set -- $(grep '^box ' "$layout" | tail -n 1 | cut -d' ' -f2-5)
  left_end=$bar_end right_x=$bar_end
  if [ "$bar_y" -ge "$2" ] && [ "$bar_y" -lt $(($2 + $4)) ]; then
    left_end=$((bar_end < $1 ? bar_end : $1))
    right_x=$((bar_x > $1 + $3 ? bar_x : $1 + $3))
  fi
  { bar_row_runs "$bar_x" "$bar_y" $((left_end - bar_x))
    bar_row_runs "$right_x" "$bar_y" $((bar_end - right_x)); } >"$WORK/bar_runs"
  set -- $(rect 1015)
  ink=$("$SHOT" ink "$1" "$2" "$3" "$4")
  seen=$(awk '{ n += $2 } END { print n + 0 }' "$WORK/bar_runs")
  colours=$(cut -d' ' -f1 "$WORK/bar_runs" | sort -u)
  echo "on the screen: bar $colours over $seen visible pixels (face $face), note ink $ink"
  [ "$seen" -ge 20 ] && [ "$(echo "$colours" | wc -l)" = 1 ] && [ "$colours" != "$face" ] ||
    fail "the bar on the screen is not full: $(tr '\n' ' ' <"$WORK/bar_runs")(face $face)"
  [ "$ink" -gt 100 ] || fail "no note on the screen (ink $ink)"
}

"$SIM" init "$WORK/en" --drive '0:0:t71:usb:rev=1.00,code=0x11' \
  --drive '0:1:t71:usb:rev=1.00,code=0x12' >/dev/null || fail "init en"
"$SIM" init "$WORK/ja" --lang 0x0411 --drive '0:0:t71:usb:rev=1.00,code=0x11' >/dev/null ||
  fail "init ja"

# English, with the mouse; no --ui: a display is there, so the desktop view.
start "$WORK/en"
wait_layout "^wait KYODAKUUS" "agreement"
check_edges 1 "NEXT"
shot agreement-en
set -- $(centre 1011)
xdotool mousemove "$1" "$2" click 5
wait_layout "^control 1006 .* pos=3 " "wheel"
xdotool key Next
wait_layout "^control 1006 .* pos=14 " "Page Down"
set -- $(rect 1006)
thumb_x=$(($1 + $3 / 2))
xdotool mousemove "$thumb_x" $(($2 + 16 + 40)) mousedown 1 mousemove "$thumb_x" $(($2 + $4 - 2)) mouseup 1
wait_layout "^control 1004 .* ve-- " "thumb dragged to the end enables Accept"
click 1004
wait_layout "^control 1004 .* vec" "Accept checked"
click 1
wait_layout "^wait MainDialogUS" "main dialog"
for id in 1001 1002 1013; do check_edges $id "control $id"; done
shot main-en
click 1004
wait_layout "^control 1004 .* vec" "second drive chosen"
# UPDATE: two notices, the update (the bar and the note painted while it
# blocks), the outcome; each box answered with its OK button.
click 1001
for box in 1 2 3; do
  i=0
  until [ "$(grep -c '^box ' "$layout")" -ge $box ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  if [ $box = 3 ]; then
    # The pixels follow the layout's record: looked at until they show.
    i=0
    until (failures=0 && expect_bar_and_note_on_screen >/dev/null && [ "$failures" = 0 ]) ||
      [ $i -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
    expect_bar_and_note_on_screen
  fi
  set -- $(grep '^button OK ' "$layout" | tail -n 1 | cut -d' ' -f3-6)
  xdotool mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2)) click 1
done
i=0
until [ "$(grep -c '^answer: OK$' "$WORK/out.txt")" -ge 3 ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
sed -n '/^paint MainDialogUS/,/^control 1015/p' "$layout" >"$WORK/paints"
grep -Eq '^control 1013 .* bar=([1-9]|[1-9][0-9]|[12][0-9][0-9]|3[0-2][0-9]) ' "$WORK/paints" ||
  fail "the bar was never drawn part-way during the update"
grep -q '^message: Succeed to load F/W!!$' "$WORK/out.txt" || { fail "update outcome"; cat "$WORK/out.txt"; }
# The status line said how far the write was, the percentage growing.
grep '^status ' "$layout" | grep -oE 'Writing the firmware: [0-9]+ % - about [0-9a-z ]+ left' |
  uniq >"$WORK/progress"
[ "$(cut -d' ' -f4 "$WORK/progress" | uniq | wc -l)" -ge 3 ] && sort -c -s -n -k4,4 "$WORK/progress" ||
  { fail "the status line did not follow the write"; cat "$WORK/progress"; }
# The keyboard is the main dialog's again once the last box has gone.
main=$(xdotool search --onlyvisible --classname '^quorvanta$' | head -n 1)
i=0
until [ "$(xdotool getwindowfocus 2>/dev/null)" = "$main" ] || [ $i -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
[ $i -lt 100 ] || fail "the keyboard focus did not come back to the main dialog after its boxes"
click 1002
ended
[ "$(grep -c '^dialog: Quorvanta        Ver. 1.0$' "$WORK/out.txt")" = 2 ] ||
  { fail "transcript"; cat "$WORK/out.txt"; }

# Japanese, with the keyboard: Japanese text is drawn in the labels.
start "$WORK/ja"
wait_layout "^wait KYODAKU " "Japanese agreement"
set -- $(rect 1004)
[ "$("$SHOT" ink $(($1 + 16)) "$2" $(($3 - 16)) "$4")" -gt 40 ] || fail "no Japanese label drawn"
# The agreement's text fills its area's width (the right quarter of the
# first row has ink, which lines of 19 wide characters never reach), also
# when drawn again after a scroll.
set -- $(rect 1011)
[ "$("$SHOT" ink $(($1 + 3)) $(($2 + 3)) $(($3 - 6)) 20)" -gt 100 ] || fail "no Japanese text drawn"
[ "$("$SHOT" ink $(($1 + $3 * 3 / 4)) $(($2 + 3)) $(($3 / 5)) 20)" -gt 20 ] ||
  fail "Japanese agreement not wrapped to the text area's width"
shot agreement-ja
set -- $(centre 1011)
xdotool mousemove "$1" "$2"
xdotool key Next
wait_layout "^control 1006 .* pos=10 " "Japanese Page Down"
set -- $(rect 1011)
[ "$("$SHOT" ink $(($1 + 3)) $(($2 + 3)) $(($3 - 6)) 20)" -gt 100 ] || fail "no Japanese text after a scroll"
for _ in 1 2 3 4 5 6 7 8 9; do xdotool key Next; done
wait_layout "^control 1004 .* ve-- " "Page Down to the end"
xdotool key Tab Tab space
wait_layout "^control 1004 .* vecf" "Japanese accept"
xdotool key Return
wait_layout "^wait MainDialog " "Japanese main dialog"
set -- $(rect 1016)
[ "$("$SHOT" ink "$1" "$2" "$3" "$4")" -gt 40 ] || fail "no drive row label drawn"
shot main-ja
wait_focus "Japanese main dialog"
xdotool key Tab Return
ended
# The agreement read to its end by Page Down, accepted by the keyboard,
# NEXT pressed, up to the main dialog MAIN (its template's name) waiting.
accept_by_keys() {  # WHAT MAIN
  for _ in 1 2 3 4 5 6 7 8 9 10; do xdotool key Next; done
  wait_layout "^control 1004 .* ve-- " "$1: Page Down to the end" || return
  xdotool key Tab Tab space
  wait_layout "^control 1004 .* vecf" "$1: accept" || return
  xdotool key Return
  wait_layout "^wait $2 " "$1: main dialog" || return
}

# Under a window manager (a small one, started here): the window opens with
# the keyboard focus, stands in the client list and not out of the taskbar,
# has the program's class, and stays where it is moved; the screen shows the
# dialog at the new place. Then four drives by the keyboard alone: Shift-Tab
# reaches the checked row, the arrows take the check to the third row, which
# the status line names; the update writes to that drive only.
window_manager_and_keyboard() {
  "$SIM" init "$WORK/four" --drive '0:0:t71:usb:rev=1.00,code=0x11' \
    --drive '0:1:r305:usb:rev=1.00,code=0x12' --drive '0:2:t71:usb:rev=1.00,code=0x13' \
    --drive '0:3:t71:usb:rev=1.00,code=0x14' >/dev/null || { fail "init four"; return; }
  rm -f "$layout"
  QV_VIEW_LAYOUT="$layout" "$QV" --machine "$WORK/four" --trace "$WORK/four.trace" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  program=$!
  wait_layout "^wait KYODAKUUS" "agreement of four drives" || return
  window=$(xdotool search --classname '^quorvanta$' | head -n 1)
  [ -n "$window" ] || { fail "no window of class quorvanta"; return; }
  # No window manager yet, which would focus it and rewrite its state: the
  # window does both itself.
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] || fail "the agreement opened without the keyboard focus"
  xprop -id "$window" _NET_WM_STATE | grep -q SKIP_TASKBAR && fail "window left out of the taskbar"
  evilwm -fn fixed >"$WORK/wm.log" 2>&1 &
  wm=$!
  i=0
  until xprop -root _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$window")" || [ $i -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
  xprop -root _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$window")" || fail "window not in _NET_CLIENT_LIST"
  xdotool windowmove "$window" 40 30
  xdotool key Next
  wait_layout "^wait KYODAKUUS 40 30 " "model follows the moved window" || return
  set -- $(xdotool getwindowgeometry "$window" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')
  [ "$1 $2" = "40 30" ] || fail "window at $1,$2 after a key, not where it was moved (40,30)"
  check_edges 1 "NEXT after the move"
  accept_by_keys "agreement" "MainDialogUS" || return
  window=$(xdotool search --classname '^quorvanta$' | tail -n 1)
  [ "$(xdotool getwindowfocus)" = "$window" ] || fail "the main dialog opened without the keyboard focus"
  wait_layout "^status .* Drive 1 of 4: T71 CDRW USB at adapter 0, target 0 (USB)$" "status line" || return
  set -- $(grep '^status ' "$layout" | tail -n 1 | cut -d' ' -f2-5)
  [ "$("$SHOT" ink $(($1 + 4)) $(($2 + 3)) 200 $(($4 - 6)))" -gt 40 ] || fail "no status line drawn"
  xdotool key shift+Tab Down Down
  wait_layout "^control 1005 .* vecf" "third row checked by the arrows" || return
  wait_layout "^status .* Drive 3 of 4: T71 CDRW USB at adapter 0, target 2 (USB)$" "status line, third row" || return
  shot main-four-en
  # Moved by its caption, the main dialog keeps its message boxes over it:
  # the first box stands centred on the window where it is now.
  set -- $(xdotool getwindowgeometry "$window" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')
  xdotool mousemove $(($1 + 100)) $(($2 + 10)) mousedown 1 mousemove 160 60 mouseup 1
  xdotool key Tab Return
  for box in 1 2 3; do
    i=0
    until [ "$(grep -c '^box ' "$layout")" -ge $box ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
    [ $box = 1 ] && box_centred_on "$window"
    waits=$(grep -c '^wait ' "$layout")
    xdotool key Return
  done
  # The main dialog waits again once the last box is closed: only then does
  # a key reach it (a loaded machine may still be closing the box).
  i=0
  until [ "$(grep -c '^wait ' "$layout")" -gt "$waits" ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  wait_layout "^control 1002 .* ve-f" "focus on EXIT once UPDATE is disabled" || return
  # This window manager's focus follows the pointer, which the boxes may have
  # left elsewhere: back over the dialog, as a user's would be.
  xdotool mousemove --window "$window" 100 10
  i=0
  until [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] || [ $i -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
  xdotool key Return
  ended
  grep ' cdb=3B ' "$WORK/four.trace" | cut -d' ' -f1 | sort -u >"$WORK/four.written"
  [ "$(cat "$WORK/four.written")" = "0:2" ] || fail "writes went to: $(cat "$WORK/four.written")"
  kill "$wm" 2>/dev/null
  wm=""
}
window_manager_and_keyboard

# A signal held during a Japanese run's write (SIGTERM at the end of the
# load): its line, in Japanese, fills the window's taller status line on the
# screen while the outcome box is up; the program ends by the signal after.
held_line_in_japanese() {
  "$SIM" init "$WORK/held-ja" --lang 0x0411 --drive '0:0:t71:usb:rev=1.00,code=0x11' >/dev/null ||
    { fail "init held-ja"; return; }
  QUORVANTA_SIM_SIGNAL_AT=284:TERM start "$WORK/held-ja"
  wait_layout "^wait KYODAKU " "held: agreement" || return
  set -- $(centre 1011)
  xdotool mousemove "$1" "$2"
  accept_by_keys "held" "MainDialog" || return
  click 1001
  for box in 1 2 3; do
    i=0
    until [ "$(grep -c '^box ' "$layout")" -ge $box ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
    [ $box = 3 ] && break
    xdotool key Return
  done
  sleep 0.5
  # The rows under the one a drive's name takes: only the held line draws there.
  set -- $(grep '^status ' "$layout" | tail -n 1 | cut -d' ' -f2-5)
  [ "$4" = 60 ] || fail "held: the status line is $4 pixels high, not 60"
  ink=$("$SHOT" ink $(($1 + 4)) $(($2 + 22)) $(($3 - 8)) 36)
  echo "on the screen: held line ink $ink"
  [ "$ink" -gt 100 ] || fail "held: no held line in the status line on the screen (ink $ink)"
  shot held-ja
  xdotool key Return
  ended 143
  grep -q "ファームウェアを更新しています" "$WORK/err.txt" || { fail "held: no Japanese held line"; cat "$WORK/err.txt"; }
  "$SIM" show "$WORK/held-ja" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 code=0x12 ' ||
    fail "held: drive not updated"
}
held_line_in_japanese
# At twice the size, as a desktop set to 192 dpi has it (GDK_SCALE=2 here)
# on a screen that holds the dialogs at that size: the windows are twice the
# model's size with their status line and centred on the real screen,
# UPDATE's frame stands at twice the model's place on the screen, and a
# click there reaches UPDATE (its first box opens); EXIT by the mouse too.
scaled_twice() {
  "$SIM" init "$WORK/scaled" >/dev/null || { fail "init scaled"; return; }
  rm -f "$layout"
  GDK_SCALE=2 QV_VIEW_LAYOUT="$layout" "$QV" --machine "$WORK/scaled" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  program=$!
  wait_layout "^wait KYODAKUUS" "scaled agreement" || return
  on_screen "scaled agreement" 2 KYODAKUUS
  accept_by_keys "scaled" "MainDialogUS" || return
  on_screen "scaled main dialog" 2 MainDialogUS
  shot main-en-2x 2
  set -- $(rect 1001)
  want="$((2 * $1)) $((2 * $2)) $((2 * $3)) $((2 * $4))"
  got=$("$SHOT" edges $want)
  set -- $want $got
  for k in 1 2 3 4; do
    eval "a=\${$k}; b=\${$((k + 4))}"
    [ $((a - b)) -le 2 ] && [ $((b - a)) -le 2 ] || { fail "scaled UPDATE: want $want, screen $got"; break; }
  done
  set -- $(centre 1001)
  xdotool mousemove $((2 * $1)) $((2 * $2)) click 1
  i=0
  until [ "$(xdotool search --onlyvisible --classname '^quorvanta$' | wc -l)" -ge 2 ] || [ $i -ge 200 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  [ $i -lt 200 ] || { fail "a click on UPDATE at twice the size opened no box"; return; }
  # OK to the first notice, Cancel to the warnings: back to the dialog.
  xdotool key Return
  i=0
  until [ "$(grep -c '^box ' "$layout")" -ge 2 ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  waits=$(grep -c '^wait ' "$layout")
  xdotool key Escape
  i=0
  until [ "$(grep -c '^wait ' "$layout")" -gt "$waits" ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  [ $i -lt 200 ] || { fail "scaled: not back to the main dialog"; return; }
  set -- $(centre 1002)
  xdotool mousemove $((2 * $1)) $((2 * $2)) click 1
  ended
}
# This host started where there is no package: the folder chooser opens,
# titled for the firmware package; the folder typed into it is used, so the
# agreement opens. The chooser is GTK's (scripts/install-deps.sh installs
# it), which FLTK prefers to its own.
package_folder_chosen() {
  mkdir -p "$WORK/nopkg" "$WORK/fw" "$WORK/state"
  "$SIM" pack "$WORK/fw" --model t71 --rev 1.10 >/dev/null || { fail "pack fw"; return; }
  rm -f "$layout"
  (cd "$WORK/nopkg" && QUORVANTA_STATE_DIR="$WORK/state" QV_VIEW_LAYOUT="$layout" exec "$QV") \
    >"$WORK/out.txt" 2>"$WORK/err.txt" &
  program=$!
  i=0
  until chooser=$(xdotool search --onlyvisible --name '^Choose the folder of the firmware package' | head -n 1) &&
    [ -n "$chooser" ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  [ -n "$chooser" ] || { fail "no folder chooser"; return; }
  xdotool windowfocus --sync "$chooser" 2>/dev/null
  # The location line (ctrl+L where the chooser has one), the folder, Enter.
  xdotool key --window "$chooser" ctrl+l
  sleep 0.3
  xdotool type --delay 20 "$WORK/fw/"
  sleep 0.3
  xdotool key Return
  wait_layout "^wait KYODAKUUS" "agreement from the folder chosen" || return
  kill "$program"
  wait "$program"
  program=""
}
package_folder_chosen
# The display lost during a two-stage write: the write goes on to its end
# (every chunk of the image and the loader on the drive, at its new
# revision), the outcome box takes its default answer, and the program ends
# as for a hang-up (129) with the outcome on standard error and in the
# last-run log. Lost in the middle of the chunks (the program held still
# there by a stop signal before its 150th drive command while the display
# goes, then let go on), once with the window killed by xdotool (the X
# server disconnects its client) and once with the X server ended (last:
# nothing after it has a display); and lost while the outcome box waits.
display_lost_during_write() {  # window|server|box
  how=$1
  pc="$WORK/lost-$how"
  "$SIM" init "$pc" --drive '0:0:t71:usb:rev=1.00,code=0x11' >/dev/null || { fail "init lost-$how"; return; }
  # 19: SIGSTOP.
  stop_at=150:19
  [ "$how" = box ] && stop_at=""
  QUORVANTA_SIM_SIGNAL_AT=$stop_at start "$pc"
  wait_layout "^wait KYODAKUUS" "lost-$how: agreement" || return
  set -- $(centre 1011)
  xdotool mousemove "$1" "$2"
  accept_by_keys "lost-$how" "MainDialogUS" || return
  click 1001
  for box in 1 2 3; do
    i=0
    until [ "$(grep -c '^box ' "$layout")" -ge $box ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
    [ $box = 3 ] && break
    xdotool key Return
    [ $box = 2 ] && [ "$how" != box ] && break
  done
  if [ "$how" != box ]; then
    i=0
    until [ "$(ps -o stat= -p "$program" | cut -c1)" = T ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
    [ $i -lt 200 ] || { fail "lost-$how: the write never reached its 150th command"; return; }
  fi
  if [ "$how" = server ]; then
    kill "$xvfb"
    wait "$xvfb"
    xvfb=""
  else
    xdotool windowkill "$(xdotool search --classname '^quorvanta$' | head -n 1)"
  fi
  kill -CONT "$program"
  ended 129
  "$SIM" show "$pc" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 code=0x12 ' ||
    fail "lost-$how: drive not updated ($("$SIM" show "$pc" | grep '^drive'))"
  cmp -s "$pc/drives/0-0.firmware" "$pc/drive_c/Quorvanta/Tellumar.bin" ||
    fail "lost-$how: the drive does not hold the whole image"
  grep -qx 'message: Succeed to load F/W!!' "$WORK/err.txt" ||
    { fail "lost-$how: no outcome on standard error"; cat "$WORK/err.txt"; }
  [ "$(tail -n 2 "$pc/drive_c/WINDOWS/last-run.log" 2>/dev/null | tr '\n' '|')" = "message: Succeed to load F/W!!|answer: OK|" ] ||
    fail "lost-$how: the last-run log does not end with the outcome"
}
display_lost_during_write box
display_lost_during_write window
# A high-density desktop on a screen too small for the dialogs at twice
# their size (1280x800 at 192 dpi, said by Xft.dpi or by GDK_SCALE=2): the
# scale stays 1, whole screen pixels, so the text stays sharp; every window
# lies inside the screen, the dialogs centred on it, in English and Japanese.
high_density() {  # xft|gdk en|ja
  setting=$1 lang=$2
  agreement=KYODAKUUS main=MainDialogUS
  if [ "$lang" = ja ]; then agreement=KYODAKU main=MainDialog; fi
  pc="$WORK/dense-$lang"
  [ -d "$pc" ] || "$SIM" init "$pc" --lang "$([ "$lang" = ja ] && echo 0x0411 || echo 0x0409)" >/dev/null ||
    { fail "init $pc"; return; }
  rm -f "$layout"
  if [ "$setting" = gdk ]; then
    GDK_SCALE=2 QV_VIEW_LAYOUT="$layout" "$QV" --machine "$pc" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  else
    QV_VIEW_LAYOUT="$layout" "$QV" --machine "$pc" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  fi
  program=$!
  wait_layout "^wait $agreement " "$setting $lang: agreement" || return
  on_screen "$setting $lang: agreement" 1 "$agreement"
  set -- $(centre 1011)
  xdotool mousemove "$1" "$2"
  accept_by_keys "$setting $lang" "$main" || return
  on_screen "$setting $lang: main dialog" 1 "$main"
  wait_focus "$setting $lang: main dialog"
  xdotool key Tab Return
  ended
}
# The folder chooser opened where there is no package, at GDK_SCALE=SCALE,
# with HOME and GTK's settings in CONFIG: its X Y W H once it is at least
# MIN_W x MIN_H (GTK sizes its chooser while it fills it) and a moment
# after, or as it is after five seconds; nothing when none opens.
chooser_geometry() {  # SCALE HOME CONFIG MIN_W MIN_H
  min_w=$4 min_h=$5
  (cd "$WORK/nopkg" && GDK_SCALE=$1 HOME="$2" XDG_CONFIG_HOME="$3" QUORVANTA_STATE_DIR="$WORK/state" \
    exec "$QV") >"$WORK/out.txt" 2>"$WORK/err.txt" &
  program=$!
  i=0
  until chooser=$(xdotool search --onlyvisible --name '^Choose the folder of the firmware package' | head -n 1) &&
    [ -n "$chooser" ] || [ $i -ge 200 ]; do sleep 0.05; i=$((i + 1)); done
  if [ -n "$chooser" ]; then
    i=0
    until set -- $(window_geometry "$chooser") && [ "$3" -ge "$min_w" ] && [ "$4" -ge "$min_h" ] ||
      [ $i -ge 100 ]; do
      sleep 0.05
      i=$((i + 1))
    done
    sleep 0.3
    window_geometry "$chooser"
  fi
  kill "$program"
  wait "$program" 2>/dev/null
  program=""
}
# The folder chooser at the windows' scale: at GDK_SCALE=2 twice the size it
# has at 96 dpi, inside the screen. GTK's, and FLTK's own, which FLTK's
# preferences choose.
chooser_scaled_twice() {
  gtk_size=$(chooser_geometry 1 "$HOME" "$WORK/config-1x-GTK" 0 0 | cut -d' ' -f3-4)
  [ -n "$gtk_size" ] || { fail "no GTK folder chooser"; return; }
  mkdir -p "$WORK/fltk-home/.fltk/fltk.org"
  printf '; FLTK preferences file format 1.0\n; vendor: fltk.org\n; application: fltk\n\n[.]\n\n[./options]\nFNFCUsesGTK:0\n' \
    >"$WORK/fltk-home/.fltk/fltk.org/fltk.prefs"
  own_size=$(chooser_geometry 1 "$WORK/fltk-home" "$WORK/config-own" 0 0 | cut -d' ' -f3-4)
  [ -n "$own_size" ] || { fail "no FLTK folder chooser"; return; }
  for kind in GTK FLTK; do
    if [ $kind = GTK ]; then
      home=$HOME size=$gtk_size
    else
      home="$WORK/fltk-home" size=$own_size
    fi
    set -- $size
    set -- $(chooser_geometry 2 "$home" "$WORK/config-2x-$kind" $((18 * $1 / 10)) $((18 * $2 / 10))) $size
    [ $# = 6 ] || { fail "no $kind folder chooser at twice the size"; continue; }
    echo "$kind folder chooser: $3x$4 at GDK_SCALE=2, $5x$6 at 96 dpi"
    [ $((10 * $3)) -ge $((18 * $5)) ] && [ $((10 * $4)) -ge $((18 * $6)) ] ||
      fail "the $kind folder chooser is $3x$4 at GDK_SCALE=2, not twice its $5x$6"
    [ "$1" -ge 0 ] && [ "$2" -ge 0 ] && [ $(($1 + $3)) -le "$screen_width" ] &&
      [ $(($2 + $4)) -le "$screen_height" ] ||
      fail "the $kind folder chooser at $1,$2 ($3x$4) is not inside the screen"
  done
}
start_display 1280x800
high_density gdk en
high_density gdk ja
xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t192\n')"
high_density xft en
high_density xft ja
start_display 2560x1600
scaled_twice
chooser_scaled_twice
# Last: it ends the X server.
display_lost_during_write server
finish
