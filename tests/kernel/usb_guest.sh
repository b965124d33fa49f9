#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once and runs the usb cases inside
# it (usb_cases.sh): the virtual PC's emulated drives plugged in as USB
# mass-storage devices by qv_usb_drives (FunctionFS gadgets on dummy_hcd's
# device controllers, one per drive), found and driven by the kernel's own
# usb-storage, so that the unmodified program reaches them through /dev/sg*
# as it reaches a user's drives. The guest is kernel_guest.sh's.
#
# sh usb_guest.sh BIN_DIR [GUEST_COMMAND]   (as kernel_guest.sh)
QV_DRIVE_SERVER=usb exec sh "$(dirname "$0")/kernel_guest.sh" "$@"
