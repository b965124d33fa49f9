#!/bin/sh
# The terminal view under tmux, a real terminal emulator: the whole dialogue
# by keys (and one mouse click) in 80x24, in English and in Japanese; the
# refusal of a 60x20 terminal; the terminal given back to the shell; the
# progress bar's cells on the screen part-way and at the end of an update;
# the terminal closed during a held write and at the agreement; the Japanese
# agreement paged through against the catalogue; the write's progress and
# this host's notes in the status line, nothing over the screen; a missing
# folder asked again. With
# QV_SHOTS=DIR set, the English screens are kept there as text.
# Usage: sh terminal.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=views_terminal
. "$(dirname "$0")/../cli/lib/common.sh"
command -v tmux >/dev/null || { echo "tmux is missing (scripts/install-deps.sh installs it)"; exit 1; }

socket=""
tm() { tmux -S "$socket" "$@"; }
trap 'for s in "$WORK"/*.sock; do tmux -S "$s" kill-server 2>/dev/null; done; rm -rf "$WORK"' EXIT

# A shell with a known prompt in a detached terminal of the given size, one
# tmux server each.
start_terminal() {  # COLUMNS ROWS [NAME]
  socket="$WORK/${3:-$1x$2}.sock"
  tm -f /dev/null new-session -d -x "$1" -y "$2" -e LANG=C.UTF-8 "env -u TMUX sh"
  tm send-keys "PS1='qv\$ '" Enter
}
screen() { tm capture-pane -p -J; }
# Waits until the pane shows TEXT (10 seconds at most: a loaded machine), else fails.
wait_for() {  # TEXT WHAT
  i=0
  while [ $i -lt 200 ]; do
    screen | grep -qF -- "$1" && return 0
    sleep 0.05
    i=$((i + 1))
  done
  fail "$2: '$1' not shown"
  screen
  return 1
}
# A left click at a cell, as an xterm-compatible terminal reports it.
click() {  # COLUMN ROW (0-based)
  b=$(printf "\\$(printf %o $((33 + $1)))")
  r=$(printf "\\$(printf %o $((33 + $2)))")
  tm send-keys -l "$(printf '\033[M %s%s' "$b" "$r")"
  tm send-keys -l "$(printf '\033[M#%s%s' "$b" "$r")"
}
keep() {  # NAME
  [ -z "${QV_SHOTS:-}" ] || screen | sed 's/ *$//' >"$QV_SHOTS/$1.txt"
}
run() {  # PC
  tm send-keys "clear; '$QV' --machine '$1' --ui terminal; echo exit=\$?" Enter
}
# Reads the agreement to its end with Page Down, accepts it, and goes on.
accept() {  # ACCEPT-LABEL
  # Not the caption: the last run's transcript on the screen shows it too.
  # Disabled until the end is read, and shown so without relying on dim.
  wait_for "(-) $1" "agreement" || return
  for _ in 1 2 3 4 5 6 7 8 9; do tm send-keys NPage; done
  tm send-keys Tab Tab Space
  wait_for "(*) $1" "accept checked" || return
  tm send-keys Enter
}
# The agreement's scroll bar runs from the top row of its text box to the
# bottom row: its arrows stand in the rows of the box's corners.
bar_beside_box() {  # WHAT
  screen | grep -qE '│ *┌─*┐?▲' && screen | grep -qE '│ *└─*┘?▼' ||
    { fail "$1: the scroll bar is not as tall as the text box"; screen; }
}
finished() {  # the program ended, the terminal is the shell's again
  wait_for "exit=0" "exit code" || return
  [ "$(tm display -p '#{alternate_on}')" = 0 ] || fail "still on the alternate screen"
  screen | grep -v '^$' | tail -n 1 | grep -qx 'qv\$ *' || { fail "no shell prompt after the run"; screen; }
}

"$SIM" init "$WORK/en" --drive '0:0:t71:usb:rev=1.00,code=0x11' \
  --drive '0:1:t71:usb:rev=1.00,code=0x12' >/dev/null || fail "init en"
