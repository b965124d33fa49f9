#!/bin/sh
# Runs inside the guest that spti_guest.sh boots, in the root made of this
# machine's files. Two emulated drives (a T71 at 0:0, an R305 at 1:0) are
# served through the kernel's SCSI target by qv_tcmu_drives and show as
# /dev/sr*; each stays away 80 s of its clock after its restart (8 s of the
# wall, longer than the program's wait after the image), so the program
# finds it only on a later scan pass, as a USB drive that Windows enumerates
# again seconds late; Wine is told of them as a user tells it of CD drives (a drive
# letter, its device, its type) and Quorvanta.exe from the zip, with no
# ASPI layer at all, reaches them through \\.\CdRomN and SCSI pass-through,
# which Wine turns into SG_IO on the sr device. One Wine session (one
# wineserver, one probe) serves the runs:
#   - English, Windows 98: the T71 by the two-stage path;
#   - Japanese, Windows XP: the R305 by the direct path;
#   - English, Windows XP, the devices there but refused (EACCES): the
#     no-device message with the note on rights beside it.
# What the drives received is held against each run's capture (--record)
# and the package; each capture replays on a virtual PC.
#
#   sh spti_cases.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR OUT_DIR WINEPREFIX
set -eu
BUILD=$1
HOST_TOOLS=$2
OUT=$3
export WINEPREFIX=$4
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=/tmp/spti
mkdir -p "$WORK"
. "$HERE/../wine/lib_wine.sh"
export WINEARCH=win32 WINEDEBUG=-all
# No ASPI layer: neither the tests' wnaspi32.dll nor Wine's own.
export WINEDLLOVERRIDES="wnaspi32=;mscoree,mshtml="
SIM=$HOST_TOOLS/quorvanta-sim
REHEARSAL=10
CR=$(printf '\r')
# On a failure, what the program and the drive server said.
trap 'code=$?; if [ $code -ne 0 ]; then
  echo "--- program.log:"; grep -av "trace:process" "$WORK/program.log" 2>/dev/null | tail -20
  echo "--- drive server:"; tail -5 "$WORK/handler.err" 2>/dev/null
  ls -l "$WORK" /dev/sr*; cp -r "$WORK"/*.jsonl "$WORK"/handler.* "$WORK"/program.log "$WORK"/received "$OUT"/ 2>/dev/null; fi
  # Nothing left running: the cases may run again in the same guest.
  wineserver -k 2>/dev/null; [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${HANDLER:-}" ] && kill "$HANDLER" 2>/dev/null && wait "$HANDLER"
  exit $code' EXIT

phase() { echo "== $* ($(cut -d' ' -f1 /proc/uptime) s since boot)"; }

# --- the drives ---------------------------------------------------------

"$SIM" init "$WORK/pc" --drive 0:0:t71:usb:rev=1.00,code=0x11,absent=80000 \
  --drive 1:0:r305:usb:rev=1.00,code=0x13,absent=80000 --package none >/dev/null || fail "init"
mkdir -p "$WORK/received"
"$HOST_TOOLS/qv_tcmu_drives" "$WORK/pc" --rehearsal-clock-rate $REHEARSAL --record "$WORK/received" \
  >"$WORK/handler.out" 2>"$WORK/handler.err" &
HANDLER=$!
i=0
while [ "$(cat /sys/block/sr*/device/model 2>/dev/null | grep -c '^T71\|^R305')" -ne 2 ]; do
  i=$((i + 1))
  [ $i -le 300 ] || fail "the drives did not show as sr devices: $(cat "$WORK/handler.err")"
  sleep 0.1
done
phase "drives served"

