# Shared by the scripts that boot Debian's kernel under QEMU (TCG) with a
# busybox initramfs and run test programs inside it. Sourced, not run.
#
#   guest_prepare PROGRAM...   checks the tools, makes $WORK and $ROOT and
#                              copies busybox, the programs and the libraries
#                              they load into the initramfs
#   guest_modules NAME...      the kernel modules and their dependencies, in
#                              load order, into $ROOT/mod (list: mod/order)
#   guest_init_script BODY     /init: mounts, loads every module in order,
#                              runs BODY, prints "qv-guest-exit CODE", powers off
#   guest_boot SECONDS ARG...  packs the initramfs and boots it with the QEMU
#                              arguments given; the console ends up in
#                              $WORK/console.log (CR removed)
# Exit 77 (skipped) when QEMU, the kernel, busybox or cpio is missing.

guest_prepare() {
  KERNEL=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
  for tool in qemu-system-x86_64 busybox cpio; do
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
  for prog in "$@"; do
    cp "$prog" "$ROOT/bin/"
    ldd "$prog" 2>/dev/null | tr ' \t' '\n\n' | grep '^/' | while read -r lib; do
      mkdir -p "$ROOT$(dirname "$lib")"
      cp -L "$lib" "$ROOT$lib"
    done
  done

  # The code page conversion the transcript goes through (glibc's gconv).
  GCONV=$(dirname "$(ldd "$1" | awk '/libc\.so/ { print $3 }')")/gconv
  mkdir -p "$ROOT$GCONV"
  cp -r "$GCONV/CP932.so" "$GCONV"/gconv-modules* "$ROOT$GCONV/"
  : > "$ROOT/mod/order"
}

guest_add_module() {  # NAME as in modules.dep, e.g. kernel/drivers/scsi/sg.ko
  grep -qx "$1" "$ROOT/mod/order" && return 0
  for dep in $(grep "^$1:" "$MODDIR/modules.dep" | cut -d: -f2); do guest_add_module "$dep"; done
  cp "$MODDIR/$1" "$ROOT/mod/"
  echo "$1" >> "$ROOT/mod/order"
}

guest_modules() {
  for name in "$@"; do
    path=$(grep -o "^[^:]*/$name\.ko" "$MODDIR/modules.dep" | head -n 1)
    [ -n "$path" ] || { echo "skipped: no module $name in $MODDIR"; exit 77; }
    guest_add_module "$path"
  done
  sed 's|.*/||' "$ROOT/mod/order" > "$ROOT/mod/order.names"
  mv "$ROOT/mod/order.names" "$ROOT/mod/order"
}

guest_init_script() {
  {
    echo '#!/bin/busybox sh'
    echo '/bin/busybox --install -s /bin'
    echo 'mount -t proc proc /proc'
    echo 'mount -t sysfs sys /sys'
    echo 'mount -t devtmpfs dev /dev'
    echo 'mount -t tmpfs tmp /tmp'
    printf '%s\n' "$1"
    echo 'echo "qv-guest-exit $?"'
    echo 'poweroff -f'
  } > "$ROOT/init"
  chmod +x "$ROOT/init"
}

# The TSC as the guest's clock source: reading the clock then costs what it
# costs on a real machine (no emulated timer chip behind every reading).
# no_timer_check: on a loaded host the emulated CPU can fall behind the
# emulated timer during boot, and the kernel's timer test then panics with
# "IO-APIC + timer doesn't work"; the guest does not need that test.
guest_boot() {
  seconds=$1
  shift
  # Root's, and written by root alone, whoever packs it: the program checks
  # every folder on the way to its state directory.
  chmod 755 "$ROOT"
  (cd "$ROOT" && find . | cpio -o -H newc -R 0:0 --quiet) > "$WORK/initrd"
  timeout "$seconds" qemu-system-x86_64 -machine pc -accel tcg -m 512 -smp 1 -nodefaults \
    -display none -serial stdio -monitor none -no-reboot \
    -kernel "$KERNEL" -initrd "$WORK/initrd" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 clocksource=tsc tsc=reliable no_timer_check" \
    "$@" < /dev/null > "$WORK/console.raw" 2>&1 || true
  tr -d '\r' < "$WORK/console.raw" > "$WORK/console.log"
}
