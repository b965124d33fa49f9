#!/bin/sh
# Runs a test that needs a real component (a guest, a Debian root). Its exit
# code 77 means the component is missing: a skip for a developer's own
# ctest, a failure when QV_REQUIRE_COMPONENTS=1 is set where the tests run.
#
#   sh tests/support/component.sh COMMAND [ARGUMENT...]
"$@"
status=$?
if [ "$status" = 77 ] && [ "${QV_REQUIRE_COMPONENTS:-0}" = 1 ]; then
  echo "FAIL: a component this test needs is missing, and QV_REQUIRE_COMPONENTS=1 requires it" >&2
  exit 1
fi
exit "$status"
