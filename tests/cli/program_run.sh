#!/bin/sh
# The quorvanta program on made virtual PCs: the autopilot's whole run, the
# package refusals in both languages, the drive list and its loader-file
# filter, and usage errors.
# Usage: sh program_run.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=program_run
. "$(dirname "$0")/lib/common.sh"

# The default virtual PC: agreement, main dialog, exit code 0.
"$SIM" init "$WORK/pc" >/dev/null || fail "init"
"$QV" --machine "$WORK/pc" --ui headless --yes --trace "$WORK/trace.txt" >"$WORK/out.txt" 2>"$WORK/err.txt"
rc=$?
[ "$rc" = 0 ] || { fail "autopilot run gave exit code $rc"; cat "$WORK/err.txt"; }
[ "$(grep -c '^dialog: Quorvanta        Ver. 1.0$' "$WORK/out.txt")" -ge 2 ] ||
  { fail "agreement and main dialog not both in the transcript"; cat "$WORK/out.txt"; }
[ -s "$WORK/trace.txt" ] || fail "the autopilot's run left an empty trace"

# Package refusals end start-up with their message, in English and Japanese,
# and a scripted run with exit status 2.
refusal() {  # NAME LANG EXPECTED-LINE SIM-INIT-ARGS... ; then an optional pack
  name=$1
  lang=$2
  expected=$3
  shift 3
  "$SIM" init "$WORK/$name" --lang "$lang" "$@" >/dev/null || fail "init $name"
}
run_expect() {  # NAME EXPECTED-LINE
  "$QV" --machine "$WORK/$1" --ui headless --yes --trace "$WORK/$1.trace" >"$WORK/$1.out" 2>&1
  rc=$?
  [ "$rc" = 2 ] || fail "$1: exit code $rc"
  expect_line "$WORK/$1.out" "$2"
  [ -s "$WORK/$1.trace" ] && fail "$1: a refused package still reached a drive"
}

refusal nopkg 0x0409 "" --package none
run_expect nopkg "message: Error: Couldn't find data file."
refusal nopkg_ja 0x0411 "" --package none
run_expect nopkg_ja "message: エラー：ファイルが見つかりません。"

for lang in 0x0409 0x0411; do
  refusal "size$lang" "$lang" "" --package none
  "$SIM" pack "$WORK/size$lang/drive_c/Quorvanta" --model t71 --rev 1.10 --break size=-1 >/dev/null ||
    fail "pack with a short image"
  refusal "vendor$lang" "$lang" "" --package none
  "$SIM" pack "$WORK/vendor$lang/drive_c/Quorvanta" --model t71 --rev 1.10 --break vendor >/dev/null ||
    fail "pack with a wrong vendor"
done
run_expect size0x0409 "message: Error: Invalid file size."
run_expect vendor0x0409 "message: Error: Invalid data was detected."
run_expect size0x0411 "message: エラー：ファイルサイズが異常です。"
run_expect vendor0x0411 "message: エラー：異常データが検出されました。"

# The drive list: a T71 USB drive at 0:0 and an R305 ATAPI drive at 1:0. A
# package that names loader data keeps the drives that answer the vendor
# query; one without keeps the others.
"$SIM" init "$WORK/two" --drive '0:0:t71:usb:rev=1.00,code=0x11' --drive '1:0:r305:atapi:rev=1.00' \
  --package t71 >/dev/null || fail "init two drives"
"$QV" --machine "$WORK/two" --list >"$WORK/list.txt" 2>"$WORK/list.err" || fail "--list"
printf '0:0\tT71 CDRW USB\t1.00\t11\tUSB\n' >"$WORK/list.want"
cmp -s "$WORK/list.txt" "$WORK/list.want" || { fail "T71 package list"; cat "$WORK/list.txt"; }
"$QV" --machine "$WORK/two" --list --json >"$WORK/list.json" || fail "--list --json"
grep -q '"USB"' "$WORK/list.json" || { fail "json list"; cat "$WORK/list.json"; }

rm -f "$WORK/two/drive_c/Quorvanta/"*
"$SIM" pack "$WORK/two/drive_c/Quorvanta" --model r305 --rev 1.10 --no-loader >/dev/null || fail "pack r305"
"$QV" --machine "$WORK/two" --list >"$WORK/list2.txt" 2>/dev/null || fail "--list r305"
printf '1:0\tR305 CDRW USB\t1.00\t-\tATAPI\n' >"$WORK/list2.want"
cmp -s "$WORK/list2.txt" "$WORK/list2.want" || { fail "R305 package list"; cat "$WORK/list2.txt"; }

# A scan that fails (the drive at 0:3 never answers its INQUIRY) lists
# nothing, as no main dialog appears: the message on standard error, exit
# code 1, and no command to any drive after the one that timed out.
"$SIM" init "$WORK/hang" --drive '0:0:t71:usb' --drive '0:3:t71:usb:hang=0x12' >/dev/null ||
  fail "init hang"
