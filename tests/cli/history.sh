#!/bin/sh
# What a scripted run's exit status and the update history say after each
# way an update can end, on virtual PCs: updated, already up to date, a
# WRITE BUFFER that never answers, no drive, the update carried across a
# restart (one entry), a second copy started during a real-time write and
# the first one killed in the middle of it (interrupted), and a damaged line
# in the history (skipped with one note).
# Usage: sh history.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=history
. "$(dirname "$0")/lib/common.sh"

# The history's table row of the newest entry, without its time.
last_row() {  # PC
  "$QV" --history --machine "$1" 2>"$1.history.err" | tail -n +2 | tail -n 1 | cut -c23-
}

# ROW SIM-INIT-ARGS RUNS STATUS ENTRIES LAST-ROW ("" for no entry)
while IFS='|' read -r row init runs status entries want; do
  pc="$WORK/$row"
  # shellcheck disable=SC2086
  "$SIM" init "$pc" $init >/dev/null || fail "$row: init"
  for _ in $(seq 1 "$runs"); do
    "$QV" --machine "$pc" --ui headless --yes >"$pc.out" 2>"$pc.err"
    got=$?
  done
  [ "$got" = "$status" ] || { fail "$row: exit status $got, not $status"; cat "$pc.out" "$pc.err"; }
  got=$(last_row "$pc")
  [ "$got" = "$want" ] || fail "$row: the newest entry reads '$got', not '$want'"
  n=$("$QV" --history --json --machine "$pc" | grep -c '"time"')
  [ "$n" = "$entries" ] || fail "$row: $n entries, not $entries"
done <<'ROWS'
updated||1|0|1|0:0    T71 CDRW USB      1.00 -> 1.10    updated
up-to-date|--os nt|2|0|2|0:0    T71 CDRW USB      1.10 -> 1.10    up-to-date
write-hangs|--drive 0:0:t71:usb:hang=0x3B|1|1|1|0:0    T71 CDRW USB      1.00 -> -       failed
no-drive|--drive none|1|4|0|
ROWS

# The entry in full: the drive as it was before and as read after, the
# checked image's digest, the path and the message shown.
image="$WORK/updated/drive_c/Quorvanta/$(head -n 1 "$WORK/updated/drive_c/Quorvanta/Tellumar.inf" | tr -d '\r')"
digest=$(sha256sum "$image" | cut -d' ' -f1)
"$QV" --history --json --machine "$WORK/updated" | sed -n 2p | sed 's/"time": "[^"]*"/"time": T/' >"$WORK/entry.txt"
printf '%s\n' "  {\"time\": T, \"address\": \"0:0\", \"product\": \"T71 CDRW USB\", \"link\": \"USB\", \"revision_before\": \"1.00\", \"version_code_before\": \"11\", \"revision_after\": \"1.10\", \"version_code_after\": \"12\", \"package_revision\": \"1.10\", \"image_sha256\": \"$digest\", \"path\": \"two-stage\", \"outcome\": \"Succeed to load F/W!!\", \"result\": \"updated\"}" >"$WORK/entry.want"
cmp -s "$WORK/entry.txt" "$WORK/entry.want" || { fail "the updated entry"; diff "$WORK/entry.want" "$WORK/entry.txt"; }

# Across a restart: the run that asked for it records nothing, the run
# after it one entry of the restart path.
make_restart_pc "$SIM" "$WORK/restart"
"$SIM" run "$WORK/restart" --yes >"$WORK/restart.out" 2>&1 || fail "restart: sim run exit status $?"
"$QV" --history --json --machine "$WORK/restart" >"$WORK/restart.json"
[ "$(grep -c '"time"' "$WORK/restart.json")" = 1 ] || { fail "restart: not one entry"; cat "$WORK/restart.json"; }
grep -q '"path": "restart", "outcome": "", "result": "updated"' "$WORK/restart.json" ||
  { fail "restart: the entry"; cat "$WORK/restart.json"; }

# A real-time write with a slow save: once its entry is on the disk as
# interrupted, a second copy ends at once with 3 and one line; the first,
# killed there, leaves its entry interrupted.
pc="$WORK/killed"
"$SIM" init "$pc" --os nt --realtime 1 --drive '0:0:t71:usb:savetime=60000' >/dev/null || fail "killed: init"
"$QV" --machine "$pc" --ui headless --yes >"$pc.out" 2>&1 &
pid=$!
i=0
while [ $i -lt 400 ] && ! grep -qs '"interrupted"' "$pc/drive_c/WINDOWS/quorvanta-history.jsonl"; do
  sleep 0.05
  i=$((i + 1))
done
"$QV" --machine "$pc" --ui headless --yes >"$WORK/second.out" 2>"$WORK/second.err"
got=$?
[ "$got" = 3 ] || fail "second copy: exit status $got, not 3"
printf 'quorvanta: another copy of the program is running\n' >"$WORK/second.want"
cmp -s "$WORK/second.err" "$WORK/second.want" || { fail "second copy: standard error"; cat "$WORK/second.err"; }
kill -9 "$pid"
wait "$pid" 2>/dev/null
got=$(last_row "$pc")
[ "$got" = "0:0    T71 CDRW USB      1.00 -> -       interrupted" ] || fail "killed: the entry reads '$got'"

# A damaged line (a write cut short by a power cut, then a later entry):
# skipped with one note, the entries around it listed.
history="$WORK/up-to-date/drive_c/WINDOWS/quorvanta-history.jsonl"
sed -i '1a {"time":"2026-01-01T00:00:00Z","address":"0:0","prod' "$history"
"$QV" --history --machine "$WORK/up-to-date" >"$WORK/damaged.out" 2>"$WORK/damaged.err"
got=$?
[ "$got" = 0 ] || fail "damaged line: exit status $got"
[ "$(grep -c ' 0:0 ' "$WORK/damaged.out")" = 2 ] || { fail "damaged line: not both entries"; cat "$WORK/damaged.out"; }
[ "$(wc -l <"$WORK/damaged.err")" = 1 ] && grep -q 'damaged line.*line 2' "$WORK/damaged.err" ||
  { fail "damaged line: not one note naming it"; cat "$WORK/damaged.err"; }

finish
