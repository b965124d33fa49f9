# The fuzz targets and how each is run; sourced by run.sh and campaign.sh.
#
#   fuzz_targets                    every target, cheapest first
#   fuzz_max_len TARGET             the longest input worth trying
#   fuzz_build BUILD_DIR            configures and builds the targets with
#                                   clang's libFuzzer, ASan and UBSan
#   fuzz_exec BUILD_DIR TARGET ARG...
#                                   runs TARGET with the options every run
#                                   shares; ARGs: more options, then corpora
#   fuzz_executions LOG             executions a log records, summed over
#                                   every fuzzer started into it (also while
#                                   the last one still runs: then its
#                                   last status line, which libFuzzer
#                                   prints at each new input and each
#                                   power of two)
#   fuzz_status LOG                 its last status line

fuzz_targets="description signature loader launch record registry machine_ini command_line drive_file startup script capture"

fuzz_max_len() {
  case $1 in
    loader) echo 50000 ;;
    # Large enough for the deep and wide registries that once broke the reader.
    registry) echo 200000 ;;
    startup) echo 40000 ;;
    *) echo 4096 ;;
  esac
}

fuzz_build() {
  CC=${CLANG:-clang} CXX=${CLANGXX:-clang++} cmake -S "$root" -B "$1" -G Ninja \
    -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O2 -g" -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF \
    -DQV_BUILD_BENCH=OFF >/dev/null &&
    ninja -C "$1" -j "$(nproc 2>/dev/null || echo 2)" >"$1/build.log" 2>&1 || {
    tail -n 30 "$1/build.log" >&2
    return 1
  }
}

fuzz_exec() {
  fuzz_build_dir=$1
  fuzz_target=$2
  shift 2
  "$fuzz_build_dir/${fuzz_target}_fuzz" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(fuzz_max_len "$fuzz_target")" "$@"
}

fuzz_executions() {
  awk '/^INFO: Seed:/ { total += last; last = 0 }
       /^#[0-9]+/ { last = substr($1, 2) + 0 }
       /^stat::number_of_executed_units:/ { last = $2 + 0 }
       END { printf "%d\n", total + last }' "$1" 2>/dev/null || echo 0
}

fuzz_status() {
  grep -E '^#[0-9]+' "$1" 2>/dev/null | tail -n 1
}