"$SIM" init "$WORK/ja" --lang 0x0411 --drive '0:0:t71:usb:rev=1.00,code=0x11' >/dev/null ||
  fail "init ja"

# English, 80x24: the agreement, the two drive rows, the second chosen with
# the mouse, EXIT by keys; the transcript follows once the screen is back.
start_terminal 80 24
run "$WORK/en"
wait_for "(-) Accept" "agreement"
bar_beside_box "English agreement"
keep terminal-agreement-en
accept Accept
wait_for "[ UPDATE ]" "main dialog"
wait_for "[ EXIT ]" "main dialog"
keep terminal-main-en
screen | grep -qE '\(\*\) USB +F/W         version +1\.00 \(11\)' || { fail "first drive row"; screen; }
row=$(screen | grep -n '( ) USB' | head -n 1 | cut -d: -f1)
line=$(screen | sed -n "${row}p")
col=$(printf "%s" "${line%%( ) USB*}" | LC_ALL=C.UTF-8 wc -m)
click "$((col + 1))" "$((row - 1))"
wait_for "(*) USB       F/W         version    1.00 (12)" "second drive chosen by the mouse"
tm send-keys Tab Tab Enter
finished
[ "$(screen | grep -c '^dialog: Quorvanta        Ver. 1.0$')" = 2 ] || { fail "transcript after the run"; screen; }

# Japanese: the same by keys alone. The agreement's lines fill the box's
# width (the first row holds more than the 19 characters of a stored line);
# made too small meanwhile, the terminal says so in Japanese.
run "$WORK/ja"
wait_for "(-) 許諾する" "Japanese agreement"
bar_beside_box "Japanese agreement"
screen | grep -q '│このプログラムは、ヴァントロス製ＣＤ－Ｒ／ＲＷドライ' ||
  { fail "Japanese agreement not wrapped to the box's width"; screen; }
tm resize-window -x 60 -y 20
wait_for "端末の大きさは 60x20 です。80x24 以上に広げてください。" "Japanese size notice"
tm resize-window -x 80 -y 24
accept 許諾する
wait_for "[ UPDATE ]" "Japanese main dialog"
screen | grep -qE '\(\*\) USB +F/W         version +1\.00 \(11\)' || { fail "Japanese drive row"; screen; }
tm send-keys Tab Enter
finished

# The whole Japanese agreement paged through in 80x24: each page's text is a
# run of the catalogue's (no character lost at a line's end), the first page
# its start, the last its end.
japanese_agreement_paged() {
  start_terminal 80 24 jpaged
  run "$WORK/ja"
  wait_for "(-) 許諾する" "Japanese agreement to page through" || return
  want=$(sed -n '/kJapaneseAgreement\[kJapaneseAgreementLines\] = {/,/^};/p' \
    "$(dirname "$0")/../../state/catalogue_texts.h" | grep -o '"[^"]*"' | tr -d '" \n')
  [ -n "$want" ] || { fail "no Japanese agreement in the catalogue"; return; }
  : >"$WORK/pages.txt"
  page=""
  i=0
  while [ $i -lt 40 ]; do
    # The text box's rows are the screen's rows with four frame lines.
    last=$page
    page=$(screen | awk -F'│' 'NF == 5 {print $3}' | tr -d ' \n')
    [ "$page" = "$last" ] && break
    printf '%s\n' "$page" >>"$WORK/pages.txt"
    tm send-keys NPage
    sleep 0.2
    i=$((i + 1))
  done
  n=0
  while read -r page; do
    n=$((n + 1))
    case $want in *"$page"*) ;; *) fail "Japanese agreement page $n is not the catalogue's: $page" ;; esac
  done <"$WORK/pages.txt"
  case $want in "$(head -n 1 "$WORK/pages.txt")"*) ;; *) fail "Japanese agreement: the first page is not its start" ;; esac
  case $want in *"$(tail -n 1 "$WORK/pages.txt")") ;; *) fail "Japanese agreement: the last page is not its end" ;; esac
  # Read to its end: Accept may be chosen.
  tm send-keys Tab Tab Space
  wait_for "(*) 許諾する" "accept checked after paging" || return
  tm send-keys Enter
  wait_for "[ UPDATE ]" "Japanese main dialog after paging" || return
  tm send-keys Tab Enter
  finished
}
japanese_agreement_paged

