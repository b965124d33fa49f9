#!/bin/sh
# Runs inside the guest that kernel_guest.sh boots. Each case makes a virtual
# PC and runs the program twice on the same scenario: once on the virtual PC
# (virtual time), once on this host against the same PC's drives served
# through the kernel's SCSI target by qv_tcmu_drives (real sg nodes). The
# transcripts and the drives' state afterwards must agree.
#
# One update runs in real time; the others at REHEARSAL, the rate at which
# both the program's clock and the emulated drives run faster than the wall
# clock.
#
# Sourced with CASES_LIB_ONLY=1 and SERVER set (usb_cases.sh), it defines
# its functions for another drive server and runs no case.
set -u
REHEARSAL=10
SERVER=${SERVER:-qv_tcmu_drives}
failures=0
DIFFERS=""  # the one case whose outcome Linux itself changes (below)

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The drives of a PC as the kernel shows them, once they are all there.
wait_for_nodes() {  # COUNT
  i=0
  while [ "$(cat /sys/class/scsi_generic/sg*/device/model 2>/dev/null | grep -c '^T71\|^R305')" -ne "$1" ] && [ $i -lt 300 ]; do
    sleep 0.1; i=$((i + 1))
  done
}

serve() {  # DIR RATE
  rm -rf "$1.received" && mkdir -p "$1.received"
  "$SERVER" "$1" --rehearsal-clock-rate "$2" --record "$1.received" > /tmp/handler.out 2> /tmp/handler.err &
  HANDLER=$!
  i=0
  while ! grep -q '^ready$' /tmp/handler.out && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
  wait_for_nodes "$(ls "$1"/drives/*.drive | wc -l)"
}

unserve() {
  kill -TERM "$HANDLER"
  wait "$HANDLER" || fail "the drive server ended with $?: $(cat /tmp/handler.err)"
  wait_for_nodes 0
}

drive_lines() { quorvanta-sim show "$1" | grep '^drive '; }

uptime_cs() { tr -d . < /proc/uptime | cut -d' ' -f1; }

# The time the drive commands of a trace took, in seconds of the program's clock.
command_seconds() { sed -n 's/.* ms=\([0-9]*\).*/\1/p' "$1" | awk '{ t += $1 } END { printf "%.2f", t / 1000 }'; }

