#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once and runs the update scenarios
# inside it (guest_cases.sh): the virtual PC's emulated drives served to the
# kernel through its own SCSI target (target_core_user behind tcm_loop) by
# qv_tcmu_drives, so that the unmodified program reaches them through
# /dev/sg* as it reaches real drives; each outcome is compared with the same
# scenario on the virtual PC.
#
# sh kernel_guest.sh BIN_DIR [GUEST_COMMAND]
#   BIN_DIR        the build directory (quorvanta, quorvanta-sim, qv_tcmu_drives)
#   GUEST_COMMAND  run this shell command in the guest instead of the cases
# Exit 77 (skipped, or failed where the test command requires every
# component) when QEMU, the kernel, its modules, busybox or cpio is missing.
set -eu
BIN=$1
GUEST_COMMAND=${2:-}
HERE=$(dirname "$0")
. "$HERE/../qemu/guest_lib.sh"

[ -x "$BIN/qv_tcmu_drives" ] || { echo "skipped: qv_tcmu_drives was not built"; exit 77; }
guest_prepare "$BIN/quorvanta" "$BIN/quorvanta-sim" "$BIN/qv_tcmu_drives"
# sr_mod as on a machine with real drives: the kernel then sends the drives
# commands of its own when they appear.
guest_modules sg sr_mod target_core_user tcm_loop

cp "$HERE/guest_cases.sh" "$ROOT/cases.sh"
printf '%s\n' "${GUEST_COMMAND:-sh /cases.sh}" > "$ROOT/run"
guest_init_script "$(cat <<'BODY'
for m in $(cat /mod/order); do insmod /mod/$m; done
mount -t configfs configfs /sys/kernel/config
cd /tmp && sh /run
BODY
)"

start=$(date +%s)
guest_boot 900
cat "$WORK/console.log"
echo "guest ran $(( $(date +%s) - start )) s"
[ -n "$GUEST_COMMAND" ] && exit 0
grep -q '^qv-guest-exit 0$' "$WORK/console.log" || { echo "FAIL: the guest cases did not all pass"; exit 1; }
