#!/bin/sh
# Mutation run: how many single-point faults the suite catches.
#
#   sh scripts/mutants.sh [LIST]
#
# Each mutant of LIST (default scripts/mutants.txt; its header gives the
# format) is planted in turn into a scratch copy of the tree, which is built
# incrementally in its own build directory and tested with every test that
# starts no real component (all but the CTest labels views, qemu, wine,
# kernel, package, usb, spti and installed). A mutant is killed when a test fails or does not end
# in time; it survived when every test passed. A mutant that does not build,
# or whose text is not in its file exactly once, is reported INVALID, left
# out of the share, and makes the run end with status 1: fix its line.
# The tests that killed earlier mutants run first, one at a time, and a
# mutant's run stops at the first failure; the slow tests (half a minute or
# more in the baseline run) come last, side by side. One line per mutant,
# then the share killed. Mutants named equivalent in the list (a change no
# behaviour can show) are skipped and left out of the share.
#
# Environment: MUTANTS_DIR (scratch copy and its build, default
# build/mutants), MUTANTS_ONLY (run only the mutants whose id matches this
# extended regular expression), MUTANTS_JOBS (ninja jobs, default 2),
# MUTANTS_NOSYNC=1 (test the scratch copy as it is, to compare two suites),
# MUTANTS_TESTS (use only the tests whose name matches this extended regular
# expression; a mutant then "survived" these tests alone),
# MUTANTS_REUSE_BASELINE=1 (skip the unmutated run when an earlier one
# passed; its timings order the tests).
# On demand only; the test command does not run it.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
list=${1:-scripts/mutants.txt}
dir=${MUTANTS_DIR:-$root/build/mutants}
only=${MUTANTS_ONLY:-}
jobs=${MUTANTS_JOBS:-2}
src=$dir/src
build=$dir/build
mkdir -p "$src" "$build"
log=$dir/last.log
: >"$log"

# The scratch copy follows the tree: a file is copied (with a new time stamp,
# so ninja rebuilds what depends on it) only when its content differs.
sync_tree() {
  git ls-files -co --exclude-standard | grep -v '^build' >"$dir/files.txt"
  while IFS= read -r f; do
    [ -f "$f" ] || continue
    if ! cmp -s "$f" "$src/$f"; then
      mkdir -p "$src/$(dirname "$f")"
      cp "$f" "$src/$f"
    fi
  done <"$dir/files.txt"
  (cd "$src" && find . -type f | sed 's|^\./||') | while IFS= read -r f; do
    grep -qxF "$f" "$dir/files.txt" || rm -f "$src/$f"
  done
}

# Plants one mutant: the text FROM must occur exactly once in the file.
plant() {
  MUTANT_FROM=$2 MUTANT_TO=$3 perl -e '
    my ($path) = @ARGV;
    open(my $in, "<", $path) or exit 3;
    local $/; my $text = <$in>; close $in;
    my ($from, $to) = ($ENV{MUTANT_FROM}, $ENV{MUTANT_TO});
    s/\\n/\n/g for ($from, $to);
    my $count = () = $text =~ /\Q$from\E/g;
    exit 4 if $count != 1;
    $text =~ s/\Q$from\E/$to/;
    open(my $out, ">", $path) or exit 3;
    print $out $text; close $out;' "$1"
}

echo "mutants: syncing $src and building $build" >&2
[ "${MUTANTS_NOSYNC:-0}" = 1 ] || sync_tree
if [ ! -f "$build/build.ninja" ]; then
  # Every mutant relinks the programs and the tests it runs: lld does that
  # several times faster than the default linker.
  linker=""
  command -v ld.lld >/dev/null 2>&1 && linker=-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_BUILD_BENCH=OFF $linker \
    >>"$log" 2>&1 || { echo "mutants: cmake failed (see $log)" >&2; exit 2; }
fi
ninja -C "$build" -j "$jobs" >>"$log" 2>&1 || { echo "mutants: the tree does not build (see $log)" >&2; exit 2; }

# The tests without a real component, fastest first by the baseline run,
# which must pass.
labels='^(views|qemu|wine|kernel|package|usb|spti|installed)$'
if [ "${MUTANTS_REUSE_BASELINE:-0}" != 1 ] || [ ! -f "$dir/baseline.txt" ]; then
  ctest --test-dir "$build" -j "$jobs" -LE "$labels" >"$dir/baseline.txt" 2>&1 || {
    mv "$dir/baseline.txt" "$dir/baseline-failed.txt"
    echo "mutants: the unmutated tree fails its tests (see $dir/baseline-failed.txt)" >&2
    exit 2
  }
fi
timings=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) [. ]*Passed *\([0-9.]*\) sec.*/\2 \1/p' \
  "$dir/baseline.txt" | sort -n | awk -v re="${MUTANTS_TESTS:-.}" '$2 ~ re')
