#!/bin/sh
# Prints what the views cost: the time from starting quorvanta to its first
# drawn dialog, and the processor time it uses in 2 seconds of waiting for
# input, for the desktop view (Xvfb) and the terminal view (tmux). Uses the
# debug build unless BUILD_DIR is given.
# Usage: sh scripts/view_figures.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/debug}
QV="$PWD/$build/quorvanta"
work=$(mktemp -d /tmp/qv_figures.XXXXXX)
xvfb=""
trap 'kill $xvfb 2>/dev/null; tmux -S "$work/tmux.sock" kill-server 2>/dev/null; rm -rf "$work"' EXIT
"$build/quorvanta-sim" init "$work/pc" >/dev/null

now_ms() { echo $(($(date +%s%N) / 1000000)); }
cpu_ms() {  # PID: user + system time so far
  ticks=$(awk '{print $14 + $15}' "/proc/$1/stat")
  echo $((ticks * 1000 / $(getconf CLK_TCK)))
}
idle_cpu() {  # PID
  before=$(cpu_ms "$1")
  sleep 2
  echo $(($(cpu_ms "$1") - before))
}

# Desktop: the view records the layout once the window is drawn and synced.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
while [ ! -s "$work/display" ]; do sleep 0.02; done
for run in 1 2 3; do
  rm -f "$work/layout"
  start=$(now_ms)
  DISPLAY=":$(cat "$work/display")" QV_VIEW_LAYOUT="$work/layout" "$QV" --machine "$work/pc" >/dev/null &
  pid=$!
  until grep -q '^wait ' "$work/layout" 2>/dev/null; do sleep 0.002; done
  echo "desktop: first dialog drawn after $(($(now_ms) - start)) ms (run $run)"
  [ $run = 3 ] && echo "desktop: $(idle_cpu $pid) ms of processor time in 2 s of waiting"
  kill $pid
  wait $pid 2>/dev/null || true
done

# Terminal: the caption appears in the pane.
tmux -S "$work/tmux.sock" -f /dev/null new-session -d -x 80 -y 24 -e LANG=C.UTF-8 "env -u TMUX sh"
for run in 1 2 3; do
  tmux -S "$work/tmux.sock" send-keys "clear" Enter
  sleep 0.2
  start=$(now_ms)
  tmux -S "$work/tmux.sock" send-keys "'$QV' --machine '$work/pc' --ui terminal" Enter
  until tmux -S "$work/tmux.sock" capture-pane -p | grep -q 'Ver. 1.0'; do sleep 0.002; done
  echo "terminal: first dialog drawn after $(($(now_ms) - start)) ms (run $run, tmux polling included)"
  pid=$(pgrep -n -f "quorvanta --machine $work/pc")
  [ $run = 3 ] && echo "terminal: $(idle_cpu "$pid") ms of processor time in 2 s of waiting"
  kill "$pid"
  sleep 0.2
done