# Each CD drive a letter (its folder, "X::" its device) and the type cdrom,
# as winecfg records them (the registry written before Wine starts: the
# mount manager reads it once). Under Wine 8 those alone gave the program
# no drive: \\.\CdRomN then names the mount manager's own device. A
# dosdevices entry "cdromN" does: Wine then opens \\.\CdRomN as that Linux
# device, and its pass-through becomes SG_IO on it.
letters="d e f g"
: >"$WORK/drives.reg"
for sr in /sys/block/sr*; do
  letter=${letters%% *}
  letters=${letters#* }
  mkdir -p "/mnt/${sr##*/}"
  ln -sfn "/mnt/${sr##*/}" "$WINEPREFIX/dosdevices/$letter:"
  ln -sfn "/dev/${sr##*/}" "$WINEPREFIX/dosdevices/$letter::"
  printf '"%s:"="cdrom"\n' "$letter" >>"$WORK/drives.reg"
  echo "$letter: /dev/${sr##*/} $(cat "$sr/device/model")"
done
# cdromN for every sr name the kernel may give: a drive that restarts comes
# back as a new device, under a new name while its old one is still held.
for n in 0 1 2 3 4 5 6 7; do ln -sfn "/dev/sr$n" "$WINEPREFIX/dosdevices/cdrom$n"; done
{
  printf '\n[Software\\\\Wine\\\\Drives] 1700000000\n'
  cat "$WORK/drives.reg"
} >>"$WINEPREFIX/system.reg"

# --- one Wine session ---------------------------------------------------

start_x
wineserver -p
# The probe, kept running: a command line in, its answer and "end" out.
mkdir -p "$WORK/app"
cp "$BUILD/spti_probe.exe" "$WORK/app/"
mkfifo "$WORK/probe.in" "$WORK/probe.out"
start_probe() {
  (cd "$WORK/app" && exec wine spti_probe.exe <"$WORK/probe.in" >"$WORK/probe.out" 2>/dev/null) &
  exec 7>"$WORK/probe.in" 8<"$WORK/probe.out"
}
start_probe
dump_raw() {
  echo dump >&7
  : >"$WORK/dump"
  while IFS= read -r line <&8; do
    line=${line%"$CR"}
    [ "$line" = end ] && return 0
    printf '%s\n' "$line" >>"$WORK/dump"
  done
  fail "the probe ended"
}
# During an update that must succeed an error box ends the run at once.
dump_checked() {
  dump_raw
  [ -n "${NO_ERRORS:-}" ] || return 0
  box=$(window_with $MESSAGE_TEXT)
  [ -n "$box" ] || return 0
  case "$(control_text "$box" $MESSAGE_TEXT)" in
    Error* | Failed* | エラー* | ファームウエアのアップデートが正常に終了しませんでした*)
      fail "an error was shown: $(control_text "$box" $MESSAGE_TEXT)" ;;
  esac
}
dump() { dump_checked; }
dump
phase "Wine started"

# --- the runs -------------------------------------------------------------

# wait_window_with of lib_wine.sh, given up at once when the program ends.
wait_window_with() {  # CONTROL SECONDS
  end=$(($(date +%s) + $2))
  while :; do
    dump
    WIN=$(window_with "$1")
    [ -n "$WIN" ] && return 0
    kill -0 "$PROGRAM" 2>/dev/null || fail "the program ended before showing control $1"
    [ "$(date +%s)" -lt "$end" ] || fail "no window with control $1 within $2 s"
    sleep 0.5
  done
}

# The probe reads a control's text by asking the program's thread, which may
# not answer in time on a loaded machine (the text then reads empty): it is
# looked at again before the text counts as wrong.
expect_text() {  # WINDOW CONTROL TEXT
  looks=0
  until [ "$(control_text "$1" "$2")" = "$3" ]; do
    looks=$((looks + 1))
    [ $looks -le 10 ] || fail "control $2 reads \"$(control_text "$1" "$2")\", not \"$3\""
    sleep 0.5
    dump
  done
}

# The agreement scrolled to its end by pages (clicks in the scroll bar's
# trough above its lower arrow), looked at every few pages; then Accept
# and NEXT.
accept_agreement() {
  wait_window_with 1006 240
  agreement=$WIN
  set -- $(control_state "$agreement" 1006)
  x=$((($4 + $6) / 2))
  y=$(($7 - ($6 - $4) - 4))
  looks=0
  while :; do
    set -- $(control_state "$agreement" 1004)
    [ "$2" = 1 ] && break
    looks=$((looks + 1))
    [ $looks -le 8 ] || fail "Accept still disabled after 80 pages"
    xdotool mousemove $x $y click --repeat 10 --delay 60 1
    dump
  done
  click "$agreement" 1004
  click "$agreement" 1
}

