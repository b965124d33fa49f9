#!/bin/sh
# Times one two-stage update of an emulated T71 through the kernel's
# usb-storage at the drive's own clock (rate 1), in the QEMU guest the usb
# test boots, against the same update on a virtual PC whose waits follow the
# wall clock: the second is what the program's fixed waits and the drive's
# own times add up to, the first adds what usb-storage, dummy_hcd, the
# gadget server and the emulated CPU cost on top.
# Usage: sh bench/usb_two_stage.sh [BUILD_DIR]   (as root; about four minutes)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/relwithdebinfo}
ninja -C "$build" quorvanta quorvanta-sim qv_usb_drives >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
INIT="--os 98 --autoinsert 0 --drive 0:0:t71:usb --package t71"

# shellcheck disable=SC2086
"$build/quorvanta-sim" init "$scratch/pc" $INIT --realtime 1 >/dev/null
start=$(date +%s%N)
"$build/quorvanta" --machine "$scratch/pc" --ui headless --yes >"$scratch/pc.out" 2>&1
pc_ms=$((($(date +%s%N) - start) / 1000000))
grep -q 'Succeed to load F/W!!' "$scratch/pc.out" || { echo "the virtual PC's update failed"; exit 1; }

# The guest's clock is the one the program waits by there.
sh tests/kernel/usb_guest.sh "$build" "$(cat <<GUEST
SERVER=qv_usb_drives
CASES_LIB_ONLY=1
. /guest_cases.sh
quorvanta-sim init /tmp/pc $INIT > /dev/null
serve /tmp/pc 1
start=\$(uptime_cs)
(cd /tmp && QUORVANTA_STATE_DIR=/tmp/state quorvanta --package /tmp/pc/drive_c/Quorvanta --ui headless \
  --yes --family 98 > /tmp/usb.out 2>&1)
echo "qv-bench usb \$((\$(uptime_cs) - start))0 \$(grep -c 'Succeed to load F/W!!' /tmp/usb.out)"
unserve
GUEST
)" >"$scratch/guest.log" 2>&1
# shellcheck disable=SC2046 # the line's words
set -- $(grep '^qv-bench usb ' "$scratch/guest.log" | tr -d '\r')
[ "${4:-0}" = 1 ] || { echo "the update over usb-storage failed:"; tail -n 30 "$scratch/guest.log"; exit 1; }
usb_ms=$3
echo "two-stage update of a T71 at clock rate 1:"
echo "  virtual PC, waits on the wall clock: $((pc_ms / 1000)).$((pc_ms / 100 % 10)) s (the fixed waits and the drive's own times)"
echo "  through usb-storage in a TCG guest:  $((usb_ms / 1000)).$((usb_ms / 100 % 10)) s (the guest's clock)"
echo "  above the fixed waits:               $(((usb_ms - pc_ms) / 1000)).$(((usb_ms - pc_ms) / 100 % 10)) s"
