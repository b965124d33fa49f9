#!/bin/sh
# Scripted users of the headless view: declining sends no drive command, the
# Japanese PC shows the Japanese templates, and bad scripts or failed
# expectations end with exit code 2 and a message naming the line.
# Usage: sh dialogs_script.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=dialogs_script
. "$(dirname "$0")/lib/common.sh"
"$SIM" init "$WORK/us" >/dev/null || fail "init us"
"$SIM" init "$WORK/jp" --lang 0x0411 >/dev/null || fail "init jp"

cat >"$WORK/decline.qvs" <<'SCRIPT'
expect template KYODAKUUS
click NEXT
key pagedown 20
expect enabled Accept
click "Do not Accept"
click NEXT
expect no-message
SCRIPT
"$QV" --machine "$WORK/us" --ui headless --script "$WORK/decline.qvs" --trace "$WORK/trace.txt" \
  >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ "$rc" = 0 ] || { fail "declining gave exit code $rc"; cat "$WORK/err.txt"; }
[ -s "$WORK/trace.txt" ] && fail "declining sent drive commands"
[ "$(cat "$WORK/out.txt")" = "dialog: Quorvanta        Ver. 1.0" ] ||
  { fail "declining transcript"; cat "$WORK/out.txt"; }

cat >"$WORK/jp.qvs" <<'SCRIPT'
expect template KYODAKU
scroll end
click 1004
click NEXT
expect template MainDialog
expect text 1003 USB
expect checked 1003
click EXIT
SCRIPT
"$QV" --machine "$WORK/jp" --ui headless --script "$WORK/jp.qvs" >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ "$rc" = 0 ] || { fail "Japanese run gave exit code $rc"; cat "$WORK/err.txt"; }

printf 'scroll end\nclick Accept\nclick NEXT\nexpect text 1003 ATAPI\n' >"$WORK/wrong.qvs"
"$QV" --machine "$WORK/us" --ui headless --script "$WORK/wrong.qvs" >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ "$rc" = 2 ] || fail "a failed expectation gave exit code $rc"
grep -qF "wrong.qvs:4: expected text \"ATAPI\", found \"USB\"" "$WORK/err.txt" ||
  { fail "failed expectation message"; cat "$WORK/err.txt"; }

printf 'click\n' >"$WORK/bad.qvs"
"$QV" --machine "$WORK/us" --ui headless --script "$WORK/bad.qvs" >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ "$rc" = 2 ] || fail "a bad script gave exit code $rc"
grep -qF "bad.qvs:1: wrong number of words for 'click'" "$WORK/err.txt" ||
  { fail "bad script message"; cat "$WORK/err.txt"; }
[ -s "$WORK/out.txt" ] && fail "a bad script still ran the program"

finish
