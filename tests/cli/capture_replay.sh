#!/bin/sh
# --record, quorvanta-sim replay and init --twin on a virtual PC: a whole
# two-stage update replays with its transcript and no difference; a capture
# whose CDB differs in one byte is reported at that command; a twin made from
# the capture answers the same update exactly as the drives did. Captures
# and traces are made safely and hold only the package folder's files;
# hostile captures are refused within a memory bound; rehearsals end as the
# real run would and leave nothing behind.
# Usage: sh capture_replay.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=capture_replay
. "$(dirname "$0")/lib/common.sh"

# Three drives: the T71 the update takes, an R305 behind ATAPI with a disc,
# and a drive of another maker; Windows 98 without auto-insert entries, so
# the update takes the two-stage path.
"$SIM" init "$WORK/pc" --os 98 --autoinsert 0 --adapters 2 --drive 0:0:t71:usb:rev=1.00 \
  --drive 0:3:r305:atapi:disc=1 --drive '1:2:"ACME CDROM 7":atapi' >/dev/null || fail "init"
cp -r "$WORK/pc" "$WORK/pc-before"
cp -r "$WORK/pc" "$WORK/pc-rehearsed"
"$QV" --machine "$WORK/pc" --yes --record "$WORK/update.jsonl" >"$WORK/recorded.txt" 2>&1 ||
  fail "recorded run"
expect_line "$WORK/recorded.txt" 'message: Succeed to load F/W!!'
# Every chunk of the package is named by its file and place, not copied.
grep -q '^{"blob":[^}]*"b64"' "$WORK/update.jsonl" &&
  fail "a chunk of the package was copied into the capture instead of named"

# The replay gives the same transcript and finds every command identical:
# for that update, and for ones that end otherwise (a WRITE BUFFER that never
# ends, recorded as pending; a drive that never comes back from its restart;
# a drive that loses power under a chunk, then answers nothing).
replays() {  # NAME CAPTURE TRANSCRIPT
  "$SIM" replay "$2" >"$WORK/$1.replayed" 2>"$WORK/$1.verdict" || fail "$1: replay exit code"
  cmp -s "$3" "$WORK/$1.replayed" || {
    fail "$1: the replay's transcript differs"
    diff "$3" "$WORK/$1.replayed"
  }
  expect_line "$WORK/$1.verdict" "replay: all $(grep -c '^{"i":' "$2") commands identical"
}
replays update "$WORK/update.jsonl" "$WORK/recorded.txt"
for knob in hang=0x3B noreturn=1 powerloss=40; do
  "$SIM" init "$WORK/$knob" --os 98 --autoinsert 0 --drive "0:0:t71:usb:$knob" >/dev/null
  "$QV" --machine "$WORK/$knob" --yes --record "$WORK/$knob.jsonl" >"$WORK/$knob.txt" 2>&1
  replays "$knob" "$WORK/$knob.jsonl" "$WORK/$knob.txt"
done
grep -q '"pending":1' "$WORK/hang=0x3B.jsonl" || fail "the hanging command was not recorded as pending"

# One field of one command changed in the capture (a CDB byte, the target,
# the length, the data sent), or the capture one command shorter or longer
# than the run: the program sends what it always does, and the replay stops
# at that command with exit code 1, saying what it expected and what was sent.
command_index() { sed 's/^{"i":\([0-9]*\),.*/\1/'; }
index=$(grep -m1 '"cdb":"12 01 81 00 ff 00"' "$WORK/update.jsonl" | command_index)
# The second image chunk sent with the first one's bytes.
chunk=$(grep '"cdb":"3b 06' "$WORK/update.jsonl" | sed -n 2p | command_index)
other_out=$(grep -m1 '"cdb":"3b 06' "$WORK/update.jsonl" | sed 's/.*"out":"\([^"]*\)".*/\1/')
last=$(grep '^{"i":' "$WORK/update.jsonl" | tail -n 1 | command_index)
plant() {  # NAME SED-SCRIPT: the capture with that change
  sed "$2" "$WORK/update.jsonl" >"$WORK/$1.jsonl"
}
plant cdb "/^{\"i\":$index,/s/\"cdb\":\"12 01 81 00 ff 00\"/\"cdb\":\"12 01 81 00 fe 00\"/"
plant target "/^{\"i\":$index,/s/\"at\":\"0:0\"/\"at\":\"0:1\"/"
plant length "/^{\"i\":$index,/s/\"len\":255/\"len\":254/"
plant data "/^{\"i\":$chunk,/s/\"out\":\"[^\"]*\"/\"out\":\"$other_out\"/"
plant shorter "/^{\"i\":$last,/d"
{ cat "$WORK/update.jsonl"
  grep "^{\"i\":$last," "$WORK/update.jsonl" | sed "s/^{\"i\":$last,/{\"i\":$((last + 1)),/"
} >"$WORK/longer.jsonl"
inquiry="cdb=12 01 81 00 ff 00 flags=0x09 dir=in"
while read -r name at expected; do
  "$SIM" replay "$WORK/$name.jsonl" >/dev/null 2>"$WORK/$name.txt"
  [ $? = 1 ] || fail "$name: a differing command must end the replay with exit code 1"
  expect_line "$WORK/$name.txt" "replay: command $at differs"
  [ "$expected" = - ] || expect_line "$WORK/$name.txt" "  expected: $expected"