# A restart request ends the process at once: the terminal comes back first,
# with the transcript up to the request.
"$SIM" init "$WORK/restart" --drive 0:0:t71:atapi --package none >/dev/null &&
  "$SIM" pack "$WORK/restart/drive_c/Quorvanta" --model t71 --rev 1.10 --no-loader >/dev/null ||
  fail "init restart"
tm send-keys "clear" Enter
run "$WORK/restart"
accept Accept
wait_for "[ UPDATE ]" "restart main dialog"
tm send-keys Enter
wait_for "[ Cancel ]" "restart question"
tm send-keys Enter
finished
wait_for "power: restart" "transcript of the restart"

# The progress bar as the terminal shows it: FILLED EMPTY, the cells of the
# bar's line on the screen.
# A message box may cover the middle of the bar: the cells on either side
# of it are counted.
bar_cells() {
  screen | grep -E '\[[█░]' | head -n 1 | grep -oE '\[[^]]*\]' >"$WORK/bar"
  printf '%s %s\n' "$(grep -o '█' "$WORK/bar" | wc -l)" "$(grep -o '░' "$WORK/bar" | wc -l)"
}
# An update through the boxes up to the one that shows TEXT.
update_until() {  # PC TEXT
  tm send-keys "clear" Enter
  run "$1"
  accept Accept
  wait_for "[ UPDATE ]" "main dialog before the update" || return
  tm send-keys Enter
  wait_for "Close all other applications" "first notice" || return
  tm send-keys Enter
  wait_for "DO NOT abort" "second notice" || return
  tm send-keys Enter
  wait_for "$2" "outcome"
}
# Part-way: the drive answers BUSY until the loader path gives up, and the
# bar stays as far as the update got behind the failure box. At the end of
# a good two-stage update it is full behind the success box.
"$SIM" init "$WORK/busy" --drive 0:0:t71:usb:busy=3@150 --package t71 >/dev/null || fail "init busy"
"$SIM" init "$WORK/good" --drive 0:0:t71:usb --package t71 >/dev/null || fail "init good"
LC_ALL=C.UTF-8
export LC_ALL
update_until "$WORK/busy" "Error: Can't accept loader CMD!"
set -- $(bar_cells)
echo "bar part-way: $1 cells filled, $2 empty"
[ "$1" -gt 0 ] && [ "$2" -gt 0 ] || { fail "bar part-way: $1 filled, $2 empty"; screen; }
tm send-keys Enter Tab Enter
finished
update_until "$WORK/good" "Succeed to load F/W!!"
set -- $(bar_cells)
echo "bar at the end: $1 cells filled, $2 empty"
[ "$1" -ge 25 ] && [ "$2" -eq 0 ] || { fail "bar at the end: $1 filled, $2 empty"; screen; }
tm send-keys Enter Tab Enter
finished

# Ctrl-C while a dialog waits: the terminal is the shell's again.
run "$WORK/ja"
wait_for "許諾する" "Japanese agreement"
tm send-keys C-c
i=0
while [ "$(tm display -p '#{pane_current_command}')" != sh ] && [ $i -lt 200 ]; do
  sleep 0.05
  i=$((i + 1))
done
# (The quotes keep the typed line itself from reading "checked".)
tm send-keys "stty -a | grep -o ' echo ' ; echo che''cked" Enter
wait_for "checked" "stty after Ctrl-C"
[ "$(tm display -p '#{alternate_on}')" = 0 ] || fail "Ctrl-C left the alternate screen on"
screen | grep -qx ' echo *' || { fail "Ctrl-C left the terminal without echo"; screen; }

