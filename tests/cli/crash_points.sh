#!/bin/sh
# The program killed at every call that touches the PC's own state (the
# registry and C:\WINDOWS), one launch at a time: the restart preparation of
# a fresh launch, the clean-ups of the resumed launch that updates the drive,
# and start-up's clean-up of a resumed launch whose package is damaged; and
# each file or registry call of a fresh launch failing in turn. After each
# kill or failure the PC is booted and run on with the autopilot; in every case the
# registry must still read, both auto-insert values be back at 1, no Run
# entry and no launch file be left (a registry resume file alone may stay: it
# only holds the values the registry has again), and where the package is
# whole the drive ends up updated, at the latest after one more start.
# The virtual PC is deterministic, so a kill that leaves the very same state
# as the one before it is not run on again.
# Usage: sh crash_points.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=crash_points
. "$(dirname "$0")/lib/common.sh"

# Every point in a plain build; a sanitizer build, slower by far and there
# to catch memory faults rather than lost settings, takes every fifth.
stride=1
grep -q __asan_init "$QV" && stride=5

make_restart_pc "$SIM" "$WORK/fresh"

# The same PC right after the restart: prepared, the Run entry written.
cp -r "$WORK/fresh" "$WORK/prepared"
"$QV" --machine "$WORK/prepared" --ui headless --yes >/dev/null 2>&1 || fail "preparation"
"$SIM" show "$WORK/prepared" | grep -q '^run Quorvanta=' || fail "the preparation wrote no Run entry"

# ... and with its firmware image cut short.
cp -r "$WORK/prepared" "$WORK/damaged"
truncate -s 1000 "$WORK/damaged/drive_c/Quorvanta/Tellumar.bin"

# The state a launch leaves behind: the registry, C:\WINDOWS, the power log
# and the drives.
state_of() {
  for f in "$1/registry.reg" "$1/power.log" "$1/drives/"* "$1/drive_c/WINDOWS/"*; do
    [ -f "$f" ] && echo "$f" && cat "$f"
  done | cksum
}
# Boots the PC at $2 after what happened to it ($1 names it) and runs on
# with the autopilot, unless the state it was left in was met just before;
# then checks what must hold. $3 = 1: the drive must end up updated.
run_on_and_check() {
  state=$(state_of "$2")
  [ "$state" = "$previous" ] && return
  previous=$state
  states=$((states + 1))
  "$SIM" run "$2" --yes >"$WORK/after-$phase.txt" 2>&1
  rc=$?
  # A damaged package is refused (2), whatever the kill left behind.
  if [ "$3" = 0 ]; then
    [ "$rc" = 2 ] || fail "$1: the next boot's run gave exit status $rc, not 2"
  elif ! "$SIM" show "$2" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 '; then
    # A launch file that was made but not yet written makes the next start
    # a resumed one with nothing to resume: it says so, cleans up (its
    # package named nowhere, exit status 2), and the start after it updates.
    grep -q '^message: Failed' "$WORK/after-$phase.txt" || fail "$1: no update and no message"
    [ "$rc" = 2 ] || fail "$1: the run that cleaned up gave exit status $rc"
    echo "$1: the next run showed a failure message and cleaned up; one more start updates"
    "$SIM" run "$2" --yes >"$WORK/after-$phase.txt" 2>&1 || fail "$1: the second run failed"
  else
    [ "$rc" = 0 ] || fail "$1: the next boot's run updated the drive with exit status $rc"
  fi
  if ! "$SIM" show "$2" >"$WORK/show-$phase.txt" 2>&1; then
    fail "$1: the PC no longer opens"
    cat "$WORK/show-$phase.txt"
    return
  fi
  for line in 'autoinsert Enum\SCSI\VANTROS_T71_CDRW_USB\ATAPI&A0&T0 01' \
    'autoinsert Enum\SCSI\VANTROS_T71_CDRW_USB\USBSTOR&A0&T0 01' \
    'resume C:\WINDOWS\Tellmr2.DAT absent' 'run Quorvanta absent'; do
    grep -qxF "$line" "$WORK/show-$phase.txt" || fail "$1: missing '$line'"
  done
  if [ "$3" = 1 ]; then
    grep -q '^drive 0:0 T71 CDRW USB rev=1.10 ' "$WORK/show-$phase.txt" || fail "$1: drive not updated"
  fi
  if grep -qxF 'resume C:\WINDOWS\Tellmr1.DAT present' "$WORK/show-$phase.txt"; then
    echo "$1: a registry resume file stayed behind"
  fi
}

