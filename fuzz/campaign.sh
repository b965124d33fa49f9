#!/bin/sh
# The long fuzzing campaign: runs each target for SECONDS (nice, one or two
# at a time) under ASan and UBSan, growing its corpus in
# fuzz/corpus/<target>/generated (not committed; the seeds beside it are).
# Crashes, hangs and leaks land in BUILD_DIR/findings; each one found is to
# become a regression input in fuzz/corpus/<target>/ and a mended fault.
#
#   sh fuzz/campaign.sh SECONDS [TARGET...]
#
# Environment: FUZZ_BUILD (default build/fuzz), FUZZ_PARALLEL (1 or 2,
# default 1). Ends with one line per target: executions, coverage (edges),
# features, corpus size and findings.
set -eu

if [ $# -lt 1 ]; then
  echo "usage: sh fuzz/campaign.sh SECONDS [TARGET...]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/fuzz/targets.sh"
seconds=$1
shift
[ $# -gt 0 ] && fuzz_targets="$*"
build=${FUZZ_BUILD:-$root/build/fuzz}
parallel=${FUZZ_PARALLEL:-1}
findings=$build/findings
logs=$build/campaign
mkdir -p "$build" "$findings" "$logs"
fuzz_build "$build"

run_one() {
  corpus=$root/fuzz/corpus/$1
  mkdir -p "$corpus/generated"
  # -fork keeps going past a finding, so one fault does not end the night.
  nice -n 10 "$build/${1}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(fuzz_max_len "$1")" -print_final_stats=1 -fork=1 -ignore_crashes=1 \
    -ignore_timeouts=1 -ignore_ooms=1 -artifact_prefix="$findings/$1-" \
    "$corpus/generated" "$corpus" >"$logs/$1.log" 2>&1 || true
}

running=0
for target in $fuzz_targets; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait
    running=0
  fi
done
wait

printf '%-14s %12s %8s %8s %8s %s\n' target executions cov ft corpus findings
for target in $fuzz_targets; do
  log=$logs/$target.log
  # The last status line counts every execution of the run (fork mode too).
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  execs=$(echo "$last" | sed -n 's/^#\([0-9]*\).*/\1/p')
  cov=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
  corpus=$(find "$root/fuzz/corpus/$target" -type f | wc -l)
  found=$(find "$findings" -name "$target-*" | wc -l)
  printf '%-14s %12s %8s %8s %8s %s\n' "$target" "${execs:-0}" "${cov:--}" "${ft:--}" "$corpus" "$found"
done
