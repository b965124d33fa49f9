#!/bin/sh
# Installs on Debian 12 (as root) what a task needs, skipping apt-get when
# everything is already there:
#   sh scripts/install-deps.sh demo   the compiler, CMake, Ninja and the
#                                     views' libraries (scripts/demo.sh)
#   sh scripts/install-deps.sh test   everything the test command uses (the
#                                     default)
set -eu
what=${1:-test}
# The build and the views: ncursesw for the terminal, FLTK with X11 and
# fontconfig for the desktop.
packages="cmake ninja-build g++ pkg-config libncurses-dev libfltk1.3-dev libfontconfig-dev libx11-dev"
# The reader of captures (quorvanta-sim, rehearsals): nlohmann-json, header-only.
packages="$packages nlohmann-json3-dev"
case $what in
  demo) ;;
  test)
    packages="$packages make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev"
    # GNU time, for the peak memory of the hostile-capture tests.
    packages="$packages time"
    # The views' tests: tmux for the terminal; an X server without a screen,
    # xdotool, PNG pictures and Japanese fonts for the desktop.
    packages="$packages tmux libpng-dev xvfb xauth xdotool fonts-ipafont fontconfig"
    # A small window manager and xprop for the window's place, focus and
    # taskbar.
    packages="$packages evilwm x11-utils"
    # GTK 2, whose folder chooser FLTK opens as the desktop's own (the one
    # the test drives, whatever else happens to be installed).
    packages="$packages libgtk2.0-0"
    # The real-drive tests boot Debian's kernel under QEMU with a busybox
    # initramfs holding sg3-utils (tests/qemu/).
    packages="$packages qemu-system-x86 linux-image-amd64 busybox-static sg3-utils cpio"
    # The same guest serves emulated drives through the kernel's SCSI target
    # (target_core_user, tcm_loop), whose ring layout comes from the kernel's
    # user-space headers (tests/kernel/).
    packages="$packages linux-libc-dev"
    # The Windows build and its tests under Wine: mingw-w64 for 32-bit
    # Windows and Wine with its 32-bit part (from Debian's i386 architecture).
    packages="$packages g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386"
    # The Debian packages and their test (tests/package/): dpkg-shlibdeps and
    # file for CPack, lintian, the checks of the manual pages, desktop entry
    # and metainfo, and mmdebstrap for a fresh Debian root (also the root of
    # the whole Debian 12 that tests/installed/ boots with QEMU, whose 9p
    # shares qemu-system-x86 carries).
    packages="$packages dpkg-dev file lintian man-db desktop-file-utils appstream mmdebstrap"
    ;;
  *)
    echo "usage: sh scripts/install-deps.sh [demo|test]" >&2
    exit 2
    ;;
esac
missing=""
arch=$(dpkg --print-architecture)
for p in $packages; do
  # With i386 added, a library installed for both needs its architecture named.
  dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$arch" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  case $missing in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
  esac
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi
