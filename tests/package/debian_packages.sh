#!/bin/sh
# The Debian packages as a user gets them: made by CPack from the build,
# checked by lintian, installed with apt into a fresh Debian 12 root (its
# dependencies from Debian's archive), run there (the version, a virtual PC,
# a whole update, the manual page, the terminal view under tmux through a
# whole update and the desktop view on an Xvfb display, both from the
# installed files), then purged: no file of theirs may be left. The root is
# made once with mmdebstrap and kept in the cache (debian_root.sh).
#
#   sh tests/package/debian_packages.sh BUILD_DIR
#
# Skipped (77) where it cannot run: not root, or no mmdebstrap, apt or lintian.
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
BUILD=$(cd "$1" && pwd)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
. "$(dirname "$0")/debian_root.sh"
. "$(dirname "$0")/../support/tmux_pane.sh"
for tool in mmdebstrap apt-get lintian cpack chroot dpkg; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: no $tool (sh scripts/install-deps.sh test)"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: installing into a Debian root needs root"; exit 77; }
# The views are driven from outside the root: a terminal emulator, an X
# server (reached through its abstract socket, which a chroot shares) and the
# build's screen reader. Their runs keep their caches in the root's /tmp,
# which the purge check passes over.
for tool in tmux Xvfb; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: no $tool (sh scripts/install-deps.sh test)"; exit 77; }
done
[ -x "$BUILD/qv_xshot" ] || fail "$BUILD/qv_xshot is missing: this build has no desktop view"

WORK=$(mktemp -d)
TMUX_SOCKET=$WORK/tmux.sock
ROOT=$WORK/root
xvfb=""
program=""
cleanup() {
  # Whatever is still there of the views' runs (nothing, normally).
  tmux -S "$WORK/tmux.sock" kill-server 2>/dev/null || true
  [ -z "$program" ] || kill "$program" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  mountpoint -q "$ROOT/proc" 2>/dev/null && umount "$ROOT/proc"
  # Never into a file system still mounted in the root.
  rm -rf --one-file-system "$WORK"
}
trap cleanup EXIT
# A time-out ends the test with a signal: the root's /proc still goes.
trap 'exit 1' INT TERM HUP

# ---- the packages
cpack -G DEB -B "$WORK/debs" --config "$BUILD/CPackConfig.cmake" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log" >&2; fail "cpack could not make the packages"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$BUILD/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
debs=""
for package in quorvanta quorvanta-sim; do
  deb="$WORK/debs/${package}_${version}_$arch.deb"
  [ -f "$deb" ] || fail "no $deb (made: $(ls "$WORK/debs"))"
  dpkg-deb -c "$deb" | grep "/usr/share/doc/$package/copyright$" >/dev/null ||
    fail "$package has no copyright file"
  debs="$debs $deb"
done
# Errors and warnings fail; the informational tags of a package built
# outside a Debian source tree do not.
# shellcheck disable=SC2086
lintian --tag-display-limit 0 $debs >"$WORK/lintian.txt" 2>&1 || true
if grep -E '^(E|W): ' "$WORK/lintian.txt"; then
  fail "lintian finds fault with the packages"
fi
# No test tool, generator or probe is shipped.
for deb in $debs; do
  dpkg-deb -c "$deb" | grep -E 'qv_|probe|xshot|tcmu' && fail "$deb holds test tools"
done

# ---- the documents it carries
man --warnings -l "$BUILD/docs/quorvanta.1" 2>&1 >/dev/null | grep . && fail "man --warnings: quorvanta.1"
man --warnings -l "$BUILD/docs/quorvanta-sim.1" 2>&1 >/dev/null | grep . && fail "man --warnings: quorvanta-sim.1"
appstreamcli validate --no-net "$BUILD/docs/org.quorvanta.Quorvanta.metainfo.xml" >"$WORK/as.txt" 2>&1 ||
  { cat "$WORK/as.txt" >&2; fail "appstreamcli validate"; }
if command -v desktop-file-validate >/dev/null 2>&1; then
  dpkg-deb -x "$WORK/debs/quorvanta_${version}_$arch.deb" "$WORK/tree"
  desktop-file-validate "$WORK/tree/usr/share/applications/org.quorvanta.Quorvanta.desktop" ||
    fail "desktop-file-validate"
fi

# ---- a fresh Debian 12 root, made once
# man-db so that the manual page can be looked up as a user would.
debian_root debian12-root man-db "$ROOT"
mount -t proc proc "$ROOT/proc"
cp "$WORK/debs/"*.deb "$ROOT/tmp/"
# What the root holds before: everything the purge must bring it back to.
list_root() {
  (cd "$ROOT" && find . -xdev \( -path ./proc -o -path ./tmp -o -path ./var/cache -o -path ./var/lib/apt \
    -o -path ./var/log -o -path ./var/lib/dpkg -o -path ./etc/ld.so.cache -o -path ./var/cache/man \) -prune \
    -o -print | sort)
}
in_root apt-get update -q >"$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log" >&2; fail "apt-get update"; }
list_root >"$WORK/before"

# ---- install, run, purge
in_root apt-get install -y -q "/tmp/quorvanta_${version}_$arch.deb" \
  "/tmp/quorvanta-sim_${version}_$arch.deb" >"$WORK/apt.log" 2>&1 ||
  { cat "$WORK/apt.log" >&2; fail "apt-get install of the packages"; }
