#!/bin/sh
# Builds Quorvanta, makes a fresh virtual PC with the default drive and
# package, and runs the whole job on it with the autopilot.
set -eu
cd "$(dirname "$0")/.."
# Only the compiler, CMake, Ninja and the views' libraries: no test tools.
sh scripts/install-deps.sh demo
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
ninja -C build/release -j "$(nproc 2>/dev/null || echo 2)" quorvanta quorvanta-sim
pc=build/demo-pc
rm -rf "$pc"
build/release/quorvanta-sim init "$pc"
build/release/quorvanta-sim show "$pc"
echo "--- drives the main dialog will list"
build/release/quorvanta --machine "$pc" --list
echo "--- run"
status=0
build/release/quorvanta --machine "$pc" --ui headless --yes || status=$?
echo "--- exit code $status"
build/release/quorvanta-sim show "$pc"
echo "--- the update history"
build/release/quorvanta --machine "$pc" --history
exit "$status"
