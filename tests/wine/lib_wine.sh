# Shared by the tests under Wine (sourced, not run): a cached Wine prefix, a
# private X server, the probe that reads the program's windows, and clicks
# through xdotool where Wine's USER32 takes them as a user's.
#
# BUILD is the cross build (its zip unpacked, wnaspi32.dll, qvprobe.exe,
# dialog_rects.exe), HOST_TOOLS a native build (quorvanta-sim,
# qv_dialog_rects).

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
    # The dialogs' font is not part of Wine: IPA P Gothic stands in for it,
    # as it does in the desktop view.
    if [ ! -f "$WINEPREFIX/quorvanta-fonts" ]; then
      printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"ＭＳ Ｐゴシック"="IPAPGothic"' '"MS PGothic"="IPAPGothic"' |
        iconv -f UTF-8 -t UTF-16LE >"$cache/fonts.body"
      { printf '\377\376'; cat "$cache/fonts.body"; } >"$cache/fonts.reg"
      env -u DISPLAY wine regedit /S "$cache/fonts.reg" >/dev/null 2>&1 || exit 1
      wineserver -w
      touch "$WINEPREFIX/quorvanta-fonts"
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
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 && wineserver -w
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${WORK:-}" ] && [ -z "${QV_KEEP_WORK:-}" ] && rm -rf "$WORK"
  return 0
}

