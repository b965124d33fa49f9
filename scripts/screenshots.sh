#!/bin/sh
# Makes the README's pictures of the views again: each dialog of the desktop
# view in English and Japanese (PNG, taken under Xvfb by the desktop view
# test) and the terminal view's screens (text, captured from tmux by the
# terminal view test), into docs/screenshots/; then puts the terminal's main
# dialog and its screen during a write into the README between their markers.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C build/debug quorvanta quorvanta-sim qv_xshot
mkdir -p docs/screenshots
QV_SHOTS=docs/screenshots sh tests/views/desktop.sh build/debug/quorvanta build/debug/quorvanta-sim build/debug
QV_SHOTS=docs/screenshots sh tests/views/terminal.sh build/debug/quorvanta build/debug/quorvanta-sim build/debug
awk -v main=docs/screenshots/terminal-main-en.txt -v progress=docs/screenshots/terminal-progress-en.txt '
  function shot(file) { print; print "```"; while ((getline line < file) > 0) if (line != "") print line; print "```"; skip = 1 }
  /<!-- terminal view: start -->/ { shot(main); next }
  /<!-- terminal view, a write: start -->/ { shot(progress); next }
  /<!-- terminal view(, a write)?: end -->/ { skip = 0 }
  !skip { print }
' README.md >README.md.new
mv README.md.new README.md
ls docs/screenshots
