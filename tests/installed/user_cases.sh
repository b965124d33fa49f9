#!/bin/sh
# Runs as root inside the Debian 12 that installed_guest.sh boots, once
# systemd has started udev. Root only plays the hardware (dummy_hcd's
# ports, the drives served by qv_usb_drives) and the administrator who
# makes the users; the program runs as those users, from the packages apt
# installed, in login shells, on the nodes udev made. The drive server's
# record of what each drive received is held against the program's trace and
# the user's package (the kernel cases' checks, guest_cases.sh).
set -u
export PATH=/opt/qv-test:$PATH
# shellcheck disable=SC2034 # read by guest_cases.sh
SERVER=qv_usb_drives CASES_LIB_ONLY=1
# shellcheck source=../kernel/guest_cases.sh
. /opt/qv-test/guest_cases.sh
# On tmpfs: the root is shared over 9p, which holds no sockets.
# shellcheck disable=SC2034 # read by tmux_pane.sh
TMUX_SOCKET=/run/qv-keys.sock PANE_SECONDS=300
# shellcheck source=../support/tmux_pane.sh
. /opt/qv-test/tmux_pane.sh

# A login shell of USER running COMMAND.
as() {  # USER COMMAND
  runuser -l "$1" -c "$2"
}
seconds() { cut -d. -f1 /proc/uptime; }
echo "== up after $(seconds) s; udev: $(systemctl is-active systemd-udevd)"

# The ports and the drives: the emulated R305 and T71, at 1.00, plugged in
# in that order (and again in that order after the direct update's unplug),
# so that the T71, which restarts alone in its two-stage updates, comes back
# as the newer SCSI host again and keeps its place in the program's list:
# the trace then names each drive by one address throughout.
modprobe -a usb_f_fs && modprobe dummy_hcd num=2 || fail "the USB gadget modules"
PC=/var/lib/qv-drives
quorvanta-sim init "$PC" --os 98 --autoinsert 0 --drive 0:0:r305:usb --drive 1:0:t71:usb --package none \
  >/dev/null || fail "quorvanta-sim init"

# Each case its own session of the drive server, its record in
# /tmp/case/NAME/kernel.received. The updates run at a rehearsal clock rate
# of 5: a drive that restarts comes back as a new node, which udev gives to
# the cdrom group only some time after the kernel made it (seconds, in a
# busy guest), and the two-stage path looks for the drive once its fixed
# wait is over; a user's program finding the node still root's own sees no
# drive.
plug_in() {  # NAME RATE
  mkdir -p "/tmp/case/$1"
  ln -sfn "$PC" "/tmp/case/$1/kernel"
  serve "/tmp/case/$1/kernel" "$2"
  udevadm settle
}

# The users, as an administrator makes them.
adduser --disabled-password --gecos "" alice >/dev/null && adduser alice cdrom >/dev/null &&
  adduser --disabled-password --gecos "" bob >/dev/null || fail "adduser"

# ---- both drives listed, on udev's nodes
plug_in list 10
ls -l /dev/sg* | sed 's/^/node: /'
for node in $(grep -l '^5$' /sys/class/scsi_generic/sg*/device/type | cut -d/ -f5); do
  [ "$(stat -c '%A %G' "/dev/$node")" = "crw-rw---- cdrom" ] || fail "udev: /dev/$node is $(stat -c '%A %G' "/dev/$node")"
done
as alice 'quorvanta --list' >/tmp/case/list/kernel.out 2>&1 || fail "list: exit code $?"
cat /tmp/case/list/kernel.out
expect_in list kernel.out "$(printf '0:0\tR305 CDRW USB\t1.00')"
expect_in list kernel.out "$(printf '1:0\tT71 CDRW USB\t1.00')"

