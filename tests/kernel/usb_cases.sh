#!/bin/sh
# Runs inside the guest that usb_guest.sh boots: the kernel cases' way of
# comparing a run through this kernel with the same run on the virtual PC
# (guest_cases.sh, whose functions these cases use), with the drives plugged
# in as USB mass-storage devices by qv_usb_drives and driven by usb-storage.
# Each model is updated by both paths; the direct path ends with the drive
# unplugged and plugged in again, so that it comes back as a new SCSI host.
set -u
# shellcheck disable=SC2034 # read by guest_cases.sh
SERVER=qv_usb_drives CASES_LIB_ONLY=1
# shellcheck source=guest_cases.sh
. /guest_cases.sh

# The update of NAME recorded with --record replays on a virtual PC with the
# transcript the run gave; both are kept for the corpus.
expect_replay() {  # NAME
  dir=/tmp/case/$1
  quorvanta-sim replay "$dir/kernel.jsonl" > "$dir/replay.out" 2> "$dir/replay.err" ||
    fail "$1: the capture did not replay: $(cat "$dir/replay.err")"
  grep -q '^replay: all [0-9]* commands identical$' "$dir/replay.err" || fail "$1: no replay verdict"
  cmp -s "$dir/kernel.out" "$dir/replay.out" || {
    fail "$1: the replay's transcript differs"
    diff "$dir/kernel.out" "$dir/replay.out"
  }
  CAPTURES="$CAPTURES $1"
}
CAPTURES=""

# Both drives plugged in at once, each a gadget on a controller of its own.
TWO="--os 98 --autoinsert 0 --drive 0:0:t71:usb:code=0x11 --drive 1:0:r305:usb:rev=1.20,code=0x13"
scenario list_json "$REHEARSAL" "$TWO" "--list --json"
for at in 0:0 1:0; do
  grep -q "\"address\": \"$at\", .*\"device\": \"/dev/sg[0-9]*\", \"hctl\": \"[0-9]*:0:0:0\"}" \
    /tmp/case/list_json/kernel.out || fail "list_json: no node and kernel address for $at"
done

# The two-stage path, each model, at the rehearsal rate.
for model in t71 r305; do
  name=usb_two_stage_$model
  scenario "$name" "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:$model:usb --package $model" \
    "--ui headless --yes" "--family 98 --record /tmp/case/$name/kernel.jsonl"
  expect_in "$name" kernel.out "message: Succeed to load F/W!!"
  expect_in "$name" kernel.drives "rev=1.10 code=0x12"
  expect_in "$name" kernel.trace "0:0 cdb=CD FF"
  expect_received "$name" 0:0
  expect_replay "$name"
done

# The direct path, each model, ended by a real disconnect and reconnect. A
# drive plugged in again is enumerated, waited for by usb-storage (a second)
# and scanned before the program sees it, all of it on the guest's clock,
# which a busy host starves: at half the rehearsal rate the program's two
# minutes of looking leave room for that.
REHEARSAL=5
for model in t71 r305; do
  name=usb_direct_$model
  power_cycle "$name" "0:0:$model:usb" \
    "message: The drive now reports the package's firmware revision 1.10: the update took." \
    "--record /tmp/case/$name/kernel.jsonl"
  grep -q '^0:0 unplugged' /tmp/handler.out || fail "$name: the drive was not unplugged"
  [ "$(grep -c '^0:0 plugged in' /tmp/handler.out)" -ge 2 ] || fail "$name: the drive was not plugged in again"
  expect_received "$name" 0:0
  expect_replay "$name"
done
power_cycle usb_direct_old 0:0:t71:usb:returnrev=1.00 \
  "message: The drive still reports its old firmware revision 1.00: the update did not take."
REHEARSAL=10

# A drive that does not come back after the end-of-load restart.
scenario noreturn "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:t71:usb:noreturn=1 --package t71" \
  "--ui headless --yes" "--family 98"
