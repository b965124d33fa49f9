#!/bin/sh
# quorvanta-sim run: boots the program, and after a restart request boots
# again and starts what the Run entry names, until a run ends without one.
# A stand-in program next to a copy of quorvanta-sim plays the part of the
# real one, so only the launcher's loop is under test here.
# Usage: sh sim_run.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
SIM_BIN=$2
test_name=sim_run
. "$(dirname "$0")/lib/common.sh"

mkdir "$WORK/bin"
cp "$SIM_BIN" "$WORK/bin/quorvanta-sim"
SIM="$WORK/bin/quorvanta-sim"
# The stand-in: on a user's start it writes the Run entry and asks for a
# restart (MODE=restart) or only a restart without a Run entry
# (MODE=norun); started from the Run entry it asks for a shutdown.
cat >"$WORK/bin/quorvanta" <<'FAKE'
#!/bin/sh
DIR=$2
echo "args: $* entry=${QUORVANTA_SIM_RUN_ENTRY:-none}" >>"$DIR/../calls.txt"
MODE=$(cat "$DIR/../mode")
if [ "$MODE" = loop ] || [ -z "$QUORVANTA_SIM_RUN_ENTRY" ]; then
  if [ "$MODE" != norun ]; then
    printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run]\r\n"Quorvanta"="C:\\\\Quorvanta\\\\Quorvanta.exe"\r\n' >>"$DIR/registry.reg"
  fi
  echo restart >>"$DIR/power.log"
else
  echo shutdown >>"$DIR/power.log"
fi
exit 0
FAKE
chmod +x "$WORK/bin/quorvanta"

"$SIM" init "$WORK/pc" || fail "init"
echo restart >"$WORK/mode"
"$SIM" run "$WORK/pc" --ui headless --yes -- fw.bin /NON >"$WORK/out.txt" 2>&1
[ $? = 0 ] || fail "run exit code"
expect_line "$WORK/out.txt" 'sim: power on, starting C:\Quorvanta\Quorvanta.exe'
expect_line "$WORK/out.txt" 'sim: power restart'
expect_line "$WORK/out.txt" 'sim: power on, starting C:\Quorvanta\Quorvanta.exe from the Run entry'
expect_line "$WORK/out.txt" 'sim: power shutdown'
expect_line "$WORK/calls.txt" "args: --machine $WORK/pc --ui headless --yes -- fw.bin /NON entry=none"
# The Run entry start gets the user's view options but not the arguments.
expect_line "$WORK/calls.txt" "args: --machine $WORK/pc --ui headless --yes entry=C:\\Quorvanta\\Quorvanta.exe"
[ "$(wc -l <"$WORK/calls.txt")" = 2 ] || fail "expected two starts"
"$SIM" show "$WORK/pc" >"$WORK/show.txt"
expect_line "$WORK/show.txt" 'run Quorvanta=C:\Quorvanta\Quorvanta.exe'
expect_line "$WORK/show.txt" 'power restart'
expect_line "$WORK/show.txt" 'power shutdown'

# A restart without a Run entry: the PC comes back and nothing starts.
rm -f "$WORK/calls.txt"
"$SIM" init "$WORK/pc2" || fail "init pc2"
echo norun >"$WORK/mode"
"$SIM" run "$WORK/pc2" >"$WORK/out2.txt" 2>&1 || fail "run pc2"
expect_line "$WORK/out2.txt" 'sim: power on, no Run entry'
[ "$(wc -l <"$WORK/calls.txt")" = 1 ] || fail "expected one start"

# A program that restarts for ever is stopped.
rm -f "$WORK/calls.txt"
"$SIM" init "$WORK/pc3" || fail "init pc3"
echo loop >"$WORK/mode"
"$SIM" run "$WORK/pc3" >"$WORK/out3.txt" 2>&1
grep -q '^sim: stopped after ' "$WORK/out3.txt" || fail "an endless restart loop was not stopped"

finish