# ---- a user outside the cdrom group: told why, and no drive hears of it
# (but for the kernel's polling for a disc: TEST UNIT READY, GET EVENT
# STATUS, and usb-storage's REQUEST SENSE after them)
received() { cat /tmp/case/list/kernel.received/*.cdbs 2>/dev/null | grep -v '^\(00\|03\|4A\) '; }
received >/tmp/case/list/before
as bob 'quorvanta-sim pack t71 --model t71 --rev 1.10 >/dev/null && cd t71 && quorvanta --ui headless --yes' \
  >/tmp/case/list/bob.out 2>/tmp/case/list/bob.err
echo $? >/tmp/case/list/bob.code
unserve
echo "== bob (not in cdrom): exit $(cat /tmp/case/list/bob.code)"
cat /tmp/case/list/bob.out /tmp/case/list/bob.err
expect_in list bob.out "message: Error: No device could be detected."
grep -A3 'No device could be detected' /tmp/case/list/bob.out | grep -q cdrom ||
  fail "bob: the box names no permission (the cdrom group)"
[ "$(cat /tmp/case/list/bob.code)" = 4 ] || fail "bob: exit code $(cat /tmp/case/list/bob.code), not 4"
received | cmp -s - /tmp/case/list/before || fail "bob: a command reached a drive"

# ---- the T71 by the two-stage path
start=$(seconds)
plug_in t71_two_stage 5
as alice 'quorvanta-sim pack t71 --model t71 --rev 1.10 >/dev/null && cd t71 &&
  quorvanta --ui headless --yes --drive 1:0 --rehearsal-clock-rate 5 --trace ~/t71.trace' \
  >/tmp/case/t71_two_stage/kernel.out 2>&1 || fail "t71_two_stage: exit code $?"
unserve
echo "== t71_two_stage: $(($(seconds) - start)) s"
cat /tmp/case/t71_two_stage/kernel.out
cp /home/alice/t71.trace /tmp/case/t71_two_stage/kernel.trace
expect_in t71_two_stage kernel.out "message: Succeed to load F/W!!"
expect_in t71_two_stage kernel.trace "1:0 cdb=CD FF"
expect_received t71_two_stage 1:0 /home/alice/t71

# ---- the R305 by the direct path, ended by a real unplug and plug-in
start=$(seconds)
plug_in r305_direct 5
dir=/tmp/case/r305_direct
as alice 'quorvanta-sim pack r305 --model r305 --rev 1.10 >/dev/null && cd r305 &&
  quorvanta --ui headless --yes --drive 0:0 --family nt --rehearsal-clock-rate 5 --trace ~/r305.trace' \
  >"$dir/kernel.out" 2>&1 &
program=$!
i=0
while ! grep -q '^power: shutdown$' "$dir/kernel.out" && kill -0 "$program" 2>/dev/null && [ $i -lt 1800 ]; do
  sleep 0.1
  i=$((i + 1))
done
kill -USR1 "$HANDLER"
wait "$program" || fail "r305_direct: exit code $?"
unserve
echo "== r305_direct: $(($(seconds) - start)) s"
cat "$dir/kernel.out"
grep -v '^ready$' /tmp/handler.out | sed 's/^/server: /'
# Held against the record up to the last chunk of the image: once both
# drives are unplugged, udev may not yet have given a node back to the
# cdrom group when the program looks, and the program then numbers the one
# it can open 0:0 for that look.
last=$(grep -n 'cdb=3B' /home/alice/r305.trace | tail -n 1 | cut -d: -f1)
head -n "${last:-0}" /home/alice/r305.trace >"$dir/kernel.trace"
expect_in r305_direct kernel.out \
  "message: The drive now reports the package's firmware revision 1.10: the update took."
grep -q '^0:0 unplugged' /tmp/handler.out || fail "r305_direct: the drive was not unplugged"
[ "$(grep -c '^0:0 plugged in' /tmp/handler.out)" -ge 2 ] || fail "r305_direct: the drive was not plugged in again"
expect_received r305_direct 0:0 /home/alice/r305

# ---- the terminal view in tmux, by keys: the T71 on to 1.20
start=$(seconds)
plug_in terminal 5
as alice 'quorvanta-sim pack t71-next --model t71 --rev 1.20 >/dev/null' || fail "terminal: pack"
if tm -f /dev/null new-session -d -x 80 -y 24 "runuser -l alice -c 'cd t71-next && \
TERM=screen quorvanta --ui terminal --rehearsal-clock-rate 5 --trace ~/terminal.trace'; echo exit=\$?; sleep 600"; then
  update_by_keys "Drive 2 of 2: T71 CDRW USB at adapter 1, target 0" && wait_pane "exit=0" "the end of the run"
else
  fail "terminal: no tmux session"
fi
tm kill-server
unserve
echo "== terminal: $(($(seconds) - start)) s"
cp /home/alice/terminal.trace /tmp/case/terminal/kernel.trace
expect_received terminal 1:0 /home/alice/t71-next

# ---- what the user has afterwards
drive_lines "$PC"
drive_lines "$PC" | grep -q '^drive 1:0 T71 CDRW USB rev=1.20 ' || fail "the T71 does not hold 1.20"
drive_lines "$PC" | grep -q '^drive 0:0 R305 CDRW USB rev=1.10 ' || fail "the R305 does not hold 1.10"
as alice 'quorvanta --history' >/tmp/history.out 2>&1 || fail "history: exit code $?"
cat /tmp/history.out
for at in 0:0 1:0; do
  grep -F "$at" /tmp/history.out | grep -F "1.00 -> 1.10" | grep -q updated ||
    fail "history: no update of $at from 1.00 to 1.10"
done
state=/home/alice/.local/state/quorvanta
[ "$(stat -c '%a %U' "$state")" = "700 alice" ] || fail "state directory: $(stat -c '%a %U' "$state" 2>&1)"
ls -la "$state"

echo "installed cases: $failures failed, $(seconds) s after boot"
[ "$failures" -eq 0 ]