# case NAME RATE "INIT ARGS" "PROGRAM ARGS" [HOST-ONLY ARGS]
scenario() {
  name=$1 rate=$2 init=$3 args=$4 host_args=${5:-}
  dir=/tmp/case/$name
  rm -rf "$dir" && mkdir -p "$dir"
  # shellcheck disable=SC2086
  quorvanta-sim init "$dir/sim" $init > /dev/null || { fail "$name: init"; return; }
  cp -r "$dir/sim" "$dir/kernel"
  # shellcheck disable=SC2086
  quorvanta --machine "$dir/sim" $args --trace "$dir/sim.trace" > "$dir/sim.out" 2> "$dir/sim.err"
  echo "$?" > "$dir/sim.code"

  serve "$dir/kernel" "$rate"
  rate_arg=""
  [ "$rate" -ne 1 ] && rate_arg="--rehearsal-clock-rate $rate"
  start=$(uptime_cs)
  # Started outside the package's folder, which --package names.
  # shellcheck disable=SC2086
  (cd "$dir" &&
    QUORVANTA_STATE_DIR=$dir/state quorvanta --package "$dir/kernel/drive_c/Quorvanta" \
      $args $host_args $rate_arg --trace "$dir/kernel.trace" > "$dir/kernel.out" 2> "$dir/kernel.err")
  echo "$?" > "$dir/kernel.code"
  cs=$(($(uptime_cs) - start))
  unserve

  echo "== $name: $((cs / 100)).$((cs / 10 % 10)) s through the kernel at rate $rate;" \
    "drive commands took $(command_seconds "$dir/sim.trace") s of virtual time on the virtual PC," \
    "$(command_seconds "$dir/kernel.trace") s of the program's clock through the kernel"
  cat "$dir/kernel.out"
  grep -v '^ready$' /tmp/handler.out | sed 's/^/server: /'
  echo "BUSY answers the program saw: $(grep -c 'targ=0x08' "$dir/kernel.trace")"
  grep -v '^quorvanta: note: sleep and shutdown\|^quorvanta: note: rehearsal clock' "$dir/kernel.err" > "$dir/kernel.err.cut"
  if [ "$rate" -ne 1 ]; then
    grep -q "^quorvanta: note: rehearsal clock, $rate times as fast" "$dir/kernel.err" ||
      fail "$name: the rehearsal clock was not told"
  fi
  [ "$name" = "$DIFFERS" ] && return
  # Where a virtual PC shuts down, this host asks for the drive's power
  # cycle and looks at the drive again (power_cycle below): compared up to
  # the shutdown. The JSON list names this host's nodes besides.
  sed -e '/^power: shutdown$/q' -e 's/, "device": "[^"]*", "hctl": "[^"]*"//' \
    "$dir/kernel.out" > "$dir/kernel.cut"
  cmp -s "$dir/sim.out" "$dir/kernel.cut" || {
    fail "$name: the transcripts differ"
    diff "$dir/sim.out" "$dir/kernel.cut"
  }
  # After the shutdown this host goes on to look at the drive, which decides
  # its exit status: the caller checks it.
  if ! grep -q '^power: shutdown$' "$dir/kernel.out" && ! cmp -s "$dir/sim.code" "$dir/kernel.code"; then
    fail "$name: exit codes $(cat "$dir/sim.code") and $(cat "$dir/kernel.code")"
  fi
  [ -s "$dir/kernel.err.cut" ] && { echo "stderr:"; cat "$dir/kernel.err.cut"; }
  drive_lines "$dir/sim" > "$dir/sim.drives"
  drive_lines "$dir/kernel" > "$dir/kernel.drives"
  cat "$dir/kernel.drives"
  cmp -s "$dir/sim.drives" "$dir/kernel.drives" || {
    fail "$name: the drives' state differs"
    diff "$dir/sim.drives" "$dir/kernel.drives"
  }
}

# What drive A:T received through the kernel, against the program's trace:
# every command the program sent to the drive (all but those the sg driver
# turned away with no device there) was served, in order, with the same
# command block (up to the zero bytes a shorter block leaves off) and the
# same data length; the server's other commands are the kernel's own (the
# SCSI scan and sr_mod) or the midlayer's retries of the one before. The
# data-out that reached the drive is the package's image and loader data
# (the virtual PC's package unless PACKAGE_DIR names another).
expect_received() {  # NAME A:T [PACKAGE_DIR]
  dir=/tmp/case/$1
  served="$dir/kernel.received/$(echo "$2" | tr : _)"
  [ -s "$served.cdbs" ] || { fail "$1: the drive at $2 received nothing"; return; }
  awk -v at="$2" '
    BEGIN { n = 0; j = 0 }
    function norm(cdb) { while (cdb ~ / 00$/) sub(/ 00$/, "", cdb); return cdb }
    FNR == NR {
      if ($1 != at || / status=0x82 /) next
      cdb = ""
      for (i = 2; $i !~ /^dir=/; i++) cdb = cdb (cdb == "" ? "" : " ") ($i ~ /^cdb=/ ? substr($i, 5) : $i)
      len = $(i + 1)
      sent[n++] = norm(cdb) " " len
      next
    }
    {
      len = $NF
      $NF = ""
      got = norm(substr($0, 1, length($0) - 1)) " " len
      if (j < n && got == sent[j]) { last = got; j++; next }
      if (got == last) next
      split(got, op, " ")
      if (op[1] ~ /^(00|03|12|1A|1E|25|43|46|4A|51|5A|A0)$/) next
      printf "served but not sent: %s (next sent: %s)\n", got, sent[j]
      bad = 1
    }
    END {
      if (j < n) { printf "sent but not served: %s\n", sent[j]; bad = 1 }
      printf "%d commands sent, %d matched in what the drive served\n", n, j
      exit bad
    }' "$dir/kernel.trace" "$served.cdbs" || fail "$1: what the drive received differs from the trace"
  package=${3:-$dir/kernel/drive_c/Quorvanta}
  cmp "$served.image" "$package/Tellumar.bin" ||
    fail "$1: the image the drive received is not the package's"
  loader="$package/Tellmr.bin"
  if grep -q "^$2 cdb=CD .* dir=out " "$dir/kernel.trace"; then
    length=$(od -An -tu1 -j62 -N2 "$loader" | awk '{ print $1 * 256 + $2 }')
    tail -c +65 "$loader" | head -c "$length" | cmp - "$served.loader" ||
      fail "$1: the loader data the drive received is not the package's"
  fi
}

