# shellcheck shell=sh
# A fresh Debian 12 root for the tests that install the packages into one
# (tests/package/, tests/installed/). Sourced, not run; the caller defines
# fail MESSAGE.
#
#   debian_root NAME PACKAGES DIR  Debian 12 (apt's variant, with PACKAGES
#                                  besides: comma-separated) made once with
#                                  mmdebstrap into the cache as NAME.tar and
#                                  unpacked into DIR ($DEBIAN_ROOT); the
#                                  packages downloaded by earlier runs in its
#                                  apt cache, so that a run needs the archive
#                                  only for what changed there
#   debian_root_keep               what apt downloaded since, into that cache
#   in_root COMMAND...             COMMAND in the root, in a clean environment
# The cache is QV_CACHE_DIR, else ~/.cache/quorvanta (like the Wine prefix).

debian_root() {
  DEBIAN_CACHE=${QV_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quorvanta}
  mkdir -p "$DEBIAN_CACHE/debian12-debs"
  tarball=$DEBIAN_CACHE/$1.tar
  (
    flock 9
    if [ ! -s "$tarball" ]; then
      mmdebstrap --quiet --variant=apt --format=tar --include="$2" bookworm "$DEBIAN_CACHE/$1.new.tar" \
        "deb http://deb.debian.org/debian bookworm main" \
        "deb http://deb.debian.org/debian bookworm-updates main" \
        "deb http://deb.debian.org/debian-security bookworm-security main" </dev/null &&
        mv "$DEBIAN_CACHE/$1.new.tar" "$tarball"
    fi
  ) 9>"$DEBIAN_CACHE/$1.lock" || fail "cannot make the Debian 12 root with mmdebstrap"
  DEBIAN_ROOT=$3
  mkdir "$DEBIAN_ROOT"
  tar -C "$DEBIAN_ROOT" -xf "$tarball"
  cp /etc/resolv.conf "$DEBIAN_ROOT/etc/resolv.conf"
  cp "$DEBIAN_CACHE/debian12-debs/"*.deb "$DEBIAN_ROOT/var/cache/apt/archives/" 2>/dev/null || true
}

debian_root_keep() {
  cp "$DEBIAN_ROOT/var/cache/apt/archives/"*.deb "$DEBIAN_CACHE/debian12-debs/" 2>/dev/null || true
}

in_root() {
  chroot "$DEBIAN_ROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