order=$(printf '%s\n' "$timings" | awk '$1 < 30 {print $2}')
slow=$(printf '%s\n' "$timings" | awk '$1 >= 30 {print $2}')
seconds() {
  sed -n "s/^ *[0-9]*\/[0-9]* Test *#[0-9]*: $1 [. ]*Passed *\([0-9.]*\) sec.*/\1/p" \
    "$dir/baseline.txt" | head -n 1
}

# Targets a test needs besides itself: the test binaries start the two
# programs too.
targets_for() {
  case $1 in
    cli_*) echo "quorvanta quorvanta-sim" ;;
    rooms) echo "" ;;
    *) echo "quorvanta quorvanta-sim $1" ;;
  esac
}

# Runs one mutant's tests in the current order; prints the killer or nothing.
run_tests() {
  for t in $order; do
    # shellcheck disable=SC2046
    if ! ninja -C "$build" -j "$jobs" $(targets_for "$t") >>"$log" 2>&1; then
      echo "(does not build)"
      return
    fi
    base=$(seconds "$t")
    limit=$(awk -v b="${base:-10}" 'BEGIN { l = int(b * 5) + 60; print (l > 600 ? 600 : l) }')
    if ! timeout -k 10 "$limit" ctest --test-dir "$build" -R "^$t\$" --output-on-failure \
      >>"$log" 2>&1; then
      echo "$t"
      return
    fi
  done
  [ -n "$slow" ] || return
  regex=$(printf '%s\n' $slow | paste -sd '|' -)
  # shellcheck disable=SC2046
  if ! ninja -C "$build" -j "$jobs" $(for t in $slow; do targets_for "$t"; done) >>"$log" 2>&1; then
    echo "(does not build)"
    return
  fi
  timeout -k 10 600 ctest --test-dir "$build" -j "$jobs" --stop-on-failure --output-on-failure \
    -R "^($regex)\$" >"$dir/slow.txt" 2>&1
  status=$?
  cat "$dir/slow.txt" >>"$log"
  [ "$status" = 0 ] && return
  # The test that failed first: a run stopped at a failure lists no summary.
  failed=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*/\1/p' "$dir/slow.txt" | head -n 1)
  echo "${failed:-$(printf '%s\n' $slow | head -n 1)}"
}

total=0
killed=0
equivalent=0
invalid=0
survivors=""
# The list comes in on descriptor 3, so that nothing a mutant runs reads it.
while IFS= read -r line <&3; do
  case $line in '' | '#'*) continue ;; esac
  id=$(printf '%s\n' "$line" | awk -F ' @@ ' '{print $1}')
  file=$(printf '%s\n' "$line" | awk -F ' @@ ' '{print $2}')
  from=$(printf '%s\n' "$line" | awk -F ' @@ ' '{print $3}')
  to=$(printf '%s\n' "$line" | awk -F ' @@ ' '{print $4}')
  note=$(printf '%s\n' "$line" | awk -F ' @@ ' '{print $5}')
  if [ -n "$only" ] && ! printf '%s\n' "$id" | grep -Eq "$only"; then continue; fi
  case $note in
    equivalent*)
      equivalent=$((equivalent + 1))
      printf '%-34s equivalent (%s)\n' "$id" "${note#equivalent: }"
      continue
      ;;
  esac
  cp "$src/$file" "$dir/original"
  plant "$src/$file" "$from" "$to"
  status=$?
  if [ "$status" != 0 ]; then
    invalid=$((invalid + 1))
    printf '%-34s INVALID: the text to change is not in %s exactly once\n' "$id" "$file"
    continue
  fi
  echo "=== $id" >>"$log"
  killer=$(run_tests)
  # The original goes back with a new time stamp, so the next build
  # compiles it again.
  cp "$dir/original" "$src/$file"
  if [ "$killer" = "(does not build)" ]; then
    invalid=$((invalid + 1))
    printf '%-34s INVALID: does not build\n' "$id"
    continue
  fi
  total=$((total + 1))
  if [ -n "$killer" ]; then
    killed=$((killed + 1))
    printf '%-34s killed by %s\n' "$id" "$killer"
    # The test that caught this one is tried first from now on.
    case " $order " in
      *" $killer "*) order="$killer $(printf '%s\n' $order | grep -vxF "$killer")" ;;
    esac
  else
    survivors="$survivors $id"
    printf '%-34s SURVIVED\n' "$id"
  fi
done 3<"$list"
ninja -C "$build" -j "$jobs" >>"$log" 2>&1

share=$(awk -v k="$killed" -v n="$total" 'BEGIN { printf "%.1f", n ? 100 * k / n : 0 }')
echo "killed $killed of $total mutants ($share %); $equivalent equivalent, $invalid invalid"
[ -z "$survivors" ] || echo "survived:$survivors"
[ "$invalid" = 0 ]