# Four drives by the keyboard alone: Shift-Tab from UPDATE reaches the
# checked row, the arrows move the check to the third row, whose drive the
# status line names; Tab back to UPDATE and Enter through the boxes. Once
# the update has disabled UPDATE the focus stands on EXIT, so Enter ends the
# run. The trace shows the writes going to the third drive alone.
choose_third_drive_by_keys() {
  "$SIM" init "$WORK/four" --drive '0:0:t71:usb:rev=1.00,code=0x11' \
    --drive '0:1:r305:usb:rev=1.00,code=0x12' --drive '0:2:t71:usb:rev=1.00,code=0x13' \
    --drive '0:3:t71:usb:rev=1.00,code=0x14' >/dev/null || { fail "init four"; return; }
  tm send-keys "clear; '$QV' --machine '$WORK/four' --ui terminal --trace '$WORK/four.trace'; echo exit=\$?" Enter
  accept Accept
  wait_for "Drive 1 of 4: T71 CDRW USB at adapter 0, target 0 (USB)" "status line, first row" || return
  tm send-keys BTab Down
  wait_for "Drive 2 of 4: R305 CDRW USB at adapter 0, target 1 (USB)" "status line, second row" || return
  tm send-keys Down
  wait_for "Drive 3 of 4: T71 CDRW USB at adapter 0, target 2 (USB)" "status line, third row" || return
  screen | grep -qE '\(\*\) USB +F/W         version +1\.00 \(13\)' || { fail "third row not checked"; screen; }
  tm send-keys Tab Enter
  for text in "Close all other applications" "DO NOT abort" "Succeed to load F/W!!"; do
    wait_for "$text" "update of the third drive" || return
    tm send-keys Enter
  done
  wait_for "[-UPDATE-]" "UPDATE disabled after the update" || return
  tm send-keys Enter
  finished
  grep ' cdb=3B ' "$WORK/four.trace" | cut -d' ' -f1 | sort -u >"$WORK/four.written"
  [ "$(cat "$WORK/four.written")" = "0:2" ] || { fail "writes went to: $(cat "$WORK/four.written")"; }
}
choose_third_drive_by_keys

# Signals during the firmware write: Ctrl-C at a real-time virtual PC's
# direct write, and SIGTERM (sent by the virtual PC at the end of the load)
# on the two-stage path. The line shows under the dialog, the update ends
# as without the signal, then the program ends by the signal with the
# terminal back and the transcript printed.
"$SIM" init "$WORK/held-nt" --os nt --realtime 1 >/dev/null || fail "init held-nt"
"$SIM" init "$WORK/held-98" >/dev/null || fail "init held-98"
update_by_keys() {
  accept Accept
  wait_for "[ UPDATE ]" "$1: main dialog" || return
  tm send-keys Enter
  wait_for "[ OK ]" "$1: close the applications" || return
  tm send-keys Enter
  wait_for "[ Cancel ]" "$1: warnings" || return
  tm send-keys Enter
}
tm send-keys "clear" Enter
run "$WORK/held-nt"
update_by_keys "Ctrl-C"
wait_for "Note: This may" "Ctrl-C: duration note" && tm send-keys C-c
wait_for "firmware update is running" "Ctrl-C: held line"
wait_for "power: shutdown" "Ctrl-C: transcript"
# The shell drops the rest of a line whose program Ctrl-C ended: asked anew.
tm send-keys "echo status=\$?" Enter
wait_for "status=130" "Ctrl-C: exit status"
"$SIM" show "$WORK/held-nt" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 ' || fail "Ctrl-C: drive not updated"
tm send-keys "clear; QUORVANTA_SIM_SIGNAL_AT=284:TERM '$QV' --machine '$WORK/held-98' --ui terminal; echo exit=\$?" Enter
update_by_keys "SIGTERM"
wait_for "Succeed to load F/W!!" "SIGTERM: outcome"
screen | grep -qF "firmware update is running" || { fail "SIGTERM: no held line"; screen; }
tm send-keys Enter
wait_for "exit=143" "SIGTERM: exit status"
wait_for "answer: OK" "SIGTERM: transcript"
[ "$(tm display -p '#{alternate_on}')" = 0 ] || fail "SIGTERM left the alternate screen on"
"$SIM" show "$WORK/held-98" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 code=0x12 ' ||
  fail "SIGTERM: drive not updated"

