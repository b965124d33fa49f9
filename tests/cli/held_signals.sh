#!/bin/sh
# Signals and other ways out during a firmware write, and files changed
# under it, headless. Signals: the virtual PC sends the
# program a signal just before a chosen drive command. During the write
# (a chunk in the middle of the image, on the direct and the two-stage path,
# and the end of the load after which the drive restarts for 70 s) the
# update ends as without the signal, one line on standard error says why it
# waited, then the program ends by that signal (128+N) with the transcript
# complete; a background job's terminal access (SIGTTOU, SIGTTIN) neither
# stops nor ends it. Before the write a signal ends the program at once, as
# it always has, with nothing written.
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
  got=$( (QUORVANTA_SIM_SIGNAL_AT=$at:$sig ERR="$pc.err" timeout -k 5 60 sh -c 'exec "$@" 2>"$ERR"' sh \
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
  # A background job's terminal access is ignored: nothing to hold or tell.
  held=1
  [ "$status" != 0 ] || held=0
  [ "$(grep -c 'firmware update is running' "$pc.err")" = "$held" ] ||
    { fail "$row: not $held held line(s)"; cat "$pc.err"; }
done <<'ROWS'
nt 150 INT 130 1.10 power: shutdown
nt 150 TERM 143 1.10 power: shutdown
nt 150 HUP 129 1.10 power: shutdown
98 150 INT 130 1.10 answer: OK
98 150 TERM 143 1.10 answer: OK
98 284 HUP 129 1.10 answer: OK
98 284 INT 130 1.10 answer: OK
nt 150 TTOU 0 1.10 power: shutdown
98 284 TTIN 0 1.10 answer: OK
nt 2 TERM 143 1.00 -
ROWS
# Only a write that came to its end leaves no last-run.log; one ended for
# good in the middle (SIGKILL, which nothing holds) leaves it saying so.
for row in nt-150-INT 98-284-INT; do
  [ ! -e "$WORK/$row/drive_c/WINDOWS/last-run.log" ] || fail "$row: a whole write left last-run.log"
done
pc="$WORK/killed"
"$SIM" init "$pc" --os 98 >/dev/null || fail "killed: init"
(QUORVANTA_SIM_SIGNAL_AT=150:9 "$QV" --machine "$pc" --ui headless --yes >/dev/null 2>&1)
grep -q "before the write came to its end" "$pc/drive_c/WINDOWS/last-run.log" 2>/dev/null ||
  fail "a write ended by SIGKILL left no word in last-run.log"

# The other ways out of a held write: a Ctrl-C that reaches every program of
# `2>&1 | tee` (tee dies, the program's lines meet a closed pipe), `| head`
# that stops reading before the write's last line (and a SIGPIPE in the
# middle of the two-stage path's write, where a line would come too late to
# meet the closed pipe in time), Ctrl-Z. Each ends with the whole write done (the
# drive at its new revision, the two-stage path's loader sent too), the
# documented exit code and no process left; a Ctrl-Z stops the program only
# once the write is over. The direct path's rows run in real time.
# ROW OS REALTIME SIGNAL-AT HOW STATUS DRIVE
while read -r name os realtime at how status drive; do
  pc="$WORK/out-$name"
  "$SIM" init "$pc" --os "$os" --realtime "$realtime" >/dev/null || fail "$name: init"
  [ "$at" = - ] && at=""
  case $how in
    tee)
      # The sub-shell waits out the Ctrl-C (its trap) to note the status.
      (QUORVANTA_SIM_SIGNAL_AT=$at setsid sh -c '{ trap : INT; "$1" --machine "$2" --ui headless \
        --yes; echo $? >"$2.status"; } 2>&1 | tee "$2.log" >/dev/null' sh "$QV" "$pc")
      got=$(cat "$pc.status" 2>/dev/null)
      ;;
    plain)
      QUORVANTA_SIM_SIGNAL_AT=$at "$QV" --machine "$pc" --ui headless --yes >"$pc.log" 2>&1
      got=$?
      ;;
    head*)
      got=$( ("$QV" --machine "$pc" --ui headless --yes 2>"$pc.err"; echo $? >"$pc.status") |
        head -n "${how#head}" >/dev/null; cat "$pc.status")
      ;;
    stop)
      # In a process group of its own with its parent in this session: a
      # group without one is never stopped by Ctrl-Z at all.
      QUORVANTA_SIM_SIGNAL_AT=$at perl -e 'setpgrp(0, 0); exec @ARGV' \
        "$QV" --machine "$pc" --ui headless --yes >"$pc.log" 2>"$pc.err" &
      pid=$!
      i=0
      while [ $i -lt 400 ] && [ "$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)" != T ]; do
        sleep 0.05
        i=$((i + 1))
      done
      [ "$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)" = T ] || fail "$name: never stopped"
      "$SIM" show "$pc" >/dev/null
      grep -q '^power: shutdown' "$pc.log" || { fail "$name: stopped before the write was over"; cat "$pc.log"; }
      kill -CONT "$pid"
      wait "$pid"
      got=$?
      grep -q 'firmware update is running' "$pc.err" || fail "$name: no held line"
      ;;
  esac
  [ "$got" = "$status" ] || fail "$name: exit status '$got', not $status"
  "$SIM" show "$pc" | grep -q "^drive 0:0 T71 CDRW USB rev=1.10 $drive" ||
    { fail "$name: the drive is not updated"; "$SIM" show "$pc"; }
  pgrep -f -- "--machine $pc" >/dev/null && fail "$name: a process is left"
done <<'ROWS'
tee-nt nt 1 150:-INT tee 130 code=0x11
tee-98 98 0 284:-INT tee 130 code=0x12
head-nt nt 1 - head7 141 code=0x11
pipe-98 98 0 284:PIPE plain 141 code=0x12
stop-nt nt 1 150:TSTP stop 0 code=0x11
ROWS

# The bytes checked are the bytes written: the image file replaced by
# another revision's, overwritten in place with it, or cut short once the
# real-time write has begun; the drive ends with the image that was checked.
"$SIM" pack "$WORK/other" --model t71 --rev 1.20 >/dev/null || fail "pack 1.20"
other="$WORK/other/$(head -n 1 "$WORK/other/Tellumar.inf" | tr -d '\r')"
for how in replaced overwritten truncated; do
  pc="$WORK/image-$how"
  "$SIM" init "$pc" --os nt --realtime 1 >/dev/null || fail "$how: init"
  (
    "$QV" --machine "$pc" --ui headless --yes >"$pc.log" 2>&1 &
    pid=$!
    i=0
    while [ $i -lt 200 ] && ! grep -q '^note:' "$pc.log"; do
      sleep 0.05
      i=$((i + 1))
    done
    sleep 1
    image="$pc/drive_c/Quorvanta/Tellumar.bin"
    case $how in
      replaced) cp "$other" "$image.new" && mv "$image.new" "$image" ;;
      overwritten) dd if="$other" of="$image" conv=notrunc status=none ;;
      truncated) truncate -s 1000 "$image" ;;
    esac
    wait "$pid"
  ) &
done
wait
for how in replaced overwritten truncated; do
  "$SIM" show "$WORK/image-$how" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 ' ||
    { fail "image $how during the write: the drive does not hold the checked image"; cat "$WORK/image-$how.log"; }
done

finish
