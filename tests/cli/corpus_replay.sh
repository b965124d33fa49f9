#!/bin/sh
# The captures of tests/corpus/, made from peers no one here wrote (QEMU's
# emulated SCSI CD-ROMs through the sg driver of a guest, the kernel's SCSI
# target) and from the Windows build under Wine: each one replays on a
# virtual PC with every command identical and gives its recorded transcript
# (NAME.out). The captures of one two-stage update made through the kernel,
# under Wine and on a virtual PC hold the same commands and answers, timings
# aside.
# Usage: sh corpus_replay.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=corpus_replay
. "$(dirname "$0")/lib/common.sh"
CORPUS=$(cd "$(dirname "$0")/../corpus" && pwd)

count=0
for capture in "$CORPUS"/*.jsonl; do
  name=$(basename "$capture" .jsonl)
  count=$((count + 1))
  # NAME.args: the program's arguments there (the drive the user chose).
  if [ -f "$CORPUS/$name.args" ]; then
    # shellcheck disable=SC2046
    "$SIM" replay "$capture" -- $(cat "$CORPUS/$name.args") >"$WORK/$name.out" 2>"$WORK/$name.verdict"
  else
    "$SIM" replay "$capture" >"$WORK/$name.out" 2>"$WORK/$name.verdict"
  fi || fail "$name: $(cat "$WORK/$name.verdict")"
  grep -q '^replay: all [0-9]* commands identical$' "$WORK/$name.verdict" || fail "$name: no verdict"
  cmp -s "$CORPUS/$name.out" "$WORK/$name.out" || {
    fail "$name: the replay's transcript differs"
    diff "$CORPUS/$name.out" "$WORK/$name.out"
  }
done
[ "$count" -ge 3 ] || fail "only $count captures in $CORPUS"

# The same update on a virtual PC: the drive and package the kernel's, the
# usb-storage one's and Wine's captures were made with. The commands and answers must be the same,
# with one difference the kernel makes: sr_mod's own TEST UNIT READY, sent
# when the drive appears, takes the drive's power-on unit attention, so the
# program's first one through the kernel already reads "no medium".
commands() { grep '^{"i":' "$1" | sed 's/,"ms":[0-9]*//'; }
"$SIM" init "$WORK/pc" --os 98 --autoinsert 0 --drive 0:0:t71:usb --package t71 >/dev/null || fail "init"
"$QV" --machine "$WORK/pc" --yes --record "$WORK/pc.jsonl" >/dev/null 2>&1 || fail "run"
commands "$WORK/pc.jsonl" >"$WORK/wine_two_stage.expected"
first_tur=$(grep -m1 '"cdb":"00 00 00 00 00 00"' "$WORK/wine_two_stage.expected" | sed 's/^{"i":\([0-9]*\),.*/\1/')
sed "/^{\"i\":$first_tur,/s/70 00 06 00 00 00 00 0a 00 00 00 00 29/70 00 02 00 00 00 00 0a 00 00 00 00 3a/" \
  "$WORK/wine_two_stage.expected" >"$WORK/kernel_two_stage.expected"
# Through usb-storage the kernel is in the way just as much.
cp "$WORK/kernel_two_stage.expected" "$WORK/usb_two_stage_t71.expected"
for name in kernel_two_stage wine_two_stage usb_two_stage_t71; do
  commands "$CORPUS/$name.jsonl" >"$WORK/$name.commands"
  cmp -s "$WORK/$name.expected" "$WORK/$name.commands" || {
    fail "$name: the update's commands or answers differ from the virtual PC's"
    diff "$WORK/$name.expected" "$WORK/$name.commands" | head -6
  }
done

# Twins made from the captures of drives no one here wrote answer the same
# run as those drives did: QEMU's CD-ROMs the listing (a standard INQUIRY of
# their own, the revision page and the vendor query refused, no unit
# attention left once Linux has seen them), the kernel-served drive the
# whole update.
for run in "qemu_scsi_cd_list --list" "kernel_two_stage --yes"; do
  set -- $run
  "$SIM" init "$WORK/twin-$1" --twin "$CORPUS/$1.jsonl" >/dev/null || fail "$1: init --twin"
  "$QV" --machine "$WORK/twin-$1" "$2" --record "$WORK/twin-$1.jsonl" >"$WORK/twin-$1.out" 2>&1
  cmp -s "$CORPUS/$1.out" "$WORK/twin-$1.out" || fail "$1: the twin's transcript differs"
  commands "$CORPUS/$1.jsonl" >"$WORK/$1.recorded"
  commands "$WORK/twin-$1.jsonl" >"$WORK/twin-$1.commands"
  cmp -s "$WORK/$1.recorded" "$WORK/twin-$1.commands" || {
    fail "$1: the twin answered otherwise"
    diff "$WORK/$1.recorded" "$WORK/twin-$1.commands" | head -6
  }
done

finish
