#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once, with two VANTROS drives behind
# their own USB mass-storage bridges (usb-bot + scsi-cd, no disc), a disk that
# must be left alone, and scsi_debug loaded later; then runs every real-drive
# case inside the guest (qv_sg_guest) and reads the verdict off the console.
#
# sh sg_guest.sh BIN_DIR [GUEST_COMMAND]
#   BIN_DIR        the build directory (quorvanta, quorvanta-sim, qv_sg_guest)
#   GUEST_COMMAND  run this shell command in the guest instead of the cases
# Exit 77 (skipped, or failed where the test command requires every
# component) when QEMU, the kernel, busybox or sg3-utils is missing.
set -eu
BIN=$1
GUEST_COMMAND=${2:-}
. "$(dirname "$0")/../support/guest.sh"

for tool in sg_inq sg_turs sg_raw; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
guest_prepare "$BIN/quorvanta" "$BIN/qv_sg_guest" "$(command -v sg_inq)" \
  "$(command -v sg_turs)" "$(command -v sg_raw)"
guest_modules xhci-pci usb-storage sg crct10dif_generic scsi_debug

# A T71 package without loader data: the NT family's direct path takes it,
# and drives that do not answer the vendor query are listed.
"$BIN/quorvanta-sim" pack "$ROOT/pkg" --model t71 --rev 1.10 --no-loader >/dev/null

guest_run "${GUEST_COMMAND:-cd /pkg && /bin/qv_sg_guest}"
echo scsi_debug.ko > "$ROOT/mod/later"
echo 'usb-storage.ko delay_use=0' > "$ROOT/mod/args"
guest_init_script "$(cat <<'BODY'
i=0
while [ "$(cat /sys/class/scsi_generic/sg*/device/type 2>/dev/null | grep -c '^[05]$')" -lt 3 ] && [ $i -lt 300 ]; do
  sleep 0.1; i=$((i + 1))
done
echo "qv-guest-ready after $((i / 10)).$((i % 10)) s"
sh /run
BODY
)"
dd if=/dev/zero of="$WORK/disk.img" bs=1M count=4 2>/dev/null

guest_boot 300 \
  -device qemu-xhci,id=xhci \
  -drive if=none,id=cdt71,media=cdrom -device usb-bot,id=bott71,bus=xhci.0 \
  -device "scsi-cd,bus=bott71.0,drive=cdt71,vendor=VANTROS,product=T71 CDRW USB,ver=1.00" \
  -drive if=none,id=hd,file="$WORK/disk.img",format=raw -device usb-bot,id=bothd,bus=xhci.0 \
  -device scsi-hd,bus=bothd.0,drive=hd \
  -drive if=none,id=cdr305,media=cdrom -device usb-bot,id=botr305,bus=xhci.0 \
  -device "scsi-cd,bus=botr305.0,drive=cdr305,vendor=VANTROS,product=R305 CDRW USB,ver=1.00"
guest_finish "the guest cases did not all pass"
