#!/bin/sh
# The whole dialogue of Quorvanta.exe inside Wine, as a user goes through it
# with the mouse: Windows 98 reporting, English, one emulated T71 USB drive
# at 1.00 behind the test wnaspi32.dll and a 1.10 package beside the program.
# The agreement is scrolled to its end and accepted, the drive is chosen,
# UPDATE, every question answered OK; the update must end with
# "Succeed to load F/W!!" and the drive must hold the new firmware.
#
#   sh tests/wine/two_stage_update.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
BUILD=$(cd "$1" && pwd)
HOST_TOOLS=$(cd "$2" && pwd)
. "$(dirname "$0")/lib_wine.sh"
WORK=$(mktemp -d)
trap stop_all EXIT

sim="$HOST_TOOLS/quorvanta-sim"
"$sim" init "$WORK/pc" --os 98 --drive 0:0:t71:usb:rev=1.00,code=0x11 --package none >/dev/null
"$sim" pack "$WORK/app" --model t71 --rev 1.10 >/dev/null
cp "$BUILD/Quorvanta.exe" "$BUILD/wnaspi32.dll" "$BUILD/qvprobe.exe" "$WORK/app/"
export QV_ASPI_MACHINE="Z:$(echo "$WORK/pc" | tr / '\\')"

wine_prefix
start_x
wine_version win98
started=$(date +%s)
(cd "$WORK/app" && exec wine Quorvanta.exe >"$WORK/program.log" 2>&1) &
PROGRAM=$!

# The agreement: NEXT and the choices wait until the text has been read.
wait_window_with 1006 60
agreement=$WIN
set -- $(control_state "$agreement" 1004)
[ "$2" = 0 ] || fail "Accept enabled before the agreement was read"
set -- $(control_state "$agreement" 1006)
# Clicks in the scroll bar's trough, just above its lower arrow, page down.
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

# The main dialog lists the drive; its radio button is chosen already.
wait_window_with 1001 60
main=$WIN
[ "$(control_text "$main" 1003)" = "USB" ] || fail "drive row: $(control_text "$main" 1003)"
[ "$(control_text "$main" 31)" = "1.00 (11)" ] || fail "revision: $(control_text "$main" 31)"
set -- $(control_state "$main" 1003)
[ "$3" = 1 ] || click "$main" 1003
click "$main" 1001

# Every question answered OK, until the last message.
messages=""
last=""
while :; do
  wait_window_with $MESSAGE_TEXT 300
  last=$(control_text "$WIN" $MESSAGE_TEXT)
  echo "message: $last"
  messages="$messages$last
"
  case "$last" in
    "Succeed to load F/W!!"*) click "$WIN" 1; break ;;
    Error*|Failed*) click "$WIN" 1; fail "the update ended with: $last" ;;
  esac
  click "$WIN" 1
done
echo "$messages" | grep -q "^Close all other applications" || fail "no request to close other programs"

# Only EXIT is enabled after the update; the bar and the note stay.
dump
set -- $(control_state "$main" 1001)
[ "$2" = 0 ] || fail "UPDATE enabled after the update"
note=$(control_text "$main" 1015)
case "$note" in "Note: This may take several minutes."*) ;; *) fail "note: $note" ;; esac
click "$main" 1002
i=0
while kill -0 $PROGRAM 2>/dev/null; do
  i=$((i + 1))
  [ $i -le 100 ] || fail "the program did not end after EXIT"
  sleep 0.1
done
echo "dialogue took $(($(date +%s) - started)) s"

# The drive holds the new firmware; nothing is left in Wine's registry.
show=$("$sim" show "$WORK/pc")
echo "$show" | grep "^drive 0:0"
echo "$show" | grep -q "^drive 0:0 T71 CDRW USB rev=1.10 " || fail "drive not updated: $show"
if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Quorvanta >/dev/null 2>&1; then
  fail "a Run entry was left behind"
fi
echo "PASS"
