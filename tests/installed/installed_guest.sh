#!/bin/sh
# An ordinary user's Linux, whole: Debian 12 booted under QEMU (TCG) with
# Debian's kernel, its root (made once with mmdebstrap and cached, with
# systemd, udev, kmod, tmux and adduser) shared with the guest over 9p, the
# packages this build makes installed in it by apt, systemd starting udev as
# Debian does. In it (user_cases.sh) the emulated T71 and R305 are plugged
# in through usb-storage, the nodes are udev's, and the program runs as a
# user made with adduser and added to the cdrom group, in a login shell,
# with nothing prepared for it.
#
#   sh tests/installed/installed_guest.sh BUILD_DIR [GUEST_COMMAND]
#   GUEST_COMMAND  run this shell command as root in the booted guest instead
#                  of the cases
# Exit 77 (skipped, or failed where the test command requires every
# component) without root, mmdebstrap, apt, QEMU, the kernel, its modules,
# busybox or cpio.
set -eu
BUILD=$(cd "$1" && pwd)
GUEST_COMMAND=${2:-}
HERE=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
. "$HERE/../support/guest.sh"
. "$HERE/../package/debian_root.sh"
for tool in mmdebstrap apt-get cpack chroot dpkg-deb; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: no $tool (sh scripts/install-deps.sh test)"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "skipped: installing into a Debian root needs root"; exit 77; }
guest_needs "$BUILD/qv_usb_drives"
started=$(date +%s)
guest_prepare
guest_modules virtio_pci 9pnet_virtio 9p

# The packages, and the root with what they depend on, so that apt installs
# them from the cache alone once the root is made.
cpack -G DEB -B "$WORK/debs" --config "$BUILD/CPackConfig.cmake" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log" >&2; fail "cpack could not make the packages"; }
set -- "$WORK"/debs/*.deb
depends=$(for deb in "$@"; do dpkg-deb -f "$deb" Depends; done | tr ',' '\n' |
  sed 's/(.*)//; s/ //g' | grep -v '^quorvanta' | sort -u | paste -sd, -)
packages=systemd-sysv,udev,kmod,tmux,adduser,$depends
debian_root "debian12-installed-$(echo "$packages" | cksum | cut -d' ' -f1)" "$packages" "$WORK/root"
cp "$@" "$DEBIAN_ROOT/tmp/"
(cd "$DEBIAN_ROOT/tmp" && ls ./*.deb | sed 's|^\./|/tmp/|') >"$WORK/debs.list"
# shellcheck disable=SC2046
in_root apt-get install -y -q --no-download $(cat "$WORK/debs.list") >"$WORK/apt.log" 2>&1 ||
  { in_root apt-get update -q && in_root apt-get install -y -q $(cat "$WORK/debs.list"); } >>"$WORK/apt.log" 2>&1 ||
  { cat "$WORK/apt.log" >&2; fail "apt-get install of the packages"; }
debian_root_keep
rm -f "$DEBIAN_ROOT"/tmp/*.deb

# What stands for the hardware and the test's own cases, beside the system.
mkdir -p "$DEBIAN_ROOT/opt/qv-test" "$DEBIAN_ROOT/usr/lib/modules/$KVER"
cp "$BUILD/qv_usb_drives" "$HERE/../kernel/guest_cases.sh" "$HERE/user_cases.sh" \
  "$HERE/../support/tmux_pane.sh" "$DEBIAN_ROOT/opt/qv-test/"
printf '%s\n' "${GUEST_COMMAND:-sh /opt/qv-test/user_cases.sh}" >"$DEBIAN_ROOT/opt/qv-test/run"
# Started by systemd once the system is up; its output goes to the console.
cat >"$DEBIAN_ROOT/etc/systemd/system/qv-test.service" <<'EOF'
[Unit]
Description=The installed program's test
After=systemd-udevd.service systemd-udev-trigger.service sys-kernel-config.mount

[Service]
Type=oneshot
StandardOutput=tty
StandardError=tty
TTYPath=/dev/ttyS0
ExecStart=/bin/sh -c 'cd /root && sh /opt/qv-test/run; echo "qv-guest-exit $?"; sync; systemctl poweroff --force --force'
EOF
cat >"$DEBIAN_ROOT/etc/systemd/system/qv-test.target" <<'EOF'
[Unit]
Description=The system the installed program's test needs
Requires=basic.target qv-test.service
After=basic.target
EOF

# The root over 9p, the host's modules beside it; then systemd.
guest_share root "$DEBIAN_ROOT"
guest_share modules "$MODDIR" ro
guest_init_script "$(cat <<BODY
cd /
share root /new cache=loose || exit 1
share modules /new/usr/lib/modules/$KVER ro,cache=loose || exit 1
umount /sys/kernel/config 2>/dev/null
mount --move /dev /new/dev
umount /proc /sys /tmp
exec switch_root /new /sbin/init
BODY
)"
echo "packages made and installed into the root in $(($(date +%s) - started)) s"
# shellcheck disable=SC2034 # read by guest_boot
GUEST_APPEND="systemd.unit=qv-test.target systemd.show_status=0"
guest_boot 900 -m 1024 -smp 2
guest_finish "the installed program's cases did not all pass"
