# Shared by the tests under Wine (sourced, not run): a cached Wine prefix, a
# private X server, the probe that reads the program's windows, and clicks
# through xdotool where Wine's USER32 takes them as a user's.
#
# Needs: BUILD (the cross build: Quorvanta.exe, wnaspi32.dll, qvprobe.exe)
# and HOST_TOOLS (a native build: quorvanta-sim).

fail() {
  echo "FAIL: $*" >&2
  if [ -n "${WORK:-}" ] && [ -f "$WORK/dump" ]; then
    echo "--- windows at the failure:" >&2
    cat "$WORK/dump" >&2
  fi
  exit 1
}

# The prefix is made once (a cold one takes half a minute) and kept in the
# cache directory; every later run only starts its wineserver.
wine_prefix() {
  cache=${QV_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quorvanta}
  mkdir -p "$cache"
  export WINEPREFIX="$cache/wine-i686" WINEARCH=win32 WINEDEBUG=-all
  # The test DLL, not Wine's own wnaspi32; no Mono or Gecko installers.
  export WINEDLLOVERRIDES="wnaspi32=n;mscoree,mshtml="
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      rm -rf "$WINEPREFIX"
      env -u DISPLAY wineboot -i >/dev/null 2>&1 || exit 1
      wineserver -w
    fi
  ) 9>"$cache/wine-i686.lock" || fail "cannot make the Wine prefix $WINEPREFIX"
}

# A private X server for this test, ended with it.
start_x() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  i=0
  while [ ! -s "$WORK/display" ]; do
    i=$((i + 1))
    [ $i -le 100 ] || fail "Xvfb did not start"
    sleep 0.1
  done
  export DISPLAY=":$(cat "$WORK/display")"
}

stop_all() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${WORK:-}" ] && [ -z "${QV_KEEP_WORK:-}" ] && rm -rf "$WORK"
  return 0
}

# Sets the Windows version Wine reports to Quorvanta.exe (win98, winxp...).
wine_version() {
  wine reg add 'HKCU\Software\Wine\AppDefaults\Quorvanta.exe' /v Version /d "$1" /f >/dev/null 2>&1 ||
    fail "cannot set the Windows version"
}

# The windows now on the screen, as qvprobe prints them, in $WORK/dump.
dump() {
  # The probe is a Windows console program: its lines end in CR LF.
  wine "$WORK/app/qvprobe.exe" dump 2>/dev/null | tr -d '\r' >"$WORK/dump" || true
}

# The top-level window that holds control $1 (its handle), or nothing.
window_with() {
  awk -v id="$1" '$1 == "window" { w = $2 } $1 == "control" && $3 == id { print w; exit }' "$WORK/dump"
}

# Field lines of control $2 of window $1: "VISIBLE ENABLED CHECKED L T R B".
control_state() {
  awk -v win="$1" -v id="$2" '
    $1 == "window" { inside = ($2 == win) }
    inside && $1 == "control" && $3 == id { print $5, $6, $7, $8, $9, $10, $11; exit }' "$WORK/dump"
}

# The text of control $2 of window $1.
control_text() {
  awk -v win="$1" -v id="$2" '
    $1 == "window" { inside = ($2 == win) }
    inside && $1 == "control" && $3 == id {
      line = $0
      for (i = 1; i <= 11; i++) sub(/^[^ ]+ /, "", line)
      sub(/^"/, "", line); sub(/"$/, "", line); print line; exit
    }' "$WORK/dump"
}

# Waits up to $2 seconds for a window that holds control $1; sets WIN.
wait_window_with() {
  end=$(($(date +%s) + $2))
  while :; do
    dump
    WIN=$(window_with "$1")
    [ -n "$WIN" ] && return 0
    [ "$(date +%s)" -lt "$end" ] || fail "no window with control $1 within $2 s"
    sleep 0.5
  done
}

# Clicks the middle of control $2 of window $1 with the mouse.
click() {
  set -- $(control_state "$1" "$2")
  [ $# -eq 7 ] || fail "no control to click"
  xdotool mousemove $((($4 + $6) / 2)) $((($5 + $7) / 2)) click 1
  sleep 0.2
}

# A message box shows its text in control 65535.
MESSAGE_TEXT=65535