expect_in() {  # NAME FILE TEXT
  grep -qF -- "$3" "/tmp/case/$1/$2" || fail "$1: no '$3' in $2"
}

# The direct update's end on this host: once the transcript shows the
# shutdown that is not carried out, the drive's power is turned off and on
# (its LUN unlinked, the drive powered on, the LUN linked again), and the
# program finds it and reads its revision. A drive that takes the image but
# starts with its old firmware (returnrev) is reported as not updated.
power_cycle() {  # NAME DRIVE EXPECTED-LINE [HOST-ONLY ARGS]
  dir=/tmp/case/$1
  rm -rf "$dir" && mkdir -p "$dir"
  quorvanta-sim init "$dir/kernel" --os nt --drive "$2" --package "$(echo "$2" | cut -d: -f3)" > /dev/null ||
    { fail "$1: init"; return; }
  serve "$dir/kernel" "$REHEARSAL"
  (cd "$dir" && QUORVANTA_STATE_DIR=$dir/state quorvanta --package "$dir/kernel/drive_c/Quorvanta" \
    --family nt --ui headless --yes --rehearsal-clock-rate "$REHEARSAL" --trace "$dir/kernel.trace" ${4:-} \
    > "$dir/kernel.out" 2> "$dir/kernel.err") &
  program=$!
  i=0
  while ! grep -q '^power: shutdown$' "$dir/kernel.out" && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
  kill -USR1 "$HANDLER"
  wait "$program"
  echo "$?" > "$dir/kernel.code"
  unserve
  echo "== $1"
  cat "$dir/kernel.out"
  grep -v '^ready$' /tmp/handler.out | sed 's/^/server: /'
  # The looks after the write: each an INQUIRY, answered or not there.
  echo "looks for the drive: $(sed '1,/cdb=3B 07/d' "$dir/kernel.trace" | grep -c 'cdb=12 00 00')," \
    "$(sed '1,/cdb=3B 07/d' "$dir/kernel.trace" | grep 'cdb=12 00 00' | grep -vc 'status=0x01') of them unanswered"
  grep -q '^0:0 power cycled$' /tmp/handler.out || fail "$1: the drive's power was not cycled"
  # Once it was gone, the first answer decides: no waiting out the two minutes.
  [ "$(sed '1,/cdb=3B 07/d' "$dir/kernel.trace" |
    awk '/cdb=12 00 00/ { if ($0 ~ /status=0x01/) { if (gone) n++ } else gone = 1 } END { print n + 0 }')" = 1 ] ||
    fail "$1: the drive was not told back at its first answer"
  expect_in "$1" kernel.out "$3"
  # A drive still on its old firmware is a failed update.
  want=0
  case $3 in *"did not take."*) want=1 ;; esac
  [ "$(cat "$dir/kernel.code")" = "$want" ] || fail "$1: exit code $(cat "$dir/kernel.code"), not $want"
}

