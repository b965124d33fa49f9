#!/bin/sh
# Quorvanta.exe with no ASPI layer, speaking SCSI pass-through to one
# emulated T71 USB drive through the test stand-in (standin/wnaspi32.dll:
# \\.\CdRom0 and its ioctls answered by the virtual PC's drive), Windows 98,
# English. After each restart the drive is a new device that opens only at
# the sixth look once it is back, as a USB drive that Windows enumerates
# again seconds later: the scan passes that follow the waits must keep
# looking for it. The two-stage update must end with "Succeed to load
# F/W!!" and the drive must hold the new firmware.
#
#   sh tests/wine/pass_through_late_drive.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
. "$(dirname "$0")/lib_wine.sh"
begin_wine_test "$@"
wine_version win98
make_update_pc
cp "$BUILD/standin/wnaspi32.dll" "$WORK/app/"
export QV_PASS_THROUGH_AWAY=5
start_program en_US.UTF-8 --rehearsal-clock-rate $REHEARSAL
read_agreement
start_update
answer_messages "Succeed to load F/W!!" "Error"
[ "$LAST" = "Succeed to load F/W!!" ] || fail "the update ended with: $LAST"
grep -q '^Quorvanta: drive commands through SCSI pass-through' "$WORK/program.log" ||
  fail "the program did not use pass-through: $(head -3 "$WORK/program.log")"
click "$MAIN" 1002
wait_program_end 10
expect_drive_revision 1.10
echo "PASS"