# The main dialog shows both drives' rows (the T71's revision $1, the
# R305's 1.00 (13)); row $ROW is chosen, UPDATE.
update_row() {
  wait_window_with 1001 240
  MAIN=$WIN
  for row in "1003 31 $1" "1004 1020 1.00 (13)"; do
    set -- $row
    expect_text "$MAIN" "$1" USB
    expect_text "$MAIN" "$2" "$3 $4"
  done
  echo "rows: USB $(control_text "$MAIN" 31), USB $(control_text "$MAIN" 1020)"
  click "$MAIN" "$ROW"
  click "$MAIN" 1001
}

capture_path() { printf 'Z:%s\n' "$(echo "$WORK/$1.jsonl" | tr / '\\')"; }

# What drive $2 (A:T) received, against capture $1: every command the
# capture holds for it (but those with no device there, or whose device had
# gone, which never reached a drive) was served, in order, with the same command block
# (up to the zero bytes a shorter block leaves off) and data length; the
# others the drive served are the kernel's and Wine's own questions (the
# SCSI scan, sr_mod, the mount manager) or retries. The image and loader
# data the drive took are the package's.
expect_received() {  # NAME A:T
  served="$WORK/received/$(echo "$2" | tr : _)"
  awk -v at="$2" '
    BEGIN { n = 0; j = 0 }
    function norm(cdb) { cdb = toupper(cdb); while (cdb ~ / 00$/) sub(/ 00$/, "", cdb); return cdb }
    function field(name,   v) {
      v = $0
      if (!sub(".*\"" name "\":", "", v)) return ""
      sub(/^"/, "", v); sub(/["},].*/, "", v)
      return v
    }
    FNR == NR {
      if ($0 !~ /^\{"i":/ || field("at") != at || field("status") == "0x82" || field("ha") == "0x11") next
      # A command still pending when the next was sent has a second, late line.
      if (field("i") in seen) next
      seen[field("i")] = 1
      sent[n++] = norm(field("cdb")) " len=" field("len")
      next
    }
    {
      got = norm(substr($0, 1, index($0, " len=") - 1)) substr($0, index($0, " len="))
      if (j < n && got == sent[j]) { last = got; j++; next }
      if (got == last) next
      split(got, op, " ")
      if (op[1] ~ /^(00|03|12|1A|1E|25|43|46|4A|51|5A|A0|BD)$/) next
      printf "served but not sent: %s (next sent: %s)\n", got, sent[j]
      bad = 1
    }
    END {
      if (j < n) { printf "sent but not served: %s\n", sent[j]; bad = 1 }
      printf "%s: %d commands sent, %d matched in what the drive served\n", at, n, j
      exit bad
    }' "$WORK/$1.jsonl" "$served.cdbs" || fail "$1: what the drive received differs from the capture"
  cmp "$served.image" "$WORK/$1/Tellumar.bin" || fail "$1: the image the drive received is not the package's"
  loader="$WORK/$1/Tellmr.bin"
  if grep -q "\"at\":\"$2\",\"cdb\":\"cd " "$WORK/$1.jsonl"; then
    length=$(od -An -tu1 -j62 -N2 "$loader" | awk '{ print $1 * 256 + $2 }')
    tail -c +65 "$loader" | head -c "$length" | cmp - "$served.loader" ||
      fail "$1: the loader data the drive received is not the package's"
  fi
}