"$QV" --machine "$WORK/hang" --list --trace "$WORK/hang.trace" >"$WORK/hang.txt" 2>"$WORK/hang.err"
rc=$?
[ "$rc" = 1 ] || fail "--list after a failed scan gave exit code $rc"
[ -s "$WORK/hang.txt" ] && { fail "--list after a failed scan printed drives"; cat "$WORK/hang.txt"; }
grep -q '^message: ' "$WORK/hang.err" || { fail "--list showed no message"; cat "$WORK/hang.err"; }
tail -n 1 "$WORK/hang.trace" | grep -q '^0:3 cdb=12 ' ||
  { fail "--list sent commands after the failed INQUIRY"; tail -n 3 "$WORK/hang.trace"; }

# A standard stream closed at start (`>&-`, a service manager that gives
# none): no file the program opens takes its place, so nothing it writes
# for the user lands there. A row per descriptor: the capture of an update
# still replays, its trace holds trace lines only, and this host's lock
# file stays empty.
while read -r fd close; do
  "$SIM" init "$WORK/closed$fd" --os 98 --autoinsert 0 >/dev/null || fail "init closed$fd"
  cp -r "$WORK/closed$fd" "$WORK/closed$fd-t"
  sh -c "exec \"\$@\" $close" sh "$QV" --machine "$WORK/closed$fd" --yes \
    --record "$WORK/closed$fd.jsonl" >/dev/null 2>&1
  "$SIM" replay "$WORK/closed$fd.jsonl" >/dev/null 2>"$WORK/closed$fd.verdict" ||
    { fail "fd $fd closed: the capture does not replay"; cat "$WORK/closed$fd.verdict"; }
  sh -c "exec \"\$@\" $close" sh "$QV" --machine "$WORK/closed$fd-t" --yes \
    --trace "$WORK/closed$fd.trace" >/dev/null 2>&1
  grep -v '^[0-9]:[0-9] cdb=' "$WORK/closed$fd.trace" && fail "fd $fd closed: other lines in the trace"
  mkdir -p "$WORK/closed$fd-host"
  (cd "$WORK/closed$fd-host" && QUORVANTA_STATE_DIR=state sh -c "exec \"\$@\" $close" sh \
    "$QV" --list --json >/dev/null 2>&1)
  [ -s "$WORK/closed$fd-host/state/QuorvantaInstance.lock" ] &&
    { fail "fd $fd closed: lines in the lock file"; cat "$WORK/closed$fd-host/state/QuorvantaInstance.lock"; }
done <<'ROWS'
0 <&-
1 >&-
2 2>&-
ROWS

# Usage errors: exit code 2 and one line on standard error that points to
# the help and never to the autopilot (which on a real host would update a
# drive unasked).
for args in "--bogus" "--machine" "--ui fancy" "--drive 9:9" "--ui headless" "--package $WORK/nowhere"; do
  # shellcheck disable=SC2086
  QUORVANTA_STATE_DIR=$WORK/state "$QV" $args >/dev/null 2>"$WORK/usage.err"
  rc=$?
  [ "$rc" = 2 ] || fail "'$args' gave exit code $rc"
  [ "$(wc -l <"$WORK/usage.err")" = 1 ] || { fail "'$args': not one line on stderr"; cat "$WORK/usage.err"; }
  grep -q -- '--help' "$WORK/usage.err" || { fail "'$args': no pointer to --help"; cat "$WORK/usage.err"; }
  grep -q -- '--yes' "$WORK/usage.err" && { fail "'$args': suggests --yes"; cat "$WORK/usage.err"; }
done
"$QV" --machine "$WORK/missing" --list >/dev/null 2>&1
[ $? = 2 ] || fail "a missing virtual PC is no usage error"
[ -e "$WORK/missing" ] && fail "a missing virtual PC was created"

# A virtual PC that cannot be saved (its folder read-only, in a mount
# namespace of the test's own): the line and exit code 1, not 0.
"$SIM" init "$WORK/ro" >/dev/null || fail "init ro"
if unshare -m true 2>/dev/null; then
  unshare -m sh -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" &&
    exec "$2" --machine "$1" --ui headless --yes' sh "$WORK/ro" "$QV" >/dev/null 2>"$WORK/ro.err"
  rc=$?
  [ "$rc" = 1 ] || fail "an unsaved virtual PC gave exit code $rc"
  expect_line "$WORK/ro.err" "quorvanta: could not save the virtual PC at $WORK/ro"
else
  fail "unshare -m is not permitted here (the test runs as root)"
fi

# The program links no GUI or terminal library, and a headless run loads
# none: those views are modules it loads only when one is chosen. Without
# them beside it, the desktop view is not there (one line), and the rule for
# a run without a display follows.
gui='lib(fltk|X11|xcb|Xft|fontconfig|freetype|ncursesw|tinfo)'
ldd "$QV" | grep -E "$gui" && fail "the program links a GUI or terminal library"
LD_DEBUG=files "$QV" --machine "$WORK/pc" --ui headless --yes 2>&1 >/dev/null | grep -E "file=$gui" &&
  fail "a headless run loaded a GUI or terminal library"
