#!/bin/sh
# Installs the build and test tools on Debian 12 (as root), skipping apt-get
# when everything is already there.
set -eu
packages="cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libc6"
# The views and their tests: ncursesw and tmux for the terminal; FLTK, an X
# server without a screen, xdotool and Japanese fonts for the desktop; a
# small window manager and xprop for the window's place, focus and taskbar.
packages="$packages libncurses-dev tmux libfltk1.3-dev libfontconfig-dev libx11-dev libpng-dev xvfb xauth xdotool fonts-ipafont fontconfig"
packages="$packages evilwm x11-utils"
# The real-drive tests boot Debian's kernel under QEMU with a busybox initramfs
# holding sg3-utils (tests/qemu/).
packages="$packages qemu-system-x86 linux-image-amd64 busybox-static sg3-utils cpio"
# The same guest serves emulated drives through the kernel's SCSI target
# (target_core_user, tcm_loop), whose ring layout comes from the kernel's
# user-space headers (tests/kernel/).
packages="$packages linux-libc-dev"
# The Windows build and its tests under Wine: mingw-w64 for 32-bit Windows and
# Wine with its 32-bit part (from Debian's i386 architecture).
packages="$packages g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386"
missing=""
arch=$(dpkg --print-architecture)
for p in $packages; do
  # With i386 added, a library installed for both needs its architecture named.
  dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$arch" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi
