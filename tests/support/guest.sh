# shellcheck shell=sh
# Shared by the tests that boot Debian's kernel under QEMU (TCG) and run
# test programs inside it (tests/qemu, tests/kernel, tests/spti,
# tests/installed). Sourced, not run.
#
#   guest_needs PATH...        exit 77 unless each built test tool is there
#   guest_prepare [PROGRAM...] checks the tools, makes $WORK and $ROOT (the
#                              initramfs) and copies busybox, the programs and
#                              the libraries they load into it
#   guest_modules NAME...      the kernel modules and their dependencies, in
#                              load order, into $ROOT/mod (list: mod/order)
#   guest_init_script BODY     /init: mounts, loads every module in order
#                              (with the arguments mod/args gives a module,
#                              none of those mod/later names), runs BODY in
#                              /tmp, prints "qv-guest-exit CODE", powers off;
#                              BODY may mount a share with `share TAG DIR
#                              [OPTIONS]`
#   guest_run COMMAND          the shell command BODY runs as `sh /run`
#   guest_share TAG DIR [ro]   DIR of this machine shared with the guest
#                              over 9p under TAG
#   guest_boot SECONDS ARG...  packs the initramfs and boots it with the QEMU
#                              arguments given (and GUEST_APPEND on the
#                              kernel's command line); the console ends up in
#                              $WORK/console.log (CR removed)
#   guest_finish FAILURE       the console and the time the guest ran, then
#                              (unless GUEST_COMMAND is set) fails with
#                              FAILURE where the guest did not print
#                              "qv-guest-exit 0"
# Exit 77 (skipped) when QEMU, the kernel, busybox or cpio is missing.

guest_needs() {
  for tool in "$@"; do
    [ -x "$tool" ] || { echo "skipped: $tool was not built"; exit 77; }
  done
}

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
  trap 'rm -rf --one-file-system "$WORK"' EXIT
  ROOT=$WORK/initramfs
  mkdir -p "$ROOT/bin" "$ROOT/mod" "$ROOT/pkg" "$ROOT/proc" "$ROOT/sys" "$ROOT/dev" "$ROOT/tmp"
  GUEST_QEMU_SHARES=""

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
  if [ $# -gt 0 ]; then
    GCONV=$(dirname "$(ldd "$1" | awk '/libc\.so/ { print $3 }')")/gconv
    mkdir -p "$ROOT$GCONV"
    cp -r "$GCONV/CP932.so" "$GCONV"/gconv-modules* "$ROOT$GCONV/"
  fi
  : > "$ROOT/mod/order"
  : > "$ROOT/mod/args"
  : > "$ROOT/mod/later"
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

guest_run() {
  printf '%s\n' "$1" > "$ROOT/run"
}

guest_share() {
  GUEST_QEMU_SHARES="$GUEST_QEMU_SHARES -virtfs local,path=$2,mount_tag=$1,security_model=none,multidevs=remap${3:+,readonly=on}"
}

guest_init_script() {
  {
    echo '#!/bin/busybox sh'
    echo '/bin/busybox --install -s /bin'
    echo 'mount -t proc proc /proc'
    echo 'mount -t sysfs sys /sys'
    echo 'mount -t devtmpfs dev /dev'
    echo 'mount -t tmpfs tmp /tmp'
    echo 'for m in $(cat /mod/order); do'
    echo '  grep -qx "$m" /mod/later || insmod /mod/$m $(sed -n "s/^$m //p" /mod/args)'
    echo 'done'
    echo 'mount -t configfs configfs /sys/kernel/config 2>/dev/null'
    echo 'share() { mkdir -p "$2" && mount -t 9p -o "trans=virtio,version=9p2000.L,msize=512000${3:+,$3}" "$1" "$2"; }'
    echo 'cd /tmp'
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
  GUEST_START=$(date +%s)
  # Root's, and written by root alone, whoever packs it: the program checks
  # every folder on the way to its state directory.
  chmod 755 "$ROOT"
  (cd "$ROOT" && find . | cpio -o -H newc -R 0:0 --quiet) > "$WORK/initrd"
  # shellcheck disable=SC2086 # the shares' options, one word each
  timeout "$seconds" qemu-system-x86_64 -machine pc -accel tcg -m 512 -smp 1 -nodefaults \
    -display none -serial stdio -monitor none -no-reboot \
    -kernel "$KERNEL" -initrd "$WORK/initrd" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 clocksource=tsc tsc=reliable no_timer_check ${GUEST_APPEND:-}" \
    $GUEST_QEMU_SHARES "$@" < /dev/null > "$WORK/console.raw" 2>&1 || true
  tr -d '\r' < "$WORK/console.raw" > "$WORK/console.log"
}

guest_finish() {
  cat "$WORK/console.log"
  echo "guest ran $(($(date +%s) - GUEST_START)) s"
  [ -n "${GUEST_COMMAND:-}" ] && exit 0
  grep -q '^qv-guest-exit 0$' "$WORK/console.log" || { echo "FAIL: $1"; exit 1; }
}