cp "$QV" "$WORK/alone"
DISPLAY=:99 "$WORK/alone" --machine "$WORK/pc" --ui desktop >/dev/null 2>"$WORK/nodesk.err" </dev/null
rc=$?
[ "$rc" = 2 ] || fail "--ui desktop without its module gave exit code $rc"
grep -q '^quorvanta: no desktop view: desktop-view.so is not installed' "$WORK/nodesk.err" ||
  { fail "--ui desktop without its module"; cat "$WORK/nodesk.err"; }
DISPLAY=:99 "$WORK/alone" --machine "$WORK/pc" >/dev/null 2>"$WORK/nodesk.err" </dev/null
rc=$?
[ "$rc" = 2 ] || fail "a display without the desktop module gave exit code $rc"
printf '%s\n' "quorvanta: no desktop view: desktop-view.so is not installed beside the program" \
  "quorvanta: no display and no terminal to show the dialogs on: run it in a terminal (--ui terminal) or give a scripted user (--script FILE); see quorvanta --help" \
  >"$WORK/nodesk.want"
cmp -s "$WORK/nodesk.err" "$WORK/nodesk.want" || { fail "a display without the desktop module"; cat "$WORK/nodesk.err"; }

"$QV" --help | grep -q '^usage: quorvanta' || fail "--help"
"$QV" -h >"$WORK/h.out" 2>&1 || fail "-h gave exit code $?"
grep -q '^usage: quorvanta' "$WORK/h.out" || { fail "-h is not --help"; cat "$WORK/h.out"; }

# This host, from a folder without the package: the list of every drive
# (this host has none), said so on standard error, exit code 0. --package
# names the folder, or its Tellumar.inf: then the package is read, and its
# missing image named in one line, exit code 1.
mkdir -p "$WORK/empty" "$WORK/fw"
(cd "$WORK/empty" && QUORVANTA_STATE_DIR=$WORK/state "$QV" --list --json >"$WORK/nopkg.out" 2>"$WORK/nopkg.err")
rc=$?
[ "$rc" = 0 ] || fail "--list without a package gave exit code $rc"
grep -q "^quorvanta: no firmware package here: every VANTROS drive found is listed" "$WORK/nopkg.err" ||
  { fail "--list without a package does not say it lists every drive"; cat "$WORK/nopkg.err"; }
grep -q '"list": "package"' "$WORK/nopkg.out" && { fail "--list without a package: a package's list"; cat "$WORK/nopkg.out"; }
printf 'fw.bin\r\n' >"$WORK/fw/Tellumar.inf"
for package in "$WORK/fw" "$WORK/fw/Tellumar.inf"; do
  (cd "$WORK/empty" && QUORVANTA_STATE_DIR=$WORK/state "$QV" --package "$package" --list >/dev/null 2>"$WORK/noimg.err")
  [ $? = 1 ] || fail "--list with the package $package without its image"
  grep -q "^quorvanta: no file $WORK/fw/fw.bin: " "$WORK/noimg.err" ||
    { fail "--package $package: no line names the missing image in the package folder"; cat "$WORK/noimg.err"; }
done
# The box that no data file was found names the folder searched where no
# package description was there, not where only the image is missing.
: >"$WORK/ok.qvs"
for package in "" "$WORK/fw"; do
  searched="\\nFolder searched: $WORK/empty"
  [ -z "$package" ] || searched=""
  (cd "$WORK/empty" && QUORVANTA_STATE_DIR=$WORK/state "$QV" ${package:+--package "$package"} \
    --ui headless --script "$WORK/ok.qvs" >"$WORK/box.out" 2>/dev/null)
  expect_line "$WORK/box.out" "message: Error: Couldn't find data file.$searched"
done
# The folder asked for (one that holds a package) is remembered and offered
# next time, while it is there: once removed, the folder the program was
# started in is offered. (The terminal view itself then finds no terminal:
# the question is asked before it starts.)
mkdir "$WORK/kept"
printf 'fw.bin\r\n' >"$WORK/kept/Tellumar.inf"
for answer in "$WORK/kept" "" gone; do
  [ "$answer" = gone ] && rm -r "$WORK/kept"
  offered=$WORK/kept
  [ "$answer" = gone ] && offered=$WORK/empty
  (cd "$WORK/empty" && echo "${answer#gone}" | QUORVANTA_STATE_DIR=$WORK/state "$QV" --ui terminal \
    >"$WORK/asked.out" 2>/dev/null)
  [ "$answer" = "$WORK/kept" ] && continue
  grep -qF "Folder of the firmware package (Tellumar.inf) [$offered]: " "$WORK/asked.out" ||
    { fail "remembered folder ${answer:-kept}: $offered not offered"; cat "$WORK/asked.out"; }
done
"$QV" --version | grep -q '1.0' || fail "--version"

finish
