#!/bin/sh
# Signals during a firmware write, headless: the virtual PC sends the
# program a signal just before a chosen drive command. During the write
# (a chunk in the middle of the image, on the direct and the two-stage path,
# and the end of the load after which the drive restarts for 70 s) the
# update ends as without the signal, one line on standard error says why it
# waited, then the program ends by that signal (128+N) with the transcript
# complete. Before the write a signal ends the program at once, as it
# always has, with nothing written.
# Usage: sh held_signals.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=held_signals
. "$(dirname "$0")/lib/common.sh"

# PATH COMMAND SIGNAL STATUS REVISION LAST-TRANSCRIPT-LINE (- for none)
while read -r path at sig status rev last; do
  row="$path at command $at, SIG$sig"
  pc="$WORK/$path-$at-$sig"
  "$SIM" init "$pc" --os "$path" >/dev/null || fail "$row: init"
  # The program's standard error redirected inside, so that the shell's own
  # word on a killed child goes elsewhere.
  got=$( (QUORVANTA_SIM_SIGNAL_AT=$at:$sig ERR="$pc.err" sh -c 'exec "$@" 2>"$ERR"' sh \
    "$QV" --machine "$pc" --ui headless --yes >"$pc.out"; echo $?) 2>/dev/null)
  [ "$got" = "$status" ] || fail "$row: exit status $got, not $status"
  "$SIM" show "$pc" | grep -q "^drive 0:0 T71 CDRW USB rev=$rev " ||
    { fail "$row: the drive is not at $rev"; "$SIM" show "$pc"; }
  if [ "$last" = - ]; then
    [ ! -s "$pc.err" ] || { fail "$row: a line on standard error"; cat "$pc.err"; }
    grep -q '^note:' "$pc.out" && fail "$row: the write started"
    continue
  fi
  [ "$(tail -n 1 "$pc.out")" = "$last" ] || { fail "$row: transcript ends early"; cat "$pc.out"; }
  [ "$(grep -c 'firmware update is running' "$pc.err")" = 1 ] ||
    { fail "$row: not one held line"; cat "$pc.err"; }
done <<'ROWS'
nt 150 INT 130 1.10 power: shutdown
nt 150 TERM 143 1.10 power: shutdown
nt 150 HUP 129 1.10 power: shutdown
98 150 INT 130 1.10 answer: OK
98 150 TERM 143 1.10 answer: OK
98 284 HUP 129 1.10 answer: OK
98 284 INT 130 1.10 answer: OK
nt 2 TERM 143 1.00 -
ROWS

finish