[ -n "${CASES_LIB_ONLY:-}" ] && return 0

# Discovery: two drives of both models, each on a host of its own.
TWO="--os 98 --autoinsert 0 --drive 0:0:t71:usb:code=0x11 --drive 1:0:r305:usb:rev=1.20,code=0x13"
scenario list "$REHEARSAL" "$TWO" "--list"
expect_in list kernel.out "$(printf '1:0\tR305 CDRW USB\t1.20\t13\tUSB')"
scenario list_json "$REHEARSAL" "$TWO" "--list --json"
grep -q '"address": "1:0", .*"device": "/dev/sg[0-9]*", "hctl": "[0-9]*:0:0:0"}' /tmp/case/list_json/kernel.out ||
  fail "list_json: no node and kernel address for 1:0"

# The two-stage update, in real time, which this host runs unless told
# otherwise: the drive's revision and version code afterwards come from its
# state file.
T71="--os 98 --autoinsert 0 --drive 0:0:t71:usb --package t71"
# It is recorded, and the capture replays on a virtual PC with its transcript.
scenario two_stage "${REAL_TIME_RATE:-1}" "$T71" "--ui headless --yes" \
  "--family 98 --record /tmp/case/two_stage/kernel.jsonl"
expect_in two_stage kernel.out "message: Succeed to load F/W!!"
expect_in two_stage kernel.drives "drive 0:0 T71 CDRW USB rev=1.10 code=0x12"
expect_in two_stage kernel.trace "0:0 cdb=CD FF"
expect_received two_stage 0:0
# This host's history: the one update, with the revisions the drive reported.
QUORVANTA_STATE_DIR=/tmp/case/two_stage/state quorvanta --history > /tmp/case/two_stage/history.out ||
  fail "two_stage: --history exit code $?"
tail -n +2 /tmp/case/two_stage/history.out | cut -c23- > /tmp/case/two_stage/history.rows
printf '0:0    T71 CDRW USB      1.00 -> 1.10    updated\n' | cmp -s - /tmp/case/two_stage/history.rows ||
  { fail "two_stage: the history"; cat /tmp/case/two_stage/history.out; }
quorvanta-sim replay /tmp/case/two_stage/kernel.jsonl > /tmp/case/two_stage/replay.out \
  2> /tmp/case/two_stage/replay.err || fail "two_stage: the capture did not replay: $(cat /tmp/case/two_stage/replay.err)"
cmp -s /tmp/case/two_stage/kernel.out /tmp/case/two_stage/replay.out || fail "two_stage: the replay's transcript differs"
cat /tmp/case/two_stage/replay.err

# A rehearsal on the drive's twin, from read-only questions alone, then the
# real update: it ends as the rehearsal said, and the rehearsal left the
# drive as it was and sent it no write.
dir=/tmp/case/rehearse
rm -rf "$dir" && mkdir -p "$dir"
# shellcheck disable=SC2086
quorvanta-sim init "$dir/kernel" $T71 > /dev/null || fail "rehearse: init"
serve "$dir/kernel" "$REHEARSAL"
drive_lines "$dir/kernel" > "$dir/before.drives"
(cd "$dir/kernel/drive_c/Quorvanta" &&
  QUORVANTA_STATE_DIR=$dir/state quorvanta --rehearse --family 98 --rehearsal-clock-rate "$REHEARSAL" \
    --trace "$dir/rehearse.trace" > "$dir/rehearse.out" 2> "$dir/rehearse.err") || fail "rehearse: exit code $?"
drive_lines "$dir/kernel" > "$dir/after.drives"
(cd "$dir/kernel/drive_c/Quorvanta" &&
  QUORVANTA_STATE_DIR=$dir/state quorvanta --family 98 --ui headless --yes --rehearsal-clock-rate "$REHEARSAL" \
    > "$dir/real.out" 2> "$dir/real.err")
