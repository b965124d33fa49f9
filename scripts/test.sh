#!/bin/sh
# Builds and runs the whole test suite twice: the optimised build users get
# (RelWithDebInfo, -O2: warnings that only the optimiser finds fail here
# too), then under AddressSanitizer + UndefinedBehaviorSanitizer; then the
# fuzz targets.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh test
jobs=$(nproc 2>/dev/null || echo 2)
# Every test that starts a real component runs here: a missing one fails.
export QV_REQUIRE_COMPONENTS=1

cmake -S . -B build/relwithdebinfo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build/relwithdebinfo -j "$jobs"
ctest --test-dir build/relwithdebinfo -j "$jobs" --output-on-failure

# The Windows build from the same tree (its generators come from the native
# build), then its zip and its tests under Wine and Xvfb (label `wine`).
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake -DQV_HOST_TOOLS_DIR=build/relwithdebinfo >/dev/null
ninja -C build/win32 -j "$jobs"
ctest --test-dir build/win32 --output-on-failure

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BUILD_BENCH=OFF >/dev/null
ninja -C build/asan -j "$jobs"
# The tests that start a real component (a guest, an X server, a terminal
# emulator, Wine, a Debian root, a whole Debian system) have already run
# against the first build; under the sanitizers the program's own code is
# what matters, and one boot per suite keeps the run short.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j "$jobs" --output-on-failure -LE '^(views|qemu|wine|kernel|package|usb|spti|installed)$'

if [ -f fuzz/run.sh ]; then
  sh fuzz/run.sh build/fuzz
fi
echo "all tests passed"