expect_in noreturn kernel.out "message: Error: No device could be detected."

# A drive that never answers one WRITE BUFFER: the program's own time-out
# ends the command and its message is told; the kernel's, a little later,
# makes usb-storage reset the device, after which it answers again.
dir=/tmp/case/hang
rm -rf "$dir" && mkdir -p "$dir"
quorvanta-sim init "$dir/kernel" --os 98 --autoinsert 0 --drive 0:0:t71:usb:hang=0x3B --package t71 > /dev/null
cp -r "$dir/kernel" "$dir/sim"
quorvanta --machine "$dir/sim" --ui headless --yes > "$dir/sim.out" 2>&1
serve "$dir/kernel" "$REHEARSAL"
(cd "$dir" && QUORVANTA_STATE_DIR=$dir/state quorvanta --package "$dir/kernel/drive_c/Quorvanta" --ui headless \
  --yes --family 98 --rehearsal-clock-rate "$REHEARSAL" --trace "$dir/kernel.trace" > "$dir/kernel.out" 2> "$dir/kernel.err")
start=$(uptime_cs)
i=0
while ! grep -q '^0:0 \(USB port reset\|Bulk-Only reset\)' /tmp/handler.out && [ $i -lt 400 ]; do
  sleep 0.1
  i=$((i + 1))
done
cs=$(($(uptime_cs) - start))
(cd "$dir" && QUORVANTA_STATE_DIR=$dir/state2 quorvanta --package "$dir/kernel/drive_c/Quorvanta" --list \
  > "$dir/again.out" 2>&1)
unserve
echo "== hang: usb-storage reset the drive $((cs / 100)).$((cs / 10 % 10)) s after the program had ended"
cat "$dir/kernel.out" "$dir/again.out"
grep -v '^ready$' /tmp/handler.out | sed 's/^/server: /'
cmp -s "$dir/sim.out" "$dir/kernel.out" || {
  fail "hang: the transcripts differ"
  diff "$dir/sim.out" "$dir/kernel.out"
}
grep -q '^0:0 cdb=3B .* timeout$' "$dir/kernel.trace" || fail "hang: no WRITE BUFFER timed out"
grep -q '^0:0 \(USB port reset\|Bulk-Only reset\)' /tmp/handler.out || fail "hang: usb-storage did not reset the drive"
expect_in hang again.out "$(printf '0:0\tT71 CDRW USB\t1.00')"

# A drive unplugged in the middle of the write: the program's failure
# message, no hang, and the next run finds the drive plugged in again.
scenario unplugged "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:t71:usb:powerloss=100 --package t71" \
  "--ui headless --yes" "--family 98"
grep -q '^0:0 unplugged' /tmp/handler.out || fail "unplugged: the drive stayed plugged in"
serve /tmp/case/unplugged/kernel "$REHEARSAL"
(cd /tmp/case/unplugged && QUORVANTA_STATE_DIR=/tmp/case/unplugged/state quorvanta --list \
  --package /tmp/case/unplugged/kernel/drive_c/Quorvanta > again.out 2>&1)
unserve
expect_in unplugged again.out "$(printf '0:0\tT71 CDRW USB\t1.00')"

echo "== what the kernel said of the drives"
dmesg | grep -E 'usb-storage|usb [0-9]+-[0-9]+:|scsi host[0-9]|scsi [0-9:]+: (CD-ROM|Direct)|sr [0-9:]+|sr[0-9]|Attached scsi generic' |
  sed 's/^\[ *[0-9.]*\] //'

if [ -f /print_captures ]; then
  for name in $CAPTURES; do
    for ext in jsonl out; do
      src=/tmp/case/$name/kernel.$ext
      [ "$ext" = out ] && src=/tmp/case/$name/replay.out
      echo "qv-file $name.$ext"
      base64 "$src"
      echo "qv-file-end"
    done
  done
fi

echo "usb cases: $failures failed"
[ "$failures" -eq 0 ]
