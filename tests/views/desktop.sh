#!/bin/sh
# The desktop view on one Xvfb display, driven with xdotool as a person
# would: the agreement read to its end (wheel, Page Down, a thumb drag),
# accepted, NEXT, the second of two drives chosen, UPDATE with its boxes
# (the bar and the note drawn while the update blocks, the status line
# saying how far the write is), EXIT; then a
# Japanese run by the keyboard, and one whose write holds a signal. The view's layout record says what the model holds after
# each step; pixels of the screen say that the buttons and the progress
# frame stand where the model puts them (within one pixel), that the bar and
# the note are drawn as the update ends, and that Japanese text is drawn. With QV_SHOTS=DIR set, the screenshots are kept there.
# Usage: sh desktop.sh QUORVANTA_BIN QUORVANTA_SIM_BIN BUILD_DIR
QV=$1
SIM=$2
SHOT="$3/qv_xshot"
test_name=views_desktop
. "$(dirname "$0")/../cli/lib/common.sh"
for tool in Xvfb xdotool evilwm xprop; do
  command -v $tool >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
[ -x "$SHOT" ] || { echo "$SHOT is missing: this build has no desktop view"; exit 1; }
# Under the sanitizers: the font library's own caches are not the view's.
LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" 2>"$WORK/xvfb.log" &
xvfb=$!
program=""
wm=""
trap 'kill $program $wm $xvfb 2>/dev/null; rm -rf "$WORK"' EXIT
i=0
while [ ! -s "$WORK/display" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
DISPLAY=":$(cat "$WORK/display")"
export DISPLAY
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
shot() {  # NAME: the dialog last recorded, with the status line under it
  [ -n "${QV_SHOTS:-}" ] || return 0
  set -- "$1" $(grep '^wait ' "$layout" | tail -n 1 | cut -d' ' -f3-6) \
    $(grep '^status ' "$layout" | tail -n 1 | cut -d' ' -f5)
  "$SHOT" save "$QV_SHOTS/$1.png" "$2" "$3" "$4" $(($5 + ${6:-0})) || fail "screenshot $1"
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
  for _ in 1 2 3 4 5 6 7 8 9 10; do xdotool key Next; done
  wait_layout "^control 1004 .* ve-- " "Page Down to the end" || return
  xdotool key Tab Tab space
  wait_layout "^control 1004 .* vecf" "accept by keys" || return
  xdotool key Return
  wait_layout "^wait MainDialogUS" "main dialog of four drives" || return
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
  for _ in 1 2 3 4 5 6 7 8 9 10; do xdotool key Next; done
  wait_layout "^control 1004 .* ve-- " "held: Page Down to the end" || return
  xdotool key Tab Tab space
  wait_layout "^control 1004 .* vecf" "held: accept" || return
  xdotool key Return
  wait_layout "^wait MainDialog " "held: main dialog" || return
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
# At twice the size, as a desktop set to 192 dpi has it (GDK_SCALE=2 here,
# on a virtual PC whose screen is half this display's in 96-dpi pixels):
# the main dialog's window is twice the model's size with its status line,
# UPDATE's frame stands at twice the model's place on the screen, and a
# click there reaches UPDATE (its first box opens); EXIT by the mouse too.
scaled_twice() {
  "$SIM" init "$WORK/scaled" --screen 512x384 >/dev/null || { fail "init scaled"; return; }
  rm -f "$layout"
  GDK_SCALE=2 QV_VIEW_LAYOUT="$layout" "$QV" --machine "$WORK/scaled" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  program=$!
  wait_layout "^wait KYODAKUUS" "scaled agreement" || return
  for _ in 1 2 3 4 5 6 7 8 9 10; do xdotool key Next; done
  wait_layout "^control 1004 .* ve-- " "scaled: Page Down to the end" || return
  xdotool key Tab Tab space
  wait_layout "^control 1004 .* vecf" "scaled: accept" || return
  xdotool key Return
  wait_layout "^wait MainDialogUS" "scaled main dialog" || return
  set -- $(grep '^wait MainDialogUS' "$layout" | tail -n 1 | cut -d' ' -f3-6)
  want="$((2 * $3))x$((2 * ($4 + 20)))"
  window=$(xdotool search --onlyvisible --classname '^quorvanta$' | tail -n 1)
  got=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
  echo "scaled main dialog: window $got, model $3x$4 and the status line"
  [ "$got" = "$want" ] || fail "scaled main dialog is $got, not $want"
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
scaled_twice
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
finish
