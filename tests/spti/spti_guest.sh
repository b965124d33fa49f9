#!/bin/sh
# Boots Debian's kernel under QEMU (TCG) once with this machine's own root
# file system mounted read-only over 9p (QEMU's -virtfs) under a tmpfs
# overlay, so that the installed Wine, Xvfb, xdotool and the cached Wine
# prefix run inside the guest as they are, writable there and untouched
# here. The virtual PC's emulated drives are real CD-ROM devices (sr) in it,
# served through the kernel's SCSI target by qv_tcmu_drives as in the
# kernel's test; Quorvanta.exe from the zip reaches them through Wine's
# SCSI pass-through (spti_cases.sh), with no ASPI layer anywhere.
#
# sh spti_guest.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR [GUEST_COMMAND]
#   GUEST_COMMAND  run this shell command in the guest's new root instead
# What the guest leaves for this side (the captures, the drives' records)
# goes to a second, writable share; QV_SPTI_KEEP=DIR keeps it there.
# Exit 77 (skipped, or failed where the test command requires every
# component) when QEMU, the kernel, its modules, busybox, Wine or Xvfb is
# missing.
set -eu
BUILD=$(cd "$1" && pwd)
HOST_TOOLS=$(cd "$2" && pwd)
GUEST_COMMAND=${3:-}
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../support/guest.sh"

for tool in wine wineserver Xvfb xdotool setpriv; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -x "$HOST_TOOLS/qv_tcmu_drives" ] || { echo "skipped: qv_tcmu_drives was not built"; exit 77; }
set -- "$BUILD"/zip/unpacked/Quorvanta-*/Quorvanta.exe
[ -f "$1" ] || { echo "FAIL: no unpacked zip in $BUILD/zip: run the test wine_zip first"; exit 1; }

# The application manifest in the program file: resource type 24, id 1,
# well-formed XML asking for administrator rights, with the supportedOS
# entries.
check_manifest() {  # EXE
  command -v i686-w64-mingw32-objdump >/dev/null 2>&1 && command -v xmllint >/dev/null 2>&1 ||
    { echo "skipped: i686-w64-mingw32-objdump or xmllint is missing"; exit 77; }
  set -- "$1" $(i686-w64-mingw32-objdump -p -h "$1" | awk '
    /^ImageBase/ { base = $2 }
    $2 == ".rsrc" { vma = $4; off = $6 }
    /^The .rsrc Resource Directory/ { rsrc = 1 }
    rsrc && / Entry: ID: 0x000018,/ { manifest = 1 }
    manifest && /Leaf: Addr:/ && !done { sub(/,/, "", $4); sub(/,/, "", $6); addr = $4; size = $6; done = 1 }
    END { if (done) print base, vma, off, addr, size }')
  [ $# -eq 6 ] || { echo "FAIL: no manifest resource (type 24) in the program"; exit 1; }
  tail -c +$(($5 - 0x$3 + 0x$2 + 0x$4 + 1)) "$1" | head -c $(($6)) >"$WORK/manifest.xml"
  xmllint --noout "$WORK/manifest.xml" || { echo "FAIL: the manifest is not well-formed XML"; exit 1; }
  grep -q 'requestedExecutionLevel level="requireAdministrator"' "$WORK/manifest.xml" &&
    [ "$(grep -c '<supportedOS Id=' "$WORK/manifest.xml")" -ge 5 ] ||
    { echo "FAIL: the manifest asks for no administrator rights or names no Windows"; exit 1; }
  echo "manifest: $(($6)) bytes, requireAdministrator, $(grep -c '<supportedOS Id=' "$WORK/manifest.xml") supportedOS entries"
}

WORK=$(mktemp -d /tmp/qv_spti_XXXXXX)
check_manifest "$1"
rm -rf "$WORK"

# The prefix is made here, once, as the Wine tests make it: the guest only
# reads it through its overlay.
(. "$HERE/../wine/lib_wine.sh" && wine_prefix)
CACHE=${QV_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quorvanta}

guest_prepare "$HOST_TOOLS/qv_tcmu_drives"
# ... and the guest gets a snapshot of it (hard links where they can be made),
# taken under its lock and without the program's own files: the Wine tests
# on this side share the prefix and change it at any time (registry saves,
# resume files in C:\windows, a rebuild), and an overlay whose lower layer
# changes beneath it is undefined. A guest's program and probe once vanished
# without a trace the moment this side saved the prefix's registry.
PREFIX=$WORK/prefix
(
  flock 9
  cp -al "$CACHE/wine-i686" "$PREFIX" 2>/dev/null || { rm -rf "$PREFIX" && cp -a "$CACHE/wine-i686" "$PREFIX"; }
) 9>"$CACHE/wine-i686.lock" || { echo "FAIL: cannot take a snapshot of the Wine prefix"; exit 1; }
rm -f "$PREFIX"/drive_c/windows/Tellmr1.DAT "$PREFIX"/drive_c/windows/Tellmr2.DAT \
  "$PREFIX"/drive_c/windows/last-run.log
guest_modules sg sr_mod target_core_user tcm_loop virtio_pci 9pnet_virtio 9p overlay
OUT=$WORK/out
mkdir -p "$OUT"

# QV_SPTI_WINEDEBUG: Wine debug channels for the program's runs, added.
printf 'export QV_SPTI_WINEDEBUG=%s\n%s\n' "${QV_SPTI_WINEDEBUG:-}" \
  "${GUEST_COMMAND:-sh $HERE/spti_cases.sh $BUILD $HOST_TOOLS /spti-out $PREFIX}" > "$ROOT/run"
# The trees under /tmp (a clone there, its builds, the prefix) stay in sight
# below the guest's own /tmp: each is bound there from this machine's /tmp.
for dir in "$(cd "$HERE/../.." && pwd)" "$BUILD" "$HOST_TOOLS" "$PREFIX"; do
  case $dir in /tmp/*) echo "$dir" ;; esac
done > "$ROOT/binds"
# The new root: this machine's files below, the guest's own writes above;
# /proc, /sys, /dev and /tmp its own.
guest_init_script "$(cat <<'BODY'
mkdir -p /new
share hostroot /host ro,cache=loose || exit 1
mkdir -p /tmp/upper /tmp/work
mount -t overlay -o lowerdir=/host,upperdir=/tmp/upper,workdir=/tmp/work overlay /new || exit 1
mount -t proc proc /new/proc
mount -t sysfs sys /new/sys
mount -t configfs configfs /new/sys/kernel/config
mount -t devtmpfs dev /new/dev
mkdir -p /new/dev/pts /new/dev/shm /new/spti-out
mount -t devpts devpts /new/dev/pts
mount -t tmpfs shm /new/dev/shm
mkdir -p /new/.host-tmp
mount -o bind /new/tmp /new/.host-tmp
mount -t tmpfs tmp /new/tmp
while read -r dir; do
  mkdir -p "/new$dir" && mount -o bind "/new/.host-tmp${dir#/tmp}" "/new$dir" || exit 1
done </binds
share out /new/spti-out || exit 1
cp /run /new/tmp/run
HOME=/root PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin chroot /new /bin/sh /tmp/run
BODY
)"

# Wine and its 32-bit libraries are read from here through 9p: memory for
# the page cache, and a second CPU for the wineserver beside the program.
guest_share hostroot / ro
guest_share out "$OUT"
guest_boot 1200 -m 2560 -smp 2
[ -n "${QV_SPTI_KEEP:-}" ] && mkdir -p "$QV_SPTI_KEEP" && cp -r "$OUT"/. "$QV_SPTI_KEEP"/
guest_finish "the pass-through cases did not all pass"
