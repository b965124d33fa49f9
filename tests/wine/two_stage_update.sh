#!/bin/sh
# The whole dialogue of Quorvanta.exe inside Wine, as a user goes through it
# with the mouse: Windows 98 reporting, English, one emulated T71 USB drive
# at 1.00 behind the test wnaspi32.dll and a 1.10 package beside the program.
# The agreement is scrolled to its end and accepted, the drive is chosen,
# UPDATE, every question answered OK; the two-stage update must end with
# "Succeed to load F/W!!", only EXIT enabled, and the drive must hold the
# new firmware. The end of the session asked for during the write is
# refused, and UPDATE clicked by another program then starts nothing. The run is recorded (--record): the capture replays on a virtual
# PC with every command identical, and holds the same commands and answers
# as the capture of the same update made on a virtual PC.
#
#   sh tests/wine/two_stage_update.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
. "$(dirname "$0")/lib_wine.sh"
begin_wine_test "$@"
wine_version win98
# The rehearsal clock is refused where no drive follows it: the program on
# its own (no test DLL, so the pass-through) ends at once with exit code 2.
mkdir "$WORK/alone" && cp "$BUILD/Quorvanta.exe" "$WORK/alone/"
code=0
(cd "$WORK/alone" && timeout 60 wine Quorvanta.exe --rehearsal-clock-rate $REHEARSAL \
  >"$WORK/alone.log" 2>&1) || code=$?
[ "$code" = 2 ] || fail "a rehearsal clock without emulated drives: exit code $code"
make_update_pc
# The same PC and package for the virtual PC's run of the update.
cp -r "$WORK/pc" "$WORK/pc-native"
cp "$WORK/app/Tellumar."* "$WORK/app/Tellmr"* "$WORK/pc-native/drive_c/Quorvanta/" 2>/dev/null
start_program en_US.UTF-8 --record "Z:$(echo "$WORK/wine.jsonl" | tr / '\\')" \
  --rehearsal-clock-rate $REHEARSAL
read_agreement
start_update
answer_messages "-DO NOT abort"
echo "$MESSAGES" | grep -q "^Close all other applications" || fail "no request to close programs"
# The write runs once its first command has ended (the drive restarts for
# 70 s in the middle of it): the end of the session is asked for and must be
# refused, the update go on. Another program clicking UPDATE meanwhile
# (posted and sent) starts nothing, then or later: the commands below are
# those of one update.
i=0
until grep -q '"cdb":"\(3b\|cd\) ' "$WORK/wine.jsonl" 2>/dev/null; do
  i=$((i + 1))
  [ $i -le 1200 ] || fail "the write did not start within 120 s"
  sleep 0.1
done
asked=$(wine "$WORK/app/qvprobe.exe" endsession "$MAIN" 2>/dev/null | tr -d '\r')
[ "$asked" = no ] || fail "the end of the session during the write: $asked, not no"
clicked=$(wine "$WORK/app/qvprobe.exe" command "$MAIN" 1001 2>/dev/null | tr -d '\r')
[ "$clicked" = sent ] || fail "UPDATE sent during the write: $clicked"
answer_messages "Succeed to load F/W!!"
if echo "$MESSAGES" | grep -q "^Error\|^Failed"; then fail "an error was shown"; fi

dump
set -- $(control_state "$MAIN" 1001)
[ "$2" = 0 ] || fail "UPDATE enabled after the update"
set -- $(control_state "$MAIN" 1002)
[ "$2" = 1 ] || fail "EXIT disabled after the update"
note=$(control_text "$MAIN" 1015)
case "$note" in "Note: This may take several minutes."*) ;; *) fail "note: $note" ;; esac
# The bar, painted through GetDC and FillRect, is blue from edge to edge.
runs=$(bar_runs)
[ "$runs" = "0000FF 339" ] || fail "the bar is not full: $runs"
# Once the write is over the session may end again.
asked=$(wine "$WORK/app/qvprobe.exe" endsession "$MAIN" 2>/dev/null | tr -d '\r')
[ "$asked" = yes ] || fail "the end of the session after the write: $asked, not yes"
click "$MAIN" 1002
wait_program_end 10
expect_drive_revision 1.10
expect_no_run_entry

"$SIM" replay "$WORK/wine.jsonl" >/dev/null 2>"$WORK/verdict.txt" ||
  fail "the capture does not replay: $(cat "$WORK/verdict.txt")"
"$HOST_TOOLS/quorvanta" --machine "$WORK/pc-native" --yes --record "$WORK/native.jsonl" >/dev/null 2>&1
grep '^{"i":' "$WORK/wine.jsonl" | sed 's/,"ms":[0-9]*//' >"$WORK/wine.commands"
grep '^{"i":' "$WORK/native.jsonl" | sed 's/,"ms":[0-9]*//' >"$WORK/native.commands"
cmp -s "$WORK/wine.commands" "$WORK/native.commands" || {
  diff "$WORK/native.commands" "$WORK/wine.commands" | head -6
  fail "the update's commands under Wine differ from the virtual PC's"
}
[ -n "${QV_KEEP_CAPTURE:-}" ] && cp "$WORK/wine.jsonl" "$QV_KEEP_CAPTURE"
echo "PASS"
