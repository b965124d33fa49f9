#!/bin/sh
# The long fuzzing campaign: runs each target for up to SECONDS under ASan
# and UBSan at the lowest priority, so that it only takes idle time, growing
# its corpus in fuzz/corpus/<target>/generated (not committed; the seeds
# beside it are). Crashes, hangs and leaks land in BUILD_DIR/findings; each
# one found is to become a regression input in fuzz/corpus/<target>/ and a
# mended fault.
#
#   sh fuzz/campaign.sh SECONDS [TARGET...]
#   sh fuzz/campaign.sh status
#
# Each run adds one line per target to BUILD_DIR/campaign/ledger.tsv, so the
# executions of every run add up; `status` prints them, counting what the
# runs still going have done so far.
#
# Environment: FUZZ_BUILD (default build/fuzz); FUZZ_PARALLEL (1 or 2,
# default 1): targets at once; FUZZ_GOAL: a target stops once its executions
# over all runs reach this many.
set -eu

if [ $# -lt 1 ]; then
  echo "usage: sh fuzz/campaign.sh SECONDS [TARGET...] | status" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/fuzz/targets.sh"
build=${FUZZ_BUILD:-$root/build/fuzz}
parallel=${FUZZ_PARALLEL:-1}
goal=${FUZZ_GOAL:-0}
findings=$build/findings
logs=$build/campaign
ledger=$logs/ledger.tsv

# Executions of every finished run of a target.
ledger_executions() {
  awk -F '\t' -v t="$1" '$2 == t { n += $4 } END { printf "%d\n", n }' "$ledger" 2>/dev/null ||
    echo 0
}

# A number of a fuzzer's status line: `field LINE cov`. (Not echo: the
# line may quote mutations with backslashes.)
field() {
  printf '%s\n' "$1" | sed -n "s|.* $2: \\([0-9]*\\).*|\\1|p"
}

found() {
  find "$findings" -name "$1-*" 2>/dev/null | wc -l
}

status() {
  printf '%-13s %4s %12s %12s %7s %6s %6s %7s %s\n' target runs last total exec/s cov ft corpus \
    findings
  for target in $fuzz_targets; do
    runs=$(awk -F '\t' -v t="$target" '$2 == t { n++ } END { printf "%d\n", n }' "$ledger" \
      2>/dev/null || echo 0)
    total=$(ledger_executions "$target")
    log=$logs/$target.log
    if [ -f "$logs/$target.running" ]; then
      last=$(fuzz_status "$log")
      now=$(fuzz_executions "$log")
      total=$((total + now))
      runs="$runs+"
      rate=$(field "$last" exec/s)
      cov=$(field "$last" cov)
      ft=$(field "$last" ft)
    else
      # The figures of the last finished run.
      set -- $(awk -F '\t' -v t="$target" '$2 == t { r = $4 " " $5 " " $6 " " $7 }
        END { print r }' "$ledger" 2>/dev/null)
      now=${1:-0} rate=${2:-} cov=${3:-} ft=${4:-}
    fi
    corpus=$(find "$root/fuzz/corpus/$target" -type f 2>/dev/null | wc -l)
    printf '%-13s %4s %12s %12s %7s %6s %6s %7s %s\n' "$target" "$runs" "$now" "$total" \
      "${rate:--}" "${cov:--}" "${ft:--}" "$corpus" "$(found "$target")"
  done
}

if [ "$1" = status ]; then
  status
  exit 0
fi
seconds=$1
shift
[ $# -gt 0 ] && fuzz_targets="$*"
mkdir -p "$build" "$findings" "$logs"
# Idle time only: the build and every fuzzer inherit the lowest priority.
renice -n 19 -p $$ >/dev/null
fuzz_build "$build"

# One target for up to `seconds`. A finding ends a fuzzer, so another one
# starts on the grown corpus until the time (or the goal) is reached.
run_one() {
  corpus=$root/fuzz/corpus/$1
  log=$logs/$1.log
  mkdir -p "$corpus/generated"
  : >"$log"
  touch "$logs/$1.running"
  before=$(found "$1")
  start=$(date +%s)
  end=$((start + seconds))
  while :; do
    left=$((end - $(date +%s)))
    runs=0
    if [ "$goal" -gt 0 ]; then
      runs=$((goal - $(ledger_executions "$1") - $(fuzz_executions "$log")))
      [ "$runs" -gt 0 ] || break
    fi
    [ "$left" -ge 5 ] || break
    had=$(found "$1")
    fuzz_exec "$build" "$1" -max_total_time="$left" -runs="$((runs > 0 ? runs : -1))" \
      -print_final_stats=1 -artifact_prefix="$findings/$1-" "$corpus/generated" "$corpus" \
      >>"$log" 2>&1 && continue
    # A fuzzer that failed without leaving a finding cannot be helped by
    # starting it again.
    [ "$(found "$1")" -gt "$had" ] || break
  done
  last=$(fuzz_status "$log")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$1" \
    "$(($(date +%s) - start))" "$(fuzz_executions "$log")" \
    "$(field "$last" exec/s)" "$(field "$last" cov)" "$(field "$last" ft)" \
    "$(find "$corpus" -type f | wc -l)" "$(($(found "$1") - before))" >>"$ledger"
  rm -f "$logs/$1.running"
}

# Each lane takes the next target no lane has taken yet (mkdir claims it
# atomically), so a lane that finishes its targets early takes on more.
claims=$logs/claims.$$
mkdir -p "$claims"
lane=0
while [ "$lane" -lt "$parallel" ]; do
  (
    for target in $fuzz_targets; do
      mkdir "$claims/$target" 2>/dev/null && run_one "$target"
    done
  ) &
  lane=$((lane + 1))
done
wait
rm -rf "$claims"
status
