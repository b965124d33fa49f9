#!/bin/sh
# Installs what the Windows build and its tests need on Debian 12 (as root):
# the mingw-w64 cross compiler for 32-bit Windows, Wine with its 32-bit part,
# an X server without a screen, xdotool for the clicks, and the IPA fonts
# that stand in for the dialogs' Japanese font. Skips apt-get when all is
# there already.
set -eu
packages="g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386 xvfb xdotool
fonts-ipafont-gothic"
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get -o DPkg::Lock::Timeout=600 update -q
  # shellcheck disable=SC2086
  apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends $missing
fi