# The terminal closed under a held write: during the direct path's
# real-time write, and while the two-stage path's outcome box waits. The
# write finishes, a box nobody can answer takes its default, the transcript
# is kept in the state directory's last-run log, the program ends as for
# a hang-up (129; its shell waits that out to note the status), and no
# process is left spinning on the closed terminal.
"$SIM" init "$WORK/lost-nt" --os nt --realtime 1 >/dev/null || fail "init lost-nt"
"$SIM" init "$WORK/lost-98" >/dev/null || fail "init lost-98"
close_terminal_at() {  # PC TEXT LAST-LINE REVISION
  socket="$1.sock"
  tm -f /dev/null new-session -d -x 80 -y 24 -e LANG=C.UTF-8 \
    "sh -c 'trap : HUP; \"$QV\" --machine \"$1\" --ui terminal; echo \$? >\"$1.status\"'"
  update_by_keys "$1" && wait_for "$2" "$1: before the terminal is closed" || return
  # As a terminal emulator's window closes: the hang-up signal, then the
  # terminal gone.
  for pid in $(pgrep -f -- "--machine $1"); do kill -HUP "$pid"; done
  tm kill-server
  i=0
  while [ $i -lt 400 ] && [ ! -s "$1.status" ]; do
    sleep 0.05
    i=$((i + 1))
  done
  [ "$(cat "$1.status" 2>/dev/null)" = 129 ] || fail "$1: exit status '$(cat "$1.status" 2>/dev/null)', not 129"
  for pid in $(pgrep -f -- "--machine $1"); do
    fail "$1: a process is left"
    kill -9 "$pid"
  done
  "$SIM" show "$1" | grep -q "^drive 0:0 T71 CDRW USB rev=1.10 $4" || fail "$1: drive not updated"
  [ "$(tail -n 1 "$1/drive_c/WINDOWS/last-run.log" 2>/dev/null)" = "$3" ] ||
    fail "$1: the last-run log does not end with '$3'"
}
close_terminal_at "$WORK/lost-nt" "Note: This may" "power: shutdown" "code=0x11"
close_terminal_at "$WORK/lost-98" "Succeed to load F/W!!" "answer: OK" "code=0x12"
# Closed at the agreement, outside any write, by a program started with the
# hang-up signal ignored (nohup): the lost terminal alone ends it at once, as
# a hang-up would, with no process left.
lost_at_agreement() {
  socket="$WORK/lost-agreement.sock"
  status="$WORK/lost-agreement.status"
  tm -f /dev/null new-session -d -x 80 -y 24 -e LANG=C.UTF-8 \
    "sh -c 'trap \"\" HUP; \"$QV\" --machine \"$WORK/en\" --ui terminal; echo \$? >\"$status\"'"
  wait_for "(-) Accept" "agreement before the terminal is lost" || return
  tm kill-server
  i=0
  while [ $i -lt 200 ] && [ ! -s "$status" ]; do
    sleep 0.05
    i=$((i + 1))
  done
  [ "$(cat "$status" 2>/dev/null)" = 129 ] ||
    fail "terminal lost at the agreement: exit status '$(cat "$status" 2>/dev/null)', not 129"
  for pid in $(pgrep -f -- "--machine $WORK/en "); do
    fail "terminal lost at the agreement: a process is left"
    kill -9 "$pid"
  done
}
lost_at_agreement
# How far a write is: a real-time virtual PC's direct write (a few seconds)
# shows in the status line a percentage that grows and a time left that
# falls. Seconds: "about 1 min 10 s left" is 70.
progress_in_status_line() {
  start_terminal 80 24 progress
  "$SIM" init "$WORK/progress" --os nt --realtime 1 >/dev/null || { fail "init progress"; return; }
  run "$WORK/progress"
  update_by_keys "progress" || return
  : >"$WORK/progress.lines"
  kept=""
  i=0
  # Until the main dialog waits again (after the shutdown request, which
  # the virtual PC only records, EXIT is usable again).
  while [ $i -lt 600 ] && ! screen | grep -qF '[ EXIT ]'; do
    screen | grep -oE 'Writing the firmware: [0-9]+ % - about [0-9a-z ]+ left' >>"$WORK/progress.lines"
    if [ -z "$kept" ] && screen | grep -qE 'Writing the firmware: ([1-9]|[1-8][0-9]) % '; then
      keep terminal-progress-en
      kept=1
    fi
    sleep 0.05
    i=$((i + 1))
  done
  uniq "$WORK/progress.lines" | awk '
    { percent = $4; left = 0
      for (f = 8; f < NF; f += 2) left += ($(f + 1) == "min") ? 60 * $f : $f
      if (NR > 1 && (percent < last_percent || left > last_left)) bad = 1
      if (NR > 1 && percent > last_percent) grew = 1
      if (NR > 1 && left < last_left) fell = 1
      last_percent = percent; last_left = left; print }
    END { exit !(grew && fell && !bad) }' >"$WORK/progress.seen" ||
    { fail "progress line: the percentage did not grow or the time left did not fall"; cat "$WORK/progress.seen"; }
  echo "progress lines seen: $(wc -l <"$WORK/progress.seen")"
  wait_for "[ EXIT ]" "progress: the main dialog after the write" || return
  ! screen | grep -q "Writing the firmware" || { fail "progress: the line stays after the write"; screen; }
  tm send-keys Enter
  wait_for "exit=0" "progress: exit" || return
  # Headless, the same line on standard error while that is a terminal, and
  # nothing of it when standard error is a file.
  "$SIM" init "$WORK/progress-headless" --os nt --realtime 1 >/dev/null || { fail "init headless"; return; }
  tm send-keys "clear; '$QV' --machine '$WORK/progress-headless' --yes >/dev/null; echo exit=\$?" Enter
  wait_for "quorvanta: Writing the firmware: " "headless: progress on a terminal"
  wait_for "exit=0" "headless: exit" || return
  "$SIM" init "$WORK/progress-file" --os nt >/dev/null || { fail "init headless file"; return; }
  "$QV" --machine "$WORK/progress-file" --yes >/dev/null 2>"$WORK/progress.err"
  ! grep -q "Writing the firmware" "$WORK/progress.err" || fail "headless: progress written to a file"
}
progress_in_status_line

# This host without drives of ours, no virtual PC: what its scan has to say
# stands in the status line under the first dialog (the agreement), never
# over the screen, and goes to standard error once the screen is given
# back. The host's words are those the list prints on standard error.
host_note_in_status_line() {
  start_terminal 80 24 host
  mkdir -p "$WORK/hostfw" && mkdir -m 700 "$WORK/hoststate"
  "$SIM" pack "$WORK/hostfw" --model t71 --rev 1.10 >/dev/null || { fail "pack hostfw"; return; }
  note=$(cd "$WORK/hostfw" && QUORVANTA_STATE_DIR="$WORK/hoststate" "$QV" --list 2>&1 >/dev/null |
    sed -n '1s/^quorvanta: //p')
  echo "this host's scan says: ${note:-nothing}"
  tm send-keys "clear; cd '$WORK/hostfw'; QUORVANTA_STATE_DIR='$WORK/hoststate' '$QV' --ui terminal; echo exit=\$?" Enter
  wait_for "(-) Accept" "host: agreement" || return
  tm capture-pane -p >"$WORK/host.screen"
  # The rows down to the agreement's bottom border are the dialog's; the
  # rows under it are the status line and nothing else.
  border=$(grep -n '└' "$WORK/host.screen" | tail -n 1 | cut -d: -f1)
  head -n "$border" "$WORK/host.screen" | grep -vE '^ *[┌│└]' | grep -q . &&
    { fail "host: a row over the dialog is not the dialog's"; cat "$WORK/host.screen"; }
  status=$(tail -n +"$((border + 1))" "$WORK/host.screen" | sed 's/^ *//; s/ *$//' | grep . | tr '\n' ' ' | sed 's/ $//')
  [ "$status" = "$note" ] || { fail "host: status line '$status', not the scan's note"; cat "$WORK/host.screen"; }
  accept Accept
  # No drive of ours here: the box, then the program ends.
  wait_for "[ OK ]" "host: no device box" || return
  tm send-keys Enter
  wait_for "exit=0" "host: exit" || return
  [ -z "$note" ] || wait_for "quorvanta: $note" "host: the note on standard error afterwards"
}
host_note_in_status_line