# PHASE TEMPLATE RUN-ENTRY(0|1) UPDATED(0|1); the launch without a kill
# ends with 0, or with 2 where the package is damaged.
crash_phase() {
  phase=$1
  n=1
  previous=none
  total=0
  states=0
  while :; do
    pc="$WORK/pc-$phase"
    rm -rf "$pc"
    cp -r "$WORK/$2" "$pc"
    if [ "$3" = 1 ]; then
      QUORVANTA_SIM_RUN_ENTRY='C:\Quorvanta\Quorvanta.exe' QUORVANTA_SIM_DIE_AT=$n \
        "$QV" --machine "$pc" --ui headless --yes >"$WORK/killed-$phase.txt" 2>&1
    else
      QUORVANTA_SIM_DIE_AT=$n "$QV" --machine "$pc" --ui headless --yes >"$WORK/killed-$phase.txt" 2>&1
    fi
    rc=$?
    [ "$rc" = 137 ] || break  # the launch ran to its end: every call was tried
    total=$((total + 1))
    run_on_and_check "$phase@$n" "$pc" "$4"
    n=$((n + stride))
  done
  whole=0
  [ "$4" = 0 ] && whole=2
  [ "$rc" = "$whole" ] || fail "$phase: the launch without a kill gave exit code $rc"
  echo "$phase: $total crash points, leaving $states different states"
}

# One file or registry call of a fresh launch failing at a time (the PC's
# fail= knob, counted from power-on): a restart that was agreed to and did
# not happen must have said "Failed to update the firmware. ...".
failure_phase() {
  phase=failures
  previous=none
  total=0
  states=0
  for call in registry.open registry.info registry.enum registry.query registry.set \
    registry.close registry.delete files.create files.write files.close files.open; do
    for n in $(seq 1 "$stride" 16); do
      pc="$WORK/pc-$phase"
      rm -rf "$pc"
      cp -r "$WORK/fresh" "$pc"
      echo "fail=$call@$n" >>"$pc/machine.ini"
      # A restart that could not be prepared is a failed update (1).
      "$QV" --machine "$pc" --ui headless --yes >"$WORK/first-$phase.txt" 2>&1
      rc=$?
      case $rc in
        0) ;;
        1) grep -q '^message: Failed to update the firmware' "$WORK/first-$phase.txt" ||
          fail "$call@$n: exit status 1 without a failure message" ;;
        # A package file that could not be opened is a refused package (2).
        2) grep -q '^message: Error' "$WORK/first-$phase.txt" ||
          fail "$call@$n: exit status 2 without the package's message" ;;
        *) fail "$call@$n: exit status $rc" ;;
      esac
      if grep -q '^message: You must restart' "$WORK/first-$phase.txt" &&
        ! grep -q '^power: restart' "$WORK/first-$phase.txt"; then
        grep -q '^message: Failed to update the firmware' "$WORK/first-$phase.txt" ||
          fail "$call@$n: a restart that did not happen said nothing"
      fi
      sed -i '/^fail=/d' "$pc/machine.ini"
      total=$((total + 1))
      run_on_and_check "$call@$n" "$pc" 1
    done
  done
  echo "$phase: $total failing calls, leaving $states different states"
}

# The phases run side by side; each reports into its own log.
crash_phase preparation fresh 0 1 >"$WORK/preparation.log" 2>&1 &
crash_phase resumed prepared 1 1 >"$WORK/resumed.log" 2>&1 &
crash_phase damaged damaged 1 0 >"$WORK/damaged.log" 2>&1 &
failure_phase >"$WORK/failures.log" 2>&1 &
wait
for phase in preparation resumed damaged failures; do
  cat "$WORK/$phase.log"
  grep -q "^$phase: [0-9]* " "$WORK/$phase.log" || fail "$phase did not finish"
  failures=$((failures + $(grep -c '^FAIL:' "$WORK/$phase.log")))
done
total=0
for count in $(sed -n 's/^[a-z]*: \([0-9]*\) crash points.*/\1/p' "$WORK/"*.log); do
  total=$((total + count))
done
echo "crash points tried: $total"
[ "${total:-0}" -gt $((300 / stride)) ] || fail "too few crash points were reached ($total)"

finish