unserve
echo "== rehearse:"
cat "$dir/rehearse.out"
cmp -s "$dir/before.drives" "$dir/after.drives" || fail "rehearse: the drive changed during the rehearsal"
grep -q 'cdb=3B\|cdb=CD' "$dir/rehearse.trace" && fail "rehearse: a write reached the drive"
grep -E '^rehearsal: (dialog|message|answer|note|power): ' "$dir/rehearse.out" | sed 's/^rehearsal: //' > "$dir/predicted.out"
grep -q "^rehearsal: outcome: Succeed to load F/W!!" "$dir/rehearse.out" || fail "rehearse: no outcome told"
cmp -s "$dir/predicted.out" "$dir/real.out" || {
  fail "rehearse: the real update went otherwise than rehearsed"
  diff "$dir/predicted.out" "$dir/real.out"
}

# The NT family's direct update.
scenario direct_nt "$REHEARSAL" "--os nt --drive 0:0:r305:usb --package r305" "--ui headless --yes" \
  "--family nt"
expect_in direct_nt kernel.out "power: shutdown"
# Nobody turned the drive off and on: after two minutes of looking it still
# runs the old firmware.
expect_in direct_nt kernel.out "message: The drive still reports its old firmware revision 1.00: the update did not take."
[ "$(cat /tmp/case/direct_nt/kernel.code)" = 1 ] || fail "direct_nt: exit code $(cat /tmp/case/direct_nt/kernel.code), not 1"
expect_received direct_nt 0:0

# The fault knobs that matter on a real bus.
scenario timeout "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:t71:usb:hang=0x3B --package t71" \
  "--ui headless --yes" "--family 98"
grep -q '^0:0 cdb=3B .* timeout$' /tmp/case/timeout/kernel.trace || fail "timeout: no WRITE BUFFER timed out"
# A BUSY answer never reaches a program through sg: the SCSI midlayer sends
# the command again itself (for as long as the command's own time-out). The
# direct path, which retries BUSY chunks anyway, ends the same; the loader
# path, which gives up at the first BUSY on Windows, succeeds on Linux.
scenario busy_direct "$REHEARSAL" "--os nt --drive 0:0:t71:usb:busy=3@5 --package t71" "--ui headless --yes" \
  "--family nt"
grep -q '^0:0 answered [0-9]* commands, 3 of them BUSY$' /tmp/handler.out || fail "busy_direct: the drive did not answer BUSY 3 times"
DIFFERS=busy_loader
scenario busy_loader "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:t71:usb:busy=3@5 --package t71" \
  "--ui headless --yes" "--family 98"
expect_in busy_loader sim.out "message: Error: Can't accept loader CMD!"
expect_in busy_loader kernel.out "message: Succeed to load F/W!!"
grep -q '^0:0 answered [0-9]* commands, 3 of them BUSY$' /tmp/handler.out || fail "busy_loader: the drive did not answer BUSY 3 times"
grep -q 'targ=0x08' /tmp/case/busy_loader/kernel.trace && fail "busy_loader: a BUSY reached the program"
scenario powerloss "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:t71:usb:powerloss=100 --package t71" \
  "--ui headless --yes" "--family 98"
grep -q '^0:0 unlinked' /tmp/handler.out || fail "powerloss: the drive stayed on its host"
scenario noreturn "$REHEARSAL" "--os 98 --autoinsert 0 --drive 0:0:t71:usb:noreturn=1 --package t71" \
  "--ui headless --yes" "--family 98"
expect_in noreturn kernel.out "message: Error: No device could be detected."

# The direct update ended by a power cycle by hand.
power_cycle power_cycle 0:0:t71:usb \
  "message: The drive now reports the package's firmware revision 1.10: the update took."
power_cycle power_cycle_old 0:0:t71:usb:returnrev=1.00 \
  "message: The drive still reports its old firmware revision 1.00: the update did not take."

echo "kernel cases: $failures failed"
[ "$failures" -eq 0 ]
