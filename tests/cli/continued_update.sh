#!/bin/sh
# An update continued across a restart of Windows 98: the drive's auto-insert
# notification is on, so the program saves and clears it, restarts, and the
# run started from the Run entry updates the drive directly and puts every
# setting back. Also: an NT PC whose user may not shut down stays in the main
# dialog after the update, with nothing shown.
# Usage: sh continued_update.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
SIM=$2
test_name=continued_update
. "$(dirname "$0")/lib/common.sh"

make_restart_pc "$SIM" "$WORK/pc"

"$SIM" run "$WORK/pc" --yes >"$WORK/out.txt" 2>&1 || fail "run exit code"
# The transcript, in order: the question, the restart, the resumed run
# without the agreement, its direct update and the shutdown.
grep -E '^(dialog|message|power|sim: power)' "$WORK/out.txt" | cut -c1-40 >"$WORK/order.txt"
cat >"$WORK/expected.txt" <<'EOF'
sim: power on, starting C:\Quorvanta\Quo
dialog: Quorvanta        Ver. 1.0
dialog: Quorvanta        Ver. 1.0
message: You must restart your computer 
power: restart
sim: power restart
sim: power on, starting C:\Quorvanta\Quo
dialog: Quorvanta        Ver. 1.0
message: Close all other applications an
message: -DO NOT abort this program nor 
power: shutdown
sim: power shutdown
EOF
cmp -s "$WORK/order.txt" "$WORK/expected.txt" || {
  fail "the continued update's transcript"
  diff "$WORK/expected.txt" "$WORK/order.txt"
}
"$SIM" show "$WORK/pc" >"$WORK/show.txt"
expect_line "$WORK/show.txt" 'drive 0:0 T71 CDRW USB rev=1.10 code=0x11 model=0x04 disc=0'
expect_line "$WORK/show.txt" 'autoinsert Enum\SCSI\VANTROS_T71_CDRW_USB\ATAPI&A0&T0 01'
expect_line "$WORK/show.txt" 'autoinsert Enum\SCSI\VANTROS_T71_CDRW_USB\USBSTOR&A0&T0 01'
expect_line "$WORK/show.txt" 'resume C:\WINDOWS\Tellmr1.DAT absent'
expect_line "$WORK/show.txt" 'resume C:\WINDOWS\Tellmr2.DAT absent'
expect_line "$WORK/show.txt" 'run Quorvanta absent'

# NT without the right to shut down: the shutdown is asked for and refused;
# the program stays in the main dialog until EXIT, and shows nothing more.
"$SIM" init "$WORK/nt" --os nt >/dev/null || fail "init nt"
sed -i 's/^shutdownright=1$/shutdownright=0/' "$WORK/nt/machine.ini"
"$SIM" run "$WORK/nt" --yes >"$WORK/nt.txt" 2>&1 || fail "nt run exit code"
grep -q '^power' "$WORK/nt.txt" && fail "a refused shutdown was logged or told"
[ "$(grep -c '^message: ' "$WORK/nt.txt")" = 2 ] || { fail "NT: other messages than the two before the write"; cat "$WORK/nt.txt"; }
"$SIM" show "$WORK/nt" >"$WORK/nt_show.txt"
expect_line "$WORK/nt_show.txt" 'power none'

finish