debian_root_keep

in_root quorvanta --version >"$WORK/version" 2>&1 || { cat "$WORK/version" >&2; fail "quorvanta --version"; }
grep -qx "quorvanta $version" "$WORK/version" || fail "quorvanta --version: $(cat "$WORK/version")"
grep -q '^platform: this host' "$WORK/version" || fail "quorvanta --version names no platform"
in_root quorvanta-sim init /tmp/pc >/dev/null || fail "quorvanta-sim init"
in_root quorvanta-sim run /tmp/pc --yes >"$WORK/run" 2>&1 || { cat "$WORK/run" >&2; fail "quorvanta-sim run"; }
grep -qx 'message: Succeed to load F/W!!' "$WORK/run" || { cat "$WORK/run" >&2; fail "no whole update"; }
in_root quorvanta-sim show /tmp/pc | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 ' ||
  fail "the drive does not hold the new firmware after the update"
man_page=$(in_root man -w quorvanta) || fail "man -w quorvanta"
[ "$man_page" = /usr/share/man/man1/quorvanta.1.gz ] || fail "man -w quorvanta: $man_page"
in_root man -w quorvanta-sim >/dev/null || fail "man -w quorvanta-sim"

# Both view modules are in the package, beside no copy in the build.
for module in terminal-view.so desktop-view.so; do
  [ -f "$ROOT/usr/lib/quorvanta/views/$module" ] || fail "the package has no /usr/lib/quorvanta/views/$module"
done

# The terminal view in tmux: the agreement read and accepted, a whole update
# on a virtual PC by keys, EXIT; the drive holds the new firmware.
in_root quorvanta-sim init /tmp/pc-terminal >/dev/null || fail "quorvanta-sim init (terminal)"
tm -f /dev/null new-session -d -x 80 -y 24 "chroot '$ROOT' env -i PATH=/usr/bin:/bin HOME=/tmp \
LANG=C.UTF-8 TERM=screen quorvanta --machine /tmp/pc-terminal --ui terminal; echo exit=\$?; sleep 600"
update_by_keys
wait_pane "exit=0" "the end of the run"
in_root quorvanta-sim show /tmp/pc-terminal | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 ' ||
  fail "terminal view: the drive does not hold the new firmware"
tm kill-server

# The desktop view on Xvfb: the agreement's window opens and the screen
# shows its NEXT button where the view's layout record puts it.
# (Its output away from the test's, which would stay open while it runs.)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
xvfb=$!
i=0
while [ ! -s "$WORK/display" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
display=":$(cat "$WORK/display")"
in_root quorvanta-sim init /tmp/pc-desktop >/dev/null || fail "quorvanta-sim init (desktop)"
chroot "$ROOT" env -i PATH=/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 DISPLAY="$display" \
  QV_VIEW_LAYOUT=/tmp/layout.txt quorvanta --machine /tmp/pc-desktop >"$WORK/desktop.out" 2>&1 &
program=$!
i=0
until grep -q '^wait KYODAKUUS' "$ROOT/tmp/layout.txt" 2>/dev/null || [ $i -ge 600 ]; do
  sleep 0.05
  i=$((i + 1))
done
grep -q '^wait KYODAKUUS' "$ROOT/tmp/layout.txt" 2>/dev/null ||
  { cat "$WORK/desktop.out" >&2; fail "desktop view: no agreement window"; }
sleep 0.5  # drawn
want=$(grep '^control 1 ' "$ROOT/tmp/layout.txt" | tail -n 1 | cut -d' ' -f3-6)
# shellcheck disable=SC2086
got=$(DISPLAY=$display "$BUILD/qv_xshot" edges $want) || fail "desktop view: no screenshot"
# shellcheck disable=SC2086
set -- $want $got
for k in 1 2 3 4; do
  eval "a=\${$k}; b=\${$((k + 4))}"
  [ $((a - b)) -le 1 ] && [ $((b - a)) -le 1 ] || fail "desktop view: NEXT at $got on the screen, $want in the model"
done
# shellcheck disable=SC2086
[ "$(DISPLAY=$display "$BUILD/qv_xshot" ink $want)" -gt 20 ] || fail "desktop view: NEXT has no label drawn"
kill "$program"
wait "$program" || true  # ended by the signal
program=""
kill "$xvfb"
wait "$xvfb" || true
xvfb=""

in_root dpkg -L quorvanta quorvanta-sim >"$WORK/files"
in_root apt-get purge -y -q --autoremove quorvanta quorvanta-sim >"$WORK/apt.log" 2>&1 ||
  { cat "$WORK/apt.log" >&2; fail "apt-get purge"; }
while read -r path; do
  [ -e "$ROOT$path" ] && [ ! -d "$ROOT$path" ] && fail "$path is left after the purge"
done <"$WORK/files"
list_root >"$WORK/after"
if ! diff "$WORK/before" "$WORK/after" >"$WORK/diff"; then
  cat "$WORK/diff" >&2
  fail "the purge leaves the root other than it was"
fi
echo "packages:$(cd "$WORK/debs" && printf ' %s' *.deb) installed, run and purged in a fresh Debian 12 root"
