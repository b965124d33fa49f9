#!/bin/sh
# This host's state files against other users, run as root (the case that
# matters: a root run must not be steered by what another user planted).
# Each row plants one thing in a fresh state directory or package folder,
# owned by a throw-away user where it says so; the program must refuse it
# with one line naming it, leave a link's target untouched and never hang.
# A folder above the state directory that another user owns or anyone may
# write is refused with nothing made below it. Then a state directory of
# our own made private, one reached through another user's link refused,
# one swapped for a link while the program waits at its first question, a
# lock that cannot be taken; and two copies
# whose XDG_RUNTIME_DIR differ: the second finds the first's lock in the
# shared state directory, and one started without a package asks nothing.
# Usage: sh state_files.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=state_files
. "$(dirname "$0")/lib/common.sh"
[ "$(id -u)" = 0 ] || { echo "state_files: must run as root (as the test command does)"; exit 1; }
# A user id that owns nothing on this host stands for the other user.
other=64123

target="$WORK/precious"
echo "keep me" >"$target"
chmod 644 "$target"

# ROW WHAT STATUS NAMED
while read -r what status named; do
  st="$WORK/$what/state"
  pkg="$WORK/$what/pkg"
  mkdir -p "$pkg"
  mkdir -m 700 "$st"
  case $what in
    dir-foreign) chown "$other" "$st" ;;
    dir-open) chmod 777 "$st" ;;
    dir-group) chmod 770 "$st" ;;
    above-foreign) rmdir "$st" && chown "$other" "$WORK/$what" ;;
    above-open) rmdir "$st" && chmod 777 "$WORK/$what" ;;
    registry-link) ln -s "$target" "$st/registry.reg" ;;
    registry-fifo) mkfifo "$st/registry.reg" ;;
    registry-foreign) echo REGEDIT4 >"$st/registry.reg" && chown "$other" "$st/registry.reg" ;;
    registry-open) echo REGEDIT4 >"$st/registry.reg" && chmod 666 "$st/registry.reg" ;;
    registry-group) echo REGEDIT4 >"$st/registry.reg" && chmod 664 "$st/registry.reg" ;;
    resume1-link) ln -s "$target" "$st/Tellmr1.DAT" ;;
    resume2-fifo) mkfifo "$st/Tellmr2.DAT" ;;
    lock-link) ln -s "$target" "$st/QuorvantaInstance.lock" ;;
    lock-foreign) : >"$st/QuorvantaInstance.lock" && chown "$other" "$st/QuorvantaInstance.lock" ;;
    package-fifo) mkfifo "$pkg/Tellumar.inf" ;;
    image-fifo)
      "$SIM" pack "$pkg" --model t71 --rev 1.10 >/dev/null || fail "pack"
      image=$(head -n 1 "$pkg/Tellumar.inf" | tr -d '\r')
      rm "$pkg/$image" && mkfifo "$pkg/$image"
      named=$image
      ;;
  esac
  case $named in
    above) named="$WORK/$what " ;;  # that folder, not one below it
    state) named=$st ;;
    state/*) named="$st/${named#state/}" ;;
    pkg/*) named=${named#pkg/} ;;  # as the package names it
  esac
  (cd "$pkg" && QUORVANTA_STATE_DIR="$st" timeout 20 "$QV" --list >"$WORK/$what.out" 2>"$WORK/$what.err")
  got=$?
  [ "$got" = "$status" ] || { fail "$what: exit status $got, not $status"; cat "$WORK/$what.err"; }
  [ ! -s "$WORK/$what.out" ] || fail "$what: something listed"
  grep -qF "$named" "$WORK/$what.err" || { fail "$what: no line naming $named"; cat "$WORK/$what.err"; }
  [ "$(cat "$target")" = "keep me" ] || { fail "$what: the link's target was changed"; echo "keep me" >"$target"; }
  [ ! -e "$st" ] || [ "$named" != "$WORK/$what " ] || fail "$what: the state directory was made"
done <<'ROWS'
above-foreign 2 above
above-open 2 above
dir-foreign 2 state
dir-open 2 state
dir-group 2 state
registry-link 2 state/registry.reg
registry-fifo 2 state/registry.reg
registry-foreign 2 state/registry.reg
registry-open 2 state/registry.reg
registry-group 2 state/registry.reg
resume1-link 2 state/Tellmr1.DAT
resume2-fifo 2 state/Tellmr2.DAT
lock-link 2 state/QuorvantaInstance.lock
lock-foreign 2 state/QuorvantaInstance.lock
package-fifo 1 pkg/Tellumar.inf
image-fifo 1 image
ROWS

# A fresh state directory is the user's alone.
st="$WORK/fresh/state"
QUORVANTA_STATE_DIR="$st" "$QV" --list >/dev/null 2>&1
[ "$(stat -c %a "$st")" = 700 ] || fail "a fresh state directory is $(stat -c %a "$st"), not 700"

# One of our own that others could read is made private, and says so.
st="$WORK/open/state"
mkdir -p -m 755 "$st"
QUORVANTA_STATE_DIR="$st" "$QV" --list >/dev/null 2>"$WORK/open.err"
[ "$(stat -c %a "$st")" = 700 ] || fail "an open state directory is left at $(stat -c %a "$st")"
expect_line "$WORK/open.err" "quorvanta: $st was open to other users; made private (mode 0700)"

# The way to the state directory runs through a link another user owns in
# a sticky directory (as in /tmp): refused, with nothing made behind it.
mkdir -m 1777 "$WORK/sticky"
mkdir "$WORK/aim"
ln -s "$WORK/aim" "$WORK/sticky/state-link" && chown -h "$other" "$WORK/sticky/state-link"
QUORVANTA_STATE_DIR="$WORK/sticky/state-link/quorvanta" timeout 20 "$QV" --list \
  >"$WORK/link.out" 2>"$WORK/link.err"
got=$?
[ "$got" = 2 ] || fail "state through another user's link: exit status $got, not 2"
grep -qF "$WORK/sticky/state-link" "$WORK/link.err" || { fail "no line naming the link"; cat "$WORK/link.err"; }
[ -z "$(ls -A "$WORK/aim")" ] || fail "something was made behind another user's link"

# The state directory renamed and a link to another user's folder put in
# its place while the program waits at the package folder question: what
# it writes next lands in the directory it checked, not behind the link.
mkdir -p "$WORK/swap/nopkg" "$WORK/swap/theirs" && chown "$other" "$WORK/swap/theirs"
"$SIM" pack "$WORK/swap/pkg" --model t71 --rev 1.10 >/dev/null || fail "pack"
mkfifo "$WORK/swap/keys"
(cd "$WORK/swap/nopkg" && QUORVANTA_STATE_DIR="$WORK/swap/state" TERM=xterm exec timeout 60 \
  script -qfec "'$QV' --ui terminal" /dev/null <"$WORK/swap/keys" >"$WORK/swap/screen" 2>&1) &
runner=$!
exec 3>"$WORK/swap/keys"
i=0
until grep -q "\]: " "$WORK/swap/screen" 2>/dev/null || [ $i -ge 400 ]; do sleep 0.05; i=$((i + 1)); done
grep -q "\]: " "$WORK/swap/screen" || fail "swap: no package folder question"
mv "$WORK/swap/state" "$WORK/swap/checked" && ln -s "$WORK/swap/theirs" "$WORK/swap/state" &&
  chown -h "$other" "$WORK/swap/state"
echo "$WORK/swap/pkg" >&3
i=0
until [ -e "$WORK/swap/checked/QuorvantaInstance.lock" ] || [ $i -ge 400 ]; do sleep 0.05; i=$((i + 1)); done
kill "$runner" 2>/dev/null
exec 3>&-
wait "$runner" 2>/dev/null
[ -z "$(ls -A "$WORK/swap/theirs")" ] || fail "swap: files made behind the link: $(ls -A "$WORK/swap/theirs")"
[ "$(cat "$WORK/swap/checked/package-folder" 2>/dev/null)" = "$WORK/swap/pkg" ] ||
  fail "swap: the package folder not remembered in the directory checked"
[ -e "$WORK/swap/checked/QuorvantaInstance.lock" ] || fail "swap: no lock in the directory checked"

# A lock that cannot be taken (a state directory the user cannot write, as
# that user: root writes anywhere) stops the run with one line naming it.
chmod 711 "$WORK"
mkdir -m 500 "$WORK/readonly" && chown "$other" "$WORK/readonly"
(cd "$WORK/sticky" && QUORVANTA_STATE_DIR="$WORK/readonly" timeout 20 \
  setpriv --reuid="$other" --regid="$other" --clear-groups "$QV" --list >"$WORK/lock.out" 2>"$WORK/lock.err")
got=$?
[ "$got" = 2 ] || fail "lock not to be had: exit status $got, not 2"
[ ! -s "$WORK/lock.out" ] || fail "lock not to be had: something listed"
expect_line "$WORK/lock.err" "quorvanta: cannot take the lock $WORK/readonly/QuorvantaInstance.lock: Permission denied"

# Two copies, two runtime directories, one state directory: the second one
# finds the first one's lock.
mkdir -p "$WORK/run1" "$WORK/run2"
XDG_RUNTIME_DIR="$WORK/run1" flock "$st/QuorvantaInstance.lock" sleep 5 &
holder=$!
i=0
while flock -n "$st/QuorvantaInstance.lock" true 2>/dev/null && [ $i -lt 200 ]; do
  sleep 0.05
  i=$((i + 1))
done
XDG_RUNTIME_DIR="$WORK/run2" QUORVANTA_STATE_DIR="$st" "$QV" --list >"$WORK/second.out" 2>"$WORK/second.err"
got=$?
# Started where there is no package, it asks nothing and remembers no folder.
(cd "$WORK/run2" && printf '%s\n' "$WORK/run1" | TERM=xterm XDG_RUNTIME_DIR="$WORK/run2" \
  QUORVANTA_STATE_DIR="$st" timeout 20 script -qec "$QV --ui terminal" /dev/null >"$WORK/second-ui.out" 2>&1)
kill "$holder" 2>/dev/null
[ "$got" = 1 ] || fail "second copy: exit status $got, not 1"
expect_line "$WORK/second.err" "quorvanta: another copy of the program is running"
grep -q 'Tellumar.inf' "$WORK/second-ui.out" && { fail "a second copy asked for the package folder"; cat "$WORK/second-ui.out"; }
[ ! -e "$st/package-folder" ] || fail "a second copy remembered a package folder"
finish
