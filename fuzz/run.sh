#!/bin/sh
# Builds every fuzz target with clang's libFuzzer and the address and
# undefined-behaviour sanitizers, then runs each one briefly over its seed
# corpus: the regression inputs of every fault found so far, then new ones.
#
#   sh fuzz/run.sh BUILD_DIR [SECONDS]
#
# SECONDS (default 5) is each target's time after its seeds. New inputs go to
# BUILD_DIR/work/<target>; fuzz/corpus/<target> is only read. Exit status 0
# when every target ran clean. The long runs are fuzz/campaign.sh.
set -eu

if [ $# -lt 1 ]; then
  echo "usage: sh fuzz/run.sh BUILD_DIR [SECONDS]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/fuzz/targets.sh"
out=$1
seconds=${2:-5}
mkdir -p "$out"
echo "fuzz: building the targets in $out"
fuzz_build "$out"

status=0
for target in $fuzz_targets; do
  mkdir -p "$out/work/$target"
  if ! fuzz_exec "$out" "$target" -max_total_time="$seconds" -seed=1 \
      -artifact_prefix="$out/${target}-" "$out/work/$target" "$root/fuzz/corpus/$target" \
      >"$out/$target.log" 2>&1; then
    echo "fuzz: $target FAILED (see $out/$target.log)" >&2
    tail -n 30 "$out/$target.log" >&2
    status=1
  else
    echo "fuzz: $target: $(fuzz_status "$out/$target.log")"
  fi
done
exit $status