done <<ROWS
cdb $index 0:0 cdb=12 01 81 00 fe 00 flags=0x09 dir=in len=255
target $index 0:1 $inquiry len=255
length $index 0:0 $inquiry len=254
data $chunk -
shorter $last nothing (the capture ends)
longer $((last + 1)) -
ROWS
expect_line "$WORK/cdb.txt" "  sent:     0:0 $inquiry len=255"
expect_line "$WORK/target.txt" "  sent:     0:0 $inquiry len=255"
expect_line "$WORK/longer.txt" "  sent:     nothing (the program ended)"

# The twin of the drives as they were before the update: the same update on
# it sends the same commands and gets the same answers, at the same times.
"$SIM" init "$WORK/twin" --twin "$WORK/update.jsonl" >/dev/null || fail "init --twin"
# (A drive that was never asked TEST UNIT READY cannot tell its disc.)
"$SIM" show "$WORK/twin" | grep '^drive' | sed 's/ disc=.$//' >"$WORK/twin-drives.txt"
"$SIM" show "$WORK/pc-before" | grep '^drive' | sed 's/ disc=.$//' >"$WORK/drives.txt"
cmp -s "$WORK/drives.txt" "$WORK/twin-drives.txt" || {
  fail "the twin's drives differ"
  diff "$WORK/drives.txt" "$WORK/twin-drives.txt"
}
"$QV" --machine "$WORK/twin" --yes --record "$WORK/twin.jsonl" >"$WORK/twin-run.txt" 2>&1 ||
  fail "run on the twin"
grep '^{"i":' "$WORK/update.jsonl" >"$WORK/commands.txt"
grep '^{"i":' "$WORK/twin.jsonl" >"$WORK/twin-commands.txt"
cmp -s "$WORK/commands.txt" "$WORK/twin-commands.txt" || {
  fail "the twin answered otherwise"
  diff "$WORK/commands.txt" "$WORK/twin-commands.txt" | head -5
}

# A capture naming a package file outside the package folder makes no twin;
# the error names the capture and its line, not a file of the program's own.
sed 's/^{"file":"Tellumar.inf"/{"file":"..\/Tellumar.inf"/' "$WORK/update.jsonl" >"$WORK/climb.jsonl"
"$SIM" init "$WORK/climb" --twin "$WORK/climb.jsonl" >/dev/null 2>"$WORK/climb.err"
[ $? = 2 ] || fail "init --twin of a capture naming ../Tellumar.inf"
expect_line "$WORK/climb.err" \
  "quorvanta-sim: $WORK/climb.jsonl: line 2: package file ../Tellumar.inf lies outside the package folder"
[ -e "$WORK/climb" ] && fail "init --twin left a virtual PC"

# A rehearsal asks the drives read-only questions, leaves them as they were,
# and predicts the transcript of the update that then ran.
"$QV" --machine "$WORK/pc-rehearsed" --rehearse --trace "$WORK/rehearse.trace" \
  >"$WORK/rehearse.txt" 2>&1 || fail "rehearse exit code"
