#!/bin/sh
# Quorvanta.exe inside Wine in Japanese with NT reporting: the Japanese
# templates and texts (code page 932 through Wine's own conversion), the
# direct update of one emulated T71 USB drive at 1.00 to the 1.10 package,
# every question answered OK, and the shutdown that the NT family's update
# ends with, asked of Wine itself. The drive must hold the new firmware.
#
#   sh tests/wine/direct_update_japanese.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
. "$(dirname "$0")/lib_wine.sh"
begin_wine_test "$@"
wine_version winxp
make_update_pc
start_program ja_JP.UTF-8
wait_window_with 1006 60
[ "$(control_text "$WIN" 1004)" = "許諾する" ] || fail "not the Japanese agreement"
read_agreement
start_update
answer_messages ""
[ -n "$MESSAGES" ] || fail "no message was shown"
wait_program_end 10
expect_drive_revision 1.10
expect_no_run_entry
echo "PASS"