# The capture replays on a virtual PC, every command identical, with the
# drive the user chose (ARGS for the program there); it is kept for the
# corpus, with those arguments.
expect_replay() {  # NAME [ARGS]
  name=$1
  shift
  if [ $# -gt 0 ]; then
    "$SIM" replay "$WORK/$name.jsonl" -- "$@" >"$WORK/$name.replay" 2>"$WORK/$name.verdict"
    echo "$@" >"$OUT/$name.args"
  else
    "$SIM" replay "$WORK/$name.jsonl" >"$WORK/$name.replay" 2>"$WORK/$name.verdict"
  fi || fail "$name: the capture does not replay: $(cat "$WORK/$name.verdict")"
  cat "$WORK/$name.verdict"
  cp "$WORK/$name.jsonl" "$OUT/$name.jsonl"
  cp "$WORK/$name.replay" "$OUT/$name.out"
}

expect_channel() {
  grep -q '^Quorvanta: drive commands through SCSI pass-through' "$WORK/program.log" ||
    fail "the program did not say it used pass-through: $(head -3 "$WORK/program.log")"
}

# A run: package for model $2 at 1.10 in the program's folder $1.
prepare_run() {  # NAME MODEL
  rm -rf "$WORK/$1" && mkdir -p "$WORK/$1"
  "$SIM" pack "$WORK/$1" --model "$2" --rev 1.10 >/dev/null || fail "$1: pack"
  cp "$BUILD"/zip/unpacked/Quorvanta-*/Quorvanta.exe "$WORK/$1/"
  [ ! -e "$WORK/$1/wnaspi32.dll" ] || fail "an ASPI layer beside the program"
  rm -f "$WORK/received"/*.image "$WORK/received"/*.loader "$WORK/received"/*.cdbs
  WORK_APP=$WORK/$1
}

# start_program of lib_wine.sh, in the run's own folder.
start_run() {  # NAME LOCALE ARGS...
  name=$1
  shift
  STARTED=$(date +%s)
  locale=$1
  shift
  (cd "$WORK/$name" && LANG=$locale LC_ALL=$locale WINEDEBUG=-all,trace+process${QV_SPTI_WINEDEBUG:+,$QV_SPTI_WINEDEBUG} \
    exec wine Quorvanta.exe "$@" >"$WORK/program.log" 2>&1) &
  PROGRAM=$!
}

# 1. English, Windows 98: the T71 by the two-stage path.
NO_ERRORS=1
wine_version win98
prepare_run t71_two_stage t71
phase "two-stage update of the T71"
start_run t71_two_stage en_US.UTF-8 --record "$(capture_path t71_two_stage)" --rehearsal-clock-rate $REHEARSAL
accept_agreement
ROW=1003
update_row "1.00 (11)"
answer_messages "Succeed to load F/W!!"
if echo "$MESSAGES" | grep -q "^Error\|^Failed"; then fail "an error was shown"; fi
dump
click "$MAIN" 1002
wait_program_end 60
expect_channel
grep -q "rehearsal clock, $REHEARSAL times" "$WORK/program.log" || fail "the rehearsal clock was not told"
"$SIM" show "$WORK/pc" | grep '^drive'
"$SIM" show "$WORK/pc" | grep -q '^drive 0:0 T71 CDRW USB rev=1.10 ' || fail "the T71 is not at 1.10"
expect_received t71_two_stage 0:0
expect_replay t71_two_stage

# 2. Japanese, Windows XP: the R305 by the direct path, which ends asking
# Windows for a shutdown.
wine_version winxp
prepare_run r305_direct r305
phase "direct update of the R305"
start_run r305_direct ja_JP.UTF-8 --record "$(capture_path r305_direct)" --rehearsal-clock-rate $REHEARSAL
wait_window_with 1006 240
expect_text "$WIN" 1004 "許諾する"
accept_agreement
ROW=1004
update_row "1.10 (12)"
answer_messages ""
printf '%s' "$MESSAGES" | grep -q "^－決して実行途中で" || fail "no Japanese warnings: $MESSAGES"
wait_program_end 60
expect_channel
expect_power_request shutdown
"$SIM" show "$WORK/pc" | grep '^drive'
expect_received r305_direct 1:0
expect_replay r305_direct --yes --drive 1:0

NO_ERRORS=
# 3. The devices there, but refused: device nodes on a file system that
# allows none (open gives EACCES, as for a user without the rights).
mkdir -p /mnt/nodev
mount -t tmpfs -o nodev nodev /mnt/nodev
for sr in /sys/block/sr*; do
  mknod "/mnt/nodev/${sr##*/}" b "$(cut -d: -f1 "$sr/dev")" "$(cut -d: -f2 "$sr/dev")"
  for link in "$WINEPREFIX"/dosdevices/*:: "$WINEPREFIX"/dosdevices/cdrom*; do
    [ "$(readlink "$link")" = "/dev/${sr##*/}" ] && ln -sfn "/mnt/nodev/${sr##*/}" "$link"
  done
done
prepare_run refused t71
phase "devices refused"
start_run refused en_US.UTF-8
accept_agreement
answer_messages "Error: No device could be detected."
case "$LAST" in
  *"administrator rights"*) ;;
  *) fail "no word on rights beside the message: $LAST" ;;
esac
echo "message: $LAST"
wait_program_end 60
expect_channel

echo "spti cases: passed"