# This host started where there is no package: one line asks for its folder
# (the current one offered); the folder typed is used (the agreement opens)
# and offered first the next time, where an unanswered question ends in the
# box that says no data file was found and names the folder searched.
package_folder_asked() {
  start_terminal 80 24 nopkg
  mkdir -p "$WORK/nopkg" "$WORK/fw" "$WORK/state"
  "$SIM" pack "$WORK/fw" --model t71 --rev 1.10 >/dev/null || { fail "pack fw"; return; }
  host_run="cd '$WORK/nopkg'; QUORVANTA_STATE_DIR='$WORK/state' '$QV' --ui terminal 2>/dev/null; echo exit=\$?"
  tm send-keys "clear; $host_run" Enter
  wait_for "Folder of the firmware package (Tellumar.inf) [$WORK/nopkg]: " "package question" || return
  # A folder that is not there: one line says so, and the question comes again.
  tm send-keys "$WORK/missing" Enter
  wait_for "There is no folder $WORK/missing." "a missing folder" || return
  [ "$(screen | grep -c "^Folder of the firmware package (Tellumar.inf) \[$WORK/nopkg\]: ")" = 2 ] ||
    { fail "not asked again after a missing folder"; screen; return; }
  tm send-keys "$WORK/fw" Enter
  wait_for "(-) Accept" "agreement from the folder given" || return
  tm send-keys C-c
  # The program gone before the next command, so that no key of it reaches
  # the program that is still ending (the shell drops the echo after ^C).
  i=0
  while pgrep -f -- "$QV --ui terminal" >/dev/null && [ $i -lt 200 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  tm send-keys "clear; $host_run" Enter
  wait_for "Folder of the firmware package (Tellumar.inf) [$WORK/fw]: " "folder offered again" || return
  tm send-keys C-d
  wait_for "Error: Couldn't find data file." "unanswered question" || return
  wait_for "Folder searched: $WORK/nopkg" "the folder searched, in the box" || return
  tm send-keys Enter
  wait_for "exit=0" "exit code after the box"
}
package_folder_asked

# Too small: one clear line, exit code 2, the terminal untouched.
start_terminal 60 20
tm send-keys "'$QV' --machine '$WORK/en' --ui terminal; echo exit=\$?" Enter
wait_for "exit=2" "60x20 run"
screen | grep -qF "quorvanta: the terminal is 60x20; the terminal view needs at least 80x24" ||
  { fail "no clear message for 60x20"; screen; }

# A terminal that cannot move the cursor: the same, one line and exit code 2.
tm send-keys "clear; TERM=dumb '$QV' --machine '$WORK/en' --ui terminal; echo dumb-exit=\$?" Enter
wait_for "dumb-exit=2" "TERM=dumb run"
[ "$(screen | grep -c .)" = 3 ] && screen | grep -qxF "quorvanta: the terminal view needs cursor movement, which TERM=dumb lacks (use --ui desktop, or --ui headless with a scripted user (--script FILE) or the autopilot (--yes))" ||
  { fail "TERM=dumb not refused in one line naming what to use instead"; screen; }
finish
