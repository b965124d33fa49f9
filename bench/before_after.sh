#!/bin/sh
# Measures an earlier revision and this tree side by side in one run: builds
# both (Release) with this tree's update_bench, then prints the process rows
# of both programs (instructions, processor time, libraries mapped) and the
# allocations per drive command of both.
# Usage: sh bench/before_after.sh REVISION [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
revision=${1:?usage: sh bench/before_after.sh REVISION [BUILD_DIR]}
build=${2:-build/release}
before=build/before-$(git rev-parse --short "$revision")
jobs=$(nproc 2>/dev/null || echo 2)

if [ ! -x "$before/build/quorvanta" ]; then
  rm -rf "$before"
  mkdir -p "$before/src"
  git archive "$revision" | tar -x -C "$before/src"
  cp bench/update_bench.cpp bench/hello_world.cpp "$before/src/bench/"
  cmake -S "$before/src" -B "$before/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQV_BUILD_TESTS=OFF >/dev/null
  ninja -C "$before/build" -j "$jobs" quorvanta quorvanta-sim update_bench
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j "$jobs" update_bench

echo "== before ($revision): allocations in process"
"$before/build/update_bench" --benchmark_filter=TransferAllocations
echo "== before ($revision) and after, as processes; after: allocations in process"
QV_BENCH_BEFORE="$PWD/$before/build" "$build/update_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true