grep -q 'cdb=3B\|cdb=CD\|cdb=1B' "$WORK/rehearse.trace" && fail "the rehearsal wrote to a drive"
"$SIM" show "$WORK/pc-rehearsed" | grep '^drive' | sed 's/ disc=.$//' >"$WORK/rehearsed-drives.txt"
cmp -s "$WORK/drives.txt" "$WORK/rehearsed-drives.txt" || fail "the rehearsal changed a drive"
grep -E '^rehearsal: (dialog|message|answer|note|power): ' "$WORK/rehearse.txt" |
  sed 's/^rehearsal: //' >"$WORK/predicted.txt"
cmp -s "$WORK/predicted.txt" "$WORK/recorded.txt" || {
  fail "the rehearsal predicted another transcript"
  diff "$WORK/predicted.txt" "$WORK/recorded.txt"
}
expect_line "$WORK/rehearse.txt" 'rehearsal: outcome: Succeed to load F/W!!'
expect_line "$WORK/rehearse.txt" \
  'rehearsal: path: two-stage (image through the loader commands, restart, loader data)'
# On the NT family a T71 takes the direct path.
"$SIM" init "$WORK/nt" --os nt --drive 0:0:t71:usb:code=0x11 >/dev/null || fail "init nt"
"$QV" --machine "$WORK/nt" --rehearse >"$WORK/rehearse-nt.txt" 2>&1 || fail "NT rehearsal exit code"
expect_line "$WORK/rehearse-nt.txt" \
  'rehearsal: path: direct (the image in WRITE BUFFER chunks, then a shutdown request)'
# A scan that stops (a drive that never answers INQUIRY) leaves nothing to
# rehearse: exit code 1, no twin.
"$SIM" init "$WORK/hung" --drive 0:0:t71:usb --drive 0:1:t71:usb:hang=0x12 >/dev/null || fail "init hung"
"$QV" --machine "$WORK/hung" --rehearse >"$WORK/rehearse-hung.txt" 2>&1
[ $? = 1 ] || fail "a rehearsal after a failed scan must end with exit code 1"
grep -q '^rehearsal: twin' "$WORK/rehearse-hung.txt" && fail "rehearsed after a failed scan"
# No drive that answers INQUIRY: nothing to rehearse, exit code 1.
"$SIM" init "$WORK/mute" --drive '0:0:t71:usb:check=0x12/5/0x24' >/dev/null || fail "init mute"
"$QV" --machine "$WORK/mute" --rehearse >"$WORK/rehearse-mute.txt" 2>&1
[ $? = 1 ] || fail "a rehearsal without a drive must end with exit code 1"
expect_line "$WORK/rehearse-mute.txt" 'rehearsal: no drive answered: nothing to rehearse'

# More rehearsals: each ends with what the real run would end with (the
# direct path with its shutdown, not its warnings); a drive that hangs is
# named and the capture of what happened still written; a signal during the
# scan ends it by that signal with no scratch directory left.
# NAME OS DRIVE-KNOB SIGNAL-AT EXIT OUTCOME (- for none)
while read -r name os knob at code outcome; do
  [ "$knob" = - ] && knob=
  [ "$at" = - ] && at=
  "$SIM" init "$WORK/r-$name" --os "$os" --autoinsert 0 --drive "0:0:t71:usb$knob" >/dev/null
  mkdir "$WORK/tmp-$name"
  got=$( (TMPDIR="$WORK/tmp-$name" QUORVANTA_SIM_SIGNAL_AT=$at "$QV" --machine "$WORK/r-$name" \
    --rehearse --record "$WORK/r-$name.jsonl" >"$WORK/r-$name.out" 2>&1; echo $?) 2>/dev/null)
  [ "$got" = "$code" ] || { fail "rehearsal $name: exit code $got, not $code"; cat "$WORK/r-$name.out"; }
  [ -z "$(ls -A "$WORK/tmp-$name")" ] || fail "rehearsal $name: its scratch directory was left"
  [ "$outcome" = - ] || expect_line "$WORK/r-$name.out" "rehearsal: outcome: $outcome"
done <<'ROWS'
direct nt - - 0 the computer is shut down to finish the update (power: shutdown)
hang 98 :hang=0x12 - 1 Failed to update the firmware. Turn the power off PC,\nturn the power on PC and try it again.
signal nt - 5:INT 130 -
ROWS
expect_line "$WORK/r-hang.out" "rehearsal: drive 0:0 hangs: it never answered command 0x12, and the run gave up waiting for it"
grep -q '"pending":1' "$WORK/r-hang.jsonl" || fail "the hanging rehearsal's capture was not written"

# --record and --trace create their files as every file the program makes:
# a link in their place is not followed, a FIFO not waited on (one line,
# exit code 2, the link's target as it was).
mkdir "$WORK/start"
echo kept >"$WORK/target"
ln -s "$WORK/target" "$WORK/start/link"
mkfifo "$WORK/start/fifo"
for row in "--record link" "--record fifo" "--trace fifo"; do
  set -- $row
  (cd "$WORK/start" && timeout 20 "$QV" --machine "$WORK/pc" --list "$1" "$2") >/dev/null \
    2>"$WORK/out.err"
  [ $? = 2 ] || fail "$row: exit code"
  [ "$(wc -l <"$WORK/out.err")" = 1 ] || { fail "$row: not one line"; cat "$WORK/out.err"; }
  grep -q "^quorvanta: cannot write the .* file $WORK/start/$2: it is .*; not written$" \
    "$WORK/out.err" || { fail "$row: the line"; cat "$WORK/out.err"; }
done
[ "$(cat "$WORK/target")" = kept ] || fail "--record wrote through a link"

# On this host, with the package in another folder: relative --record and
# --trace names are taken from the folder the program was started in. The
# capture holds the package folder's files by their names there; a file the
# description names outside it (by a path, or a link out of the folder) is
# left out with one line, and no path of this machine goes in; a package
# file far larger than any package file is not read (one line).
mkdir "$WORK/pkg"
cp "$WORK/pc/drive_c/Quorvanta/Tellumar.bin" "$WORK/pkg/"
echo secret >"$WORK/secret.bin"
ln -s "$WORK/secret.bin" "$WORK/pkg/out.bin"
printf '%s\r\nout.bin\r\n' "$WORK/secret.bin" >"$WORK/pkg/Tellumar.inf"
host_record() {  # NAME [ARGUMENTS]: records a list of this host from $WORK/start
  name=$1
  shift
  (cd "$WORK/start" && QUORVANTA_STATE_DIR="$WORK/state" /usr/bin/time -f %M -o "$name.kb" \
    "$QV" --package "$WORK/pkg" --list --record "$name.jsonl" --trace "$name.trace" "$@") \
    >/dev/null 2>"$WORK/$name.err"
  [ -f "$WORK/start/$name.jsonl" ] && [ -f "$WORK/start/$name.trace" ] ||
    fail "$name: the capture and the trace are not where the program was started"
}
host_record host -- "$WORK/pkg/Tellumar.bin" "$WORK/private/notes"
for name in "$WORK/secret.bin" out.bin; do
  expect_line "$WORK/host.err" "quorvanta: $name is outside the package folder; left out of the capture"
done
[ "$(grep -o '^{"file":"[^"]*"' "$WORK/start/host.jsonl" | tr '\n' ' ')" = \
  '{"file":"Tellumar.inf" {"file":"Tellumar.bin" ' ] || fail "the capture's files"
grep -q "$WORK" "$WORK/start/host.jsonl" && fail "a path of this machine in the capture"
grep -q '"args":\["--list","--","Tellumar.bin","notes"\]' "$WORK/start/host.jsonl" ||
  fail "the image argument is not named from the package folder, or a word after it not by its last part"
[ "$(ls "$WORK/pkg" | tr '\n' ' ')" = "Tellumar.bin Tellumar.inf out.bin " ] ||
  fail "the run wrote into the package folder"
printf 'big.bin\r\n\r\n' >"$WORK/pkg/Tellumar.inf"
truncate -s 3G "$WORK/pkg/big.bin"
host_record big
expect_line "$WORK/big.err" \
  "quorvanta: $WORK/pkg/big.bin is larger than any package file (526336 bytes); left out of the capture"
kb=$(tail -n 1 "$WORK/start/big.kb")
[ "$kb" -lt 102400 ] || fail "recording beside a 3 GB package file took $kb KB"

# Captures come from other machines: a hostile one is refused with one line
# and exit code 2 whatever it announces, and the reader stays under 100 MB
# (the peak resident size, a bound, not a timing).
header=$(head -n 1 "$WORK/update.jsonl")
zeros() { head -c "$1" /dev/zero | sha256sum | cut -c1-64; }
big=$(zeros 16777216)
four=$(zeros 4194304)
{
  echo "$header"
  for i in $(seq 40); do echo "{\"blob\":\"$big\",\"len\":16777216,\"b64\":\"\"}"; done
} >"$WORK/hostile-blobs.jsonl"
{
  echo "$header"
  echo "{\"blob\":\"$four\",\"len\":4194304,\"b64\":\"\"}"
  for i in $(seq 0 99); do
    echo "{\"i\":$i,\"at\":\"0:0\",\"cdb\":\"3b\",\"flags\":\"0x02\",\"len\":4194304,\"out\":\"sha256:$four\",\"pending\":1}"
  done
} >"$WORK/hostile-copies.jsonl"
{
  echo "$header"
  printf '{"i":0,"x":'
  head -c 4000000 /dev/zero | tr '\0' '['
  echo
} >"$WORK/hostile-nesting.jsonl"
{
  echo "$header"
  printf '{"i":0,"at":"0:0","cdb":"12","flags":"0x08","len":4294967295,"out":"","status":"0x01","ha":"0x00","targ":"0x00","sense":"","ms":0,"in":"'
  head -c 2000000 /dev/zero | tr '\0' '1'
  echo '"}'
} >"$WORK/hostile-line.jsonl"
truncate -s 3G "$WORK/hostile-sparse.jsonl"
# A file named by a megabyte of path, once and fifteen times.
empty=$(zeros 0)
long=$(head -c 520000 /dev/zero | tr '\0' a | sed 's|a|a/|g')f
echo "$header" >"$WORK/hostile-name.jsonl"
cp "$WORK/hostile-name.jsonl" "$WORK/hostile-names.jsonl"
echo "{\"file\":\"$long\",\"size\":0,\"sha256\":\"$empty\",\"b64\":\"\"}" >>"$WORK/hostile-name.jsonl"
for i in $(seq 15); do
  echo "{\"file\":\"$long$i\",\"size\":0,\"sha256\":\"$empty\",\"b64\":\"\"}"
done >>"$WORK/hostile-names.jsonl"
for name in blobs copies nesting line sparse name names; do
  /usr/bin/time -f %M -o "$WORK/$name.kb" "$SIM" replay "$WORK/hostile-$name.jsonl" >/dev/null \
    2>"$WORK/$name.err"
  code=$?
  [ $code = 2 ] || fail "hostile capture $name: exit code $code, not 2"
  [ "$(wc -l <"$WORK/$name.err")" = 1 ] || { fail "hostile capture $name: not one line"; cat "$WORK/$name.err"; }
  # What it quotes of the capture is short.
  [ "$(wc -c <"$WORK/$name.err")" -lt $((${#WORK} + 200)) ] || fail "hostile capture $name: a long line"
  kb=$(tail -n 1 "$WORK/$name.kb")
  echo "hostile capture $name: peak $kb KB"
  [ "$kb" -lt 102400 ] || fail "hostile capture $name: $kb KB of memory"
done

# A capture's args hold only what a recorder writes: one naming --trace or
# --record (a file of the user's), --machine (a virtual PC of the user's)
# or an unknown option is refused before anything runs, with what it named
# left as it was.
cp -r "$WORK/pc-before" "$WORK/theirs"
echo kept >"$WORK/notes"
while read -r option args; do
  sed "1s|\"args\":\[[^]]*\]|\"args\":[$args]|" "$WORK/update.jsonl" >"$WORK/args.jsonl"
  "$SIM" replay "$WORK/args.jsonl" >/dev/null 2>"$WORK/args.err"
  code=$?
  [ $code = 2 ] || fail "recorded $option: exit code $code, not 2"
  expect_line "$WORK/args.err" \
    "quorvanta-sim: $WORK/args.jsonl: the recorded args name $option, which a recorder never writes; nothing was run"
done <<ROWS
--trace "--yes","--trace","$WORK/notes"
--record "--yes","--record","$WORK/notes"
--machine "--yes","--machine","$WORK/theirs"
--wipe "--yes","--wipe"
ROWS
[ "$(cat "$WORK/notes")" = kept ] || fail "a replay wrote the file its capture named"
diff -r "$WORK/pc-before" "$WORK/theirs" >/dev/null || fail "a replay changed the virtual PC its capture named"

finish
