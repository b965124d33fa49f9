#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once and runs the update scenarios
# inside it: the virtual PC's emulated drives served to the kernel by a
# drive server, so that the unmodified program reaches them through /dev/sg*
# as it reaches real drives; each outcome is compared with the same scenario
# on the virtual PC. Two servers, chosen by QV_DRIVE_SERVER:
#   tcmu (the default)  the kernel's own SCSI target (target_core_user
#                       behind tcm_loop) by qv_tcmu_drives; guest_cases.sh
#   usb                 USB mass-storage devices (FunctionFS gadgets on
#                       dummy_hcd's device controllers, one per drive) found
#                       and driven by usb-storage, by qv_usb_drives;
#                       usb_cases.sh (usb_guest.sh)
#
# sh kernel_guest.sh BIN_DIR [GUEST_COMMAND]
#   BIN_DIR        the build directory (quorvanta, quorvanta-sim, the server)
#   GUEST_COMMAND  run this shell command in the guest instead of the cases
# With QV_CAPTURES=DIR the cases' captures are copied out of the guest to DIR.
# Exit 77 (skipped, or failed where the test command requires every
# component) when QEMU, the kernel, its modules, busybox or cpio is missing.
set -eu
BIN=$1
GUEST_COMMAND=${2:-}
HERE=$(dirname "$0")
. "$HERE/../support/guest.sh"

# sr_mod as on a machine with real drives: the kernel then sends the drives
# commands of its own when they appear.
case ${QV_DRIVE_SERVER:-tcmu} in
  tcmu) server=qv_tcmu_drives cases=guest_cases.sh modules="target_core_user tcm_loop" ;;
  usb) server=qv_usb_drives cases=usb_cases.sh modules="usb-storage usb_f_fs dummy_hcd" ;;
  *) echo "QV_DRIVE_SERVER: tcmu or usb" >&2; exit 2 ;;
esac
guest_needs "$BIN/$server"
guest_prepare "$BIN/quorvanta" "$BIN/quorvanta-sim" "$BIN/$server"
# shellcheck disable=SC2086
guest_modules sg sr_mod $modules
# Two device controllers: one for each drive a case plugs in at once.
echo 'dummy_hcd.ko num=2' > "$ROOT/mod/args"

cp "$HERE/guest_cases.sh" "$ROOT/guest_cases.sh"
cp "$HERE/$cases" "$ROOT/cases.sh"
guest_run "${GUEST_COMMAND:-sh /cases.sh}"
[ -n "${QV_CAPTURES:-}" ] && touch "$ROOT/print_captures"
guest_init_script "sh /run"
guest_boot 900
if [ -n "${QV_CAPTURES:-}" ]; then
  awk -v dir="$QV_CAPTURES" '
    /^qv-file-end$/ { close(cmd); cmd = ""; next }
    /^qv-file / { cmd = "base64 -d > " dir "/" $2; next }
    cmd != "" { print | cmd }' "$WORK/console.log"
fi
guest_finish "the guest cases did not all pass"
