#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once, with two VANTROS drives behind
# their own USB mass-storage bridges (usb-bot + scsi-cd, no disc), a disk that
# must be left alone, and scsi_debug loaded later; then runs every real-drive
# case inside the guest (qv_sg_guest) and reads the verdict off the console.
#
# sh sg_guest.sh BIN_DIR [GUEST_COMMAND]
#   BIN_DIR        the build directory (quorvanta, quorvanta-sim, qv_sg_guest)
#   GUEST_COMMAND  run this shell command in the guest instead of the cases
# Exit 77 (skipped) when QEMU, the kernel, busybox or sg3-utils is missing.
set -eu
BIN=$1
GUEST_COMMAND=${2:-}

KERNEL=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
for tool in qemu-system-x86_64 busybox sg_inq sg_turs sg_raw cpio; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -n "$KERNEL" ] || { echo "skipped: no kernel image in /boot"; exit 77; }
KVER=${KERNEL#/boot/vmlinuz-}
MODDIR=/lib/modules/$KVER
[ -f "$MODDIR/modules.dep" ] || { echo "skipped: no modules for $KVER"; exit 77; }

WORK=$(mktemp -d /tmp/qv_qemu_XXXXXX)
trap 'rm -rf "$WORK"' EXIT
ROOT=$WORK/root
mkdir -p "$ROOT/bin" "$ROOT/mod" "$ROOT/pkg" "$ROOT/proc" "$ROOT/sys" "$ROOT/dev" "$ROOT/tmp"

# Programs and the shared libraries they load, at the paths they load them
# from; a merged /usr (/lib -> usr/lib) is kept as it is, since glibc finds
# its gconv modules through the path it was built with.
for dir in lib lib64; do
  if [ -L "/$dir" ]; then
    mkdir -p "$ROOT/$(readlink "/$dir")"
    ln -s "$(readlink "/$dir")" "$ROOT/$dir"
  fi
done
cp "$(command -v busybox)" "$ROOT/bin/busybox"
for prog in "$BIN/quorvanta" "$BIN/qv_sg_guest" "$(command -v sg_inq)" \
            "$(command -v sg_turs)" "$(command -v sg_raw)"; do
  cp "$prog" "$ROOT/bin/"
  ldd "$prog" 2>/dev/null | tr ' \t' '\n\n' | grep '^/' | while read -r lib; do
    mkdir -p "$ROOT$(dirname "$lib")"
    cp -L "$lib" "$ROOT$lib"
  done
done

# The code page conversion the transcript goes through (glibc's gconv).
GCONV=$(dirname "$(ldd "$BIN/quorvanta" | awk '/libc\.so/ { print $3 }')")/gconv
mkdir -p "$ROOT$GCONV"
cp -r "$GCONV/CP932.so" "$GCONV"/gconv-modules* "$ROOT$GCONV/"

# Kernel modules in load order (each one's dependencies first).
: > "$ROOT/mod/order"
add_module() {  # NAME as in modules.dep, e.g. kernel/drivers/scsi/sg.ko
  grep -qx "$1" "$ROOT/mod/order" && return 0
  for dep in $(grep "^$1:" "$MODDIR/modules.dep" | cut -d: -f2); do add_module "$dep"; done
  cp "$MODDIR/$1" "$ROOT/mod/"
  echo "$1" >> "$ROOT/mod/order"
}
for name in xhci-pci usb-storage sg crct10dif_generic scsi_debug; do
  path=$(grep -o "^[^:]*/$name\.ko" "$MODDIR/modules.dep" | head -n 1)
  [ -n "$path" ] && add_module "$path"
done
sed -i 's|.*/||' "$ROOT/mod/order"

# A T71 package without loader data: the NT family's direct path takes it,
# and drives that do not answer the vendor query are listed.
"$BIN/quorvanta-sim" pack "$ROOT/pkg" --model t71 --rev 1.10 --no-loader >/dev/null

if [ -n "$GUEST_COMMAND" ]; then
  printf '%s\n' "$GUEST_COMMAND" > "$ROOT/run"
else
  echo 'cd /pkg && /bin/qv_sg_guest' > "$ROOT/run"
fi
cat > "$ROOT/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
for m in $(grep -v scsi_debug /mod/order); do
  case $m in
    usb-storage.ko) insmod /mod/$m delay_use=0 ;;
    *) insmod /mod/$m ;;
  esac
done
i=0
while [ "$(cat /sys/class/scsi_generic/sg*/device/type 2>/dev/null | grep -c '^[05]$')" -lt 3 ] && [ $i -lt 300 ]; do
  sleep 0.1; i=$((i + 1))
done
echo "qv-guest-ready after $((i / 10)).$((i % 10)) s"
sh /run
echo "qv-guest-exit $?"
poweroff -f
INIT
chmod +x "$ROOT/init"
(cd "$ROOT" && find . | cpio -o -H newc --quiet) > "$WORK/initrd"
dd if=/dev/zero of="$WORK/disk.img" bs=1M count=4 2>/dev/null

# The TSC as the guest's clock source: reading the clock then costs what it
# costs on a real machine (no emulated timer chip behind every reading),
# which keeps the per-command figures about the transports.
start=$(date +%s)
timeout 300 qemu-system-x86_64 -machine pc -accel tcg -m 512 -smp 1 -nodefaults \
  -display none -serial stdio -monitor none -no-reboot \
  -kernel "$KERNEL" -initrd "$WORK/initrd" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3 clocksource=tsc tsc=reliable" \
  -device qemu-xhci,id=xhci \
  -drive if=none,id=cdt71,media=cdrom -device usb-bot,id=bott71,bus=xhci.0 \
  -device "scsi-cd,bus=bott71.0,drive=cdt71,vendor=VANTROS,product=T71 CDRW USB,ver=1.00" \
  -drive if=none,id=hd,file="$WORK/disk.img",format=raw -device usb-bot,id=bothd,bus=xhci.0 \
  -device scsi-hd,bus=bothd.0,drive=hd \
  -drive if=none,id=cdr305,media=cdrom -device usb-bot,id=botr305,bus=xhci.0 \
  -device "scsi-cd,bus=botr305.0,drive=cdr305,vendor=VANTROS,product=R305 CDRW USB,ver=1.00" \
  < /dev/null > "$WORK/console.log" 2>&1 || true
tr -d '\r' < "$WORK/console.log"
echo "guest ran $(( $(date +%s) - start )) s"
[ -n "$GUEST_COMMAND" ] && exit 0
tr -d '\r' < "$WORK/console.log" | grep -q '^qv-guest-exit 0$' || { echo "FAIL: the guest cases did not all pass"; exit 1; }
