#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once and runs the usb cases inside
# it (usb_cases.sh): the virtual PC's emulated drives plugged in as USB
# mass-storage devices by qv_usb_drives (FunctionFS gadgets on dummy_hcd's
# device controllers, one per drive), found and driven by the kernel's own
# usb-storage, so that the unmodified program reaches them through /dev/sg*
# as it reaches a user's drives.
#
# sh usb_guest.sh BIN_DIR [GUEST_COMMAND]
#   BIN_DIR        the build directory (quorvanta, quorvanta-sim, qv_usb_drives)
#   GUEST_COMMAND  run this shell command in the guest instead of the cases
# With QV_CAPTURES=DIR the cases' captures are copied out of the guest to DIR.
# Exit 77 (skipped, or failed where the test command requires every
# component) when QEMU, the kernel, its modules, busybox or cpio is missing.
set -eu
BIN=$1
GUEST_COMMAND=${2:-}
HERE=$(dirname "$0")
. "$HERE/../qemu/guest_lib.sh"

[ -x "$BIN/qv_usb_drives" ] || { echo "skipped: qv_usb_drives was not built"; exit 77; }
guest_prepare "$BIN/quorvanta" "$BIN/quorvanta-sim" "$BIN/qv_usb_drives"
guest_modules sg sr_mod usb-storage usb_f_fs dummy_hcd

cp "$HERE/guest_cases.sh" "$ROOT/guest_cases.sh"
cp "$HERE/usb_cases.sh" "$ROOT/cases.sh"
printf '%s\n' "${GUEST_COMMAND:-sh /cases.sh}" > "$ROOT/run"
[ -n "${QV_CAPTURES:-}" ] && touch "$ROOT/print_captures"
# Two device controllers: one for each drive a case plugs in at once.
guest_init_script "$(cat <<'BODY'
for m in $(cat /mod/order); do
  if [ "$m" = dummy_hcd.ko ]; then insmod /mod/$m num=2; else insmod /mod/$m; fi
done
mount -t configfs configfs /sys/kernel/config
cd /tmp && sh /run
BODY
)"

start=$(date +%s)
guest_boot 900
cat "$WORK/console.log"
echo "guest ran $(( $(date +%s) - start )) s"
if [ -n "${QV_CAPTURES:-}" ]; then
  awk -v dir="$QV_CAPTURES" '
    /^qv-file-end$/ { close(cmd); cmd = ""; next }
    /^qv-file / { cmd = "base64 -d > " dir "/" $2; next }
    cmd != "" { print | cmd }' "$WORK/console.log"
fi
[ -n "$GUEST_COMMAND" ] && exit 0
grep -q '^qv-guest-exit 0$' "$WORK/console.log" || { echo "FAIL: the guest cases did not all pass"; exit 1; }
