#!/bin/sh
# Makes the README's pictures of the views again: each dialog of the desktop
# view in English and Japanese (PNG, taken under Xvfb by the desktop view
# test) and the terminal view's screens (text, captured from tmux by the
# terminal view test), into docs/screenshots/; then puts the terminal's main
# dialog into the README between its markers.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C build/debug quorvanta quorvanta-sim qv_xshot
mkdir -p docs/screenshots
QV_SHOTS=docs/screenshots sh tests/views/desktop.sh build/debug/quorvanta build/debug/quorvanta-sim build/debug
QV_SHOTS=docs/screenshots sh tests/views/terminal.sh build/debug/quorvanta build/debug/quorvanta-sim build/debug
awk -v shot=docs/screenshots/terminal-main-en.txt '
  /<!-- terminal view: start -->/ { print; print "```"; while ((getline line < shot) > 0) if (line != "") print line; print "```"; skip = 1; next }
  /<!-- terminal view: end -->/ { skip = 0 }
  !skip { print }
' README.md >README.md.new
mv README.md.new README.md
ls docs/screenshots
