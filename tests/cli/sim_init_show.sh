#!/bin/sh
# quorvanta-sim init, show and pack: what a made virtual PC shows, and bad
# options or directories refused with exit code 2 and nothing changed.
# Usage: sh sim_init_show.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=sim_init_show
. "$(dirname "$0")/lib/common.sh"

snapshot() {  # DIR -> a listing of every file with its checksum
  (cd "$1" && find . -type f -exec md5sum {} + | sort) 2>/dev/null
}

# The defaults: Windows 98, one T71 USB drive at 0:0, a package, auto-insert on.
"$SIM" init "$WORK/pc" || fail "init with defaults"
before=$(snapshot "$WORK/pc")
"$SIM" show "$WORK/pc" >"$WORK/show.txt" || fail "show"
[ "$before" = "$(snapshot "$WORK/pc")" ] || fail "show changed the PC"
expect_line "$WORK/show.txt" "drive 0:0 T71 CDRW USB rev=1.00 code=0x11 model=0x04 disc=0"
expect_line "$WORK/show.txt" 'autoinsert Enum\SCSI\VANTROS_T71_CDRW_USB\USB&A0&T0 01'
expect_line "$WORK/show.txt" 'resume C:\WINDOWS\Tellmr1.DAT absent'
expect_line "$WORK/show.txt" 'run Quorvanta absent'
expect_line "$WORK/show.txt" "power none"
[ -f "$WORK/pc/drive_c/Quorvanta/Tellumar.inf" ] || fail "no package description"

# Two models on two adapters, NT, auto-insert off.
"$SIM" init "$WORK/pc2" --os nt --lang 0x0411 --ticks 4294967000 --screen 800x600 \
  --drive '0:1:t71:usb' --drive '1:3:r305:usb:rev=2.00,disc=1' \
  --package r305 --autoinsert 0 || fail "init with options"
"$SIM" show "$WORK/pc2" >"$WORK/show2.txt" || fail "show pc2"
expect_line "$WORK/show2.txt" "machine os=nt lang=0x0411 ticks=4294967000 screen=800x600 adapters=2 realtime=0"
expect_line "$WORK/show2.txt" 'autoinsert Enum\SCSI\VANTROS_R305_CDRW_USB\USB&A1&T3 00'
expect_line "$WORK/show2.txt" "drive 0:1 T71 CDRW USB rev=1.00 code=0x11 model=0x04 disc=0"
grep -q '^drive 1:3 R305 CDRW USB rev=2.00 .* disc=1$' "$WORK/show2.txt" || fail "r305 drive line"

"$SIM" init "$WORK/pc3/" --drive none --package none || fail "init without drives"
"$SIM" show "$WORK/pc3" >"$WORK/show3.txt" || fail "show pc3"
grep -q '^drive ' "$WORK/show3.txt" && fail "a PC without drives shows a drive"

# Refusals: exit 2, one line on stderr, nothing created.
for args in "--os 95" "--lang 0x10000" "--ticks 4294967296" "--screen 10x10" \
  "--drive 9:9:t71:usb" "--drive 0:0:t71:usb --drive 0:0:r305:usb" "--drive none --drive 0:0:t71:usb" \
  "--package t99" "--autoinsert 2" "--adapters 9" "--realtime" "--bogus 1" "--adapters 1 --drive 2:0:t71:usb"; do
  # shellcheck disable=SC2086
  "$SIM" init "$WORK/bad" $args 2>"$WORK/err.txt"
  rc=$?
  [ "$rc" = 2 ] || fail "init $args gave exit code $rc"
  [ "$(wc -l <"$WORK/err.txt")" = 1 ] || fail "init $args: not one line on stderr"
  [ -e "$WORK/bad" ] && fail "init $args left $WORK/bad behind"
done
# An empty value is refused as a missing one is.
"$SIM" init "$WORK/bad" --fail "" 2>/dev/null
[ $? = 2 ] || fail "init with an empty --fail"
[ -e "$WORK/bad" ] && fail "init with an empty value left $WORK/bad behind"
ls "$WORK" | grep -q '\.init-' && fail "init left a temporary directory"

# A virtual PC is never overwritten.
before=$(snapshot "$WORK/pc")
"$SIM" init "$WORK/pc" 2>/dev/null
[ $? = 2 ] || fail "init over an existing PC"
[ "$before" = "$(snapshot "$WORK/pc")" ] || fail "init changed an existing PC"

# Missing and malformed PCs.
"$SIM" show "$WORK/nothing" 2>/dev/null
[ $? = 2 ] || fail "show of a missing PC"
echo "os=95" >>"$WORK/pc3/machine.ini"
before=$(snapshot "$WORK/pc3")
"$SIM" show "$WORK/pc3" 2>"$WORK/err.txt"
[ $? = 2 ] || fail "show of a malformed PC"
grep -q machine.ini "$WORK/err.txt" || fail "the error does not name machine.ini"
"$SIM" run "$WORK/pc3" --yes 2>/dev/null
[ $? = 2 ] || fail "run of a malformed PC"
[ "$before" = "$(snapshot "$WORK/pc3")" ] || fail "a refused PC was changed"
# A directory where a file of the PC belongs: one line naming it, exit 2,
# nothing changed, from both programs.
for part in drives/0-1.drive machine.ini registry.reg; do
  rm -rf "$WORK/dirpc"
  cp -r "$WORK/pc" "$WORK/dirpc"
  rm -f "$WORK/dirpc/$part"
  mkdir -p "$WORK/dirpc/$part"
  before=$(snapshot "$WORK/dirpc")
  "$SIM" show "$WORK/dirpc" >/dev/null 2>"$WORK/err.txt"
  [ $? = 2 ] || fail "show with a directory for $part"
  grep -q "$part: is a directory, not a file" "$WORK/err.txt" ||
    { fail "show does not say that $part is a directory"; cat "$WORK/err.txt"; }
  "$QV" --machine "$WORK/dirpc" --list >/dev/null 2>"$WORK/err.txt"
  [ $? = 2 ] || fail "quorvanta with a directory for $part"
  [ "$(wc -l <"$WORK/err.txt")" = 1 ] || { fail "quorvanta: not one line for $part"; cat "$WORK/err.txt"; }
  grep -q "$part: is a directory, not a file" "$WORK/err.txt" || fail "quorvanta does not name $part"
  [ "$before" = "$(snapshot "$WORK/dirpc")" ] || fail "a PC with a directory for $part was changed"
done

"$SIM" run "$WORK/pc" --nope 2>/dev/null
[ $? = 2 ] || fail "run with a bad option"
"$SIM" frobnicate 2>/dev/null
[ $? = 2 ] || fail "unknown command"

# pack writes a package; a bad option writes nothing.
"$SIM" pack "$WORK/pkg" --model t71 --rev 1.20 || fail "pack"
[ -f "$WORK/pkg/Tellumar.inf" ] || fail "pack wrote no description"
"$SIM" pack "$WORK/pkg2" --model t99 --rev 1.20 2>/dev/null
[ $? = 2 ] || fail "pack with a bad model"
[ -e "$WORK/pkg2" ] && fail "a refused pack wrote something"

finish