# How every test starts: the builds named by its arguments (the cross build
# and a native build), a work folder removed at the end, the prefix, a
# private X server.
begin_wine_test() {
  [ $# -eq 2 ] || fail "usage: $0 CROSS_BUILD_DIR NATIVE_BUILD_DIR"
  BUILD=$(cd "$1" && pwd)
  HOST_TOOLS=$(cd "$2" && pwd)
  WORK=$(mktemp -d)
  trap stop_all EXIT
  wine_prefix
  start_x
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

# A virtual PC whose drives the test wnaspi32.dll serves (one drive, $1 in
# quorvanta-sim's form; a T71 USB drive at 1.00 by default), and a 1.10
# package in the program's folder (more `pack` options in $2). The rest of
# the PC (version, language, registry, Windows directory) is Wine's.
make_update_pc() {
  SIM="$HOST_TOOLS/quorvanta-sim"
  "$SIM" init "$WORK/pc" --drive "${1:-0:0:t71:usb:rev=1.00,code=0x11}" --package none >/dev/null
  # shellcheck disable=SC2086
  "$SIM" pack "$WORK/app" --model t71 --rev 1.10 ${2:-} >/dev/null
  # The program as the zip holds it (unpacked by the test wine_zip).
  set -- "$BUILD"/zip/unpacked/Quorvanta-*/Quorvanta.exe
  [ -f "$1" ] || fail "no unpacked zip in $BUILD/zip: run the test wine_zip first"
  cp "$1" "$BUILD/wnaspi32.dll" "$BUILD/qvprobe.exe" "$WORK/app/"
  export QV_ASPI_MACHINE="Z:$(echo "$WORK/pc" | tr / '\\')"
  # What an earlier run left in the prefix's registry does not count.
  wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Quorvanta /f \
    >/dev/null 2>&1 || true
}

# The rate the program's clock and the test DLL's drives run at in the
# updates under Wine: their minute-long waits shrink with it. (One two-stage
# update of the suite waits in real time, in the kernel's test.)
REHEARSAL=${QV_WINE_REHEARSAL_RATE:-10}

# Starts Quorvanta.exe in its folder with the user's locale $1 (Wine takes
# the user's language from it) and the program arguments that follow; sets
# PROGRAM (the wine process). The processes Wine starts on the program's
# behalf (its shutdown goes through wineboot) are traced into program.log.
start_program() {
  STARTED=$(date +%s)
  locale=$1
  shift
  (cd "$WORK/app" && LANG=$locale LC_ALL=$locale WINEDEBUG=-all,trace+process \
    exec wine Quorvanta.exe "$@" >"$WORK/program.log" 2>&1) &
  PROGRAM=$!
}

# Wine was asked to end its session with a shutdown ($1 = shutdown) or a
# restart: ExitWindowsEx hands that to wineboot.
expect_power_request() {
  grep -a 'cmdline .*wineboot\.exe --end-session' "$WORK/program.log" >"$WORK/power" ||
    fail "Wine was never asked to end its session"
  if grep -q -- '--shutdown' "$WORK/power"; then
    [ "$1" = shutdown ] || fail "a shutdown, not a restart: $(cat "$WORK/power")"
  else
    [ "$1" != shutdown ] || fail "not a shutdown: $(cat "$WORK/power")"
  fi
}

# The agreement: the choices and NEXT wait until the text has been read to
# its end; clicks in the scroll bar's trough, just above its lower arrow,
# page down. Then Accept and NEXT.
read_agreement() {
  wait_window_with 1006 60
  agreement=$WIN
  set -- $(control_state "$agreement" 1004)
  [ "$2" = 0 ] || fail "Accept enabled before the agreement was read"
  set -- $(control_state "$agreement" 1006)
  x=$((($4 + $6) / 2))
  y=$(($7 - ($6 - $4) - 4))
  pages=0
  while :; do
    set -- $(control_state "$agreement" 1004)
    [ "$2" = 1 ] && break
    pages=$((pages + 1))
    [ $pages -le 60 ] || fail "Accept still disabled after 60 pages"
    xdotool mousemove $x $y click 1
    sleep 0.1
    dump
  done
  click "$agreement" 1004
  click "$agreement" 1
  echo "agreement read in $pages pages and accepted"
}

# The main dialog lists the drive (its row reads $1, "USB" by default, its
# revision $2, "1.00 (11)" by default), chosen; UPDATE. Sets MAIN.
start_update() {
  wait_window_with 1001 60
  MAIN=$WIN
  row=$(control_text "$MAIN" 1003)
  [ "$row" = "${1:-USB}" ] || fail "drive row: $row"
  revision=$(control_text "$MAIN" 31)
  [ "$revision" = "${2:-1.00 (11)}" ] || fail "revision: $revision"
  set -- $(control_state "$MAIN" 1003)
  [ "$3" = 1 ] || click "$MAIN" 1003
  click "$MAIN" 1001
}

# Answers OK to every message box until one whose text starts with $1 or
# with $2 when given (sets LAST), or, with $1 empty, until the program has
# ended. MESSAGES collects the texts, one a line.
answer_messages() {
  MESSAGES=""
  end=$(($(date +%s) + 400))
  while :; do
    dump
    WIN=$(window_with $MESSAGE_TEXT)
    if [ -n "$WIN" ]; then
      LAST=$(control_text "$WIN" $MESSAGE_TEXT)
      echo "message: $LAST"
      MESSAGES="$MESSAGES$LAST
"
      click "$WIN" 1
      if [ -n "$1" ]; then
        case "$LAST" in "$1"*) return 0 ;; esac
        case "$LAST" in "${2:-$1}"*) return 0 ;; esac
      fi
      # The next box is a new window: wait for this one to go.
      while [ "$(window_with $MESSAGE_TEXT)" = "$WIN" ]; do
        sleep 0.2
        dump
      done
    elif [ -z "$1" ] && ! kill -0 "$PROGRAM" 2>/dev/null; then
      return 0
    fi
    [ "$(date +%s)" -lt "$end" ] || fail "no end of the update within 400 s"
    sleep 0.5
  done
}

# Waits up to $1 seconds for the program to end.
wait_program_end() {
  i=0
  while kill -0 "$PROGRAM" 2>/dev/null; do
    i=$((i + 1))
    [ $i -le $(($1 * 10)) ] || fail "the program did not end"
    sleep 0.1
  done
  echo "the program ran $(($(date +%s) - STARTED)) s"
}

# The emulated drive boots with firmware revision $1.
expect_drive_revision() {
  show=$("$SIM" show "$WORK/pc")
  echo "$show" | grep "^drive 0:0"
  echo "$show" | grep -q "^drive 0:0 T71 CDRW USB rev=$1 " || fail "drive not at $1: $show"
}

expect_no_run_entry() {
  if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Quorvanta \
    >/dev/null 2>&1; then
    fail "a Run entry was left behind"
  fi
}

# The progress bar (control 1013 of the main dialog) as the screen shows it:
# the colour runs along its middle row inside its sunken frame.
bar_runs() {
  set -- $(control_state "$MAIN" 1013)
  wine "$WORK/app/qvprobe.exe" row $(($4 + 1)) $((($5 + $7) / 2)) $(($6 - $4 - 2)) 2>/dev/null |
    tr -d '\r'
}
