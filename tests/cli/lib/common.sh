# Shared by the command-line tests: a scratch directory removed at exit, a
# failure counter, and line expectations.
# Usage: test_name=NAME; . common.sh   (sets WORK; defines fail, expect_line, finish)
WORK=$(mktemp -d "/tmp/qv_cli_${test_name}.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

expect_line() {  # FILE LINE
  grep -qxF "$2" "$1" || { fail "missing line '$2' in $1:"; cat "$1"; }
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$test_name: $failures failure(s)"
    exit 1
  fi
  echo "$test_name: all passed"
  exit 0
}
