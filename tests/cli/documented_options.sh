#!/bin/sh
# Every option that a program's --help names is also in its manual page and
# in its bash completion, so that an option added later is not left out of
# either; --help itself points to the manual page.
# Usage: sh documented_options.sh QUORVANTA_BIN QUORVANTA_SIM_BIN
QV=$1
SIM=$2
test_name=documented_options
. "$(dirname "$0")/lib/common.sh"
docs="$(dirname "$0")/../../docs"

for program in quorvanta quorvanta-sim; do
  bin=$QV
  [ "$program" = quorvanta-sim ] && bin=$SIM
  "$bin" --help >"$WORK/help.txt" || fail "$program --help"
  grep -q "$program(1)" "$WORK/help.txt" || fail "$program --help does not point to $program(1)"
  options=$(grep -o -- '--[a-z][a-z-]*' "$WORK/help.txt" | sort -u)
  [ -n "$options" ] || fail "$program --help names no option"
  for option in $options; do
    # roff writes each hyphen as \-.
    roff=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
    grep -q -- "$roff" "$docs/man/$program.1" || fail "$option of $program is not in $program(1)"
    grep -q -- "$option\\b" "$docs/completion/$program" || fail "$option of $program is not completed"
  done
  "$bin" --version | grep -qx "$program [0-9][0-9.]*" || fail "$program --version"
done
finish
