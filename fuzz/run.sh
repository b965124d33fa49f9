#!/bin/sh
# Builds the fuzz targets (the package checks, the readers of the launch file
# and of the registry resume file, the registry's text) with clang's
# libFuzzer and the address and undefined-behaviour sanitizers, then runs
# each one over its seed corpus for a bounded number of inputs.
#
#   sh fuzz/run.sh BUILD_DIR [RUNS]
#
# New inputs go to BUILD_DIR/fuzz/work/<target>; the seeds in
# fuzz/corpus/<target> are only read. Exit status 0 when every target ran clean.
set -eu

if [ $# -lt 1 ]; then
  echo "usage: sh fuzz/run.sh BUILD_DIR [RUNS]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1/fuzz
runs=${2:-20000}
cxx=${CLANGXX:-clang++}
mkdir -p "$out"

flags="-std=c++20 -g -O1 -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -fno-omit-frame-pointer -I$root"
common="$root/package/package_files.cpp $root/state/app_state.cpp $root/state/loader_data.cpp \
  $root/platform/platform.cpp $root/fuzz/memory_platform.cpp \
  $root/tests/support/memory_files.cpp"

status=0
for target in description signature loader launch record registry; do
  extra=""
  max_len=1024
  case $target in
    loader) max_len=50000 ;;
    launch) extra="$root/resume/resume_state.cpp $root/drive/auto_insert.cpp" ;;
    record) extra="$root/drive/auto_insert.cpp" ;;
    registry)
      extra="$root/platform/posix/registry_store.cpp $root/platform/posix/atomic_file.cpp"
      max_len=4096
      ;;
  esac
  echo "fuzz: building $target"
  # shellcheck disable=SC2086
  $cxx $flags -o "$out/${target}_fuzz" "$root/fuzz/${target}_fuzz.cpp" $common $extra
  mkdir -p "$out/work/$target"
  echo "fuzz: running $target for $runs inputs"
  if ! "$out/${target}_fuzz" -runs="$runs" -seed=1 -max_len=$max_len \
      -artifact_prefix="$out/${target}-" "$out/work/$target" "$root/fuzz/corpus/$target" \
      >"$out/$target.log" 2>&1; then
    echo "fuzz: $target FAILED (see $out/$target.log)" >&2
    tail -n 30 "$out/$target.log" >&2
    status=1
  else
    tail -n 1 "$out/$target.log"
  fi
done
exit $status
