#!/bin/sh
# Quorvanta.exe inside Wine in Japanese with NT reporting: the Japanese
# templates and texts (code page 932 through Wine's own conversion), the
# direct update of one emulated T71 USB drive at 1.00 to the 1.10 package
# at the rehearsal clock rate, its two notices answered OK, and the shutdown
# that the NT family's update ends with, asked of Wine itself, whose question
# the program's windows answer yes even inside the request. The drive must
# hold the new firmware.
#
#   sh tests/wine/direct_update_japanese.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
. "$(dirname "$0")/lib_wine.sh"
begin_wine_test "$@"
wine_version winxp
make_update_pc
# The probe asks the program's windows inside its shutdown request, as
# Windows 95/98 do: the hold of the write must be over by then.
export QV_ASK_INSIDE_EXIT="Z:$(echo "$WORK/inside.log" | tr / '\\')"
start_program ja_JP.UTF-8 --rehearsal-clock-rate $REHEARSAL
wait_window_with 1006 60
[ "$(control_text "$WIN" 1004)" = "許諾する" ] || fail "not the Japanese agreement"
read_agreement
start_update
answer_messages ""
# The probe shows a line break as a blank.
expected="他に現在実行中のアプリケーションがあれば、終了してください。 編集中のドキュメントがあれば、保存してください。
－決して実行途中でプログラムを中止したり、コンピュータの電源を切らないで下さい。 －操作を始める前に、全てのアプリケーションを終了してください。 －操作を始める前に、ヴァントロスＵＳＢ　ＣＤ－Ｒ／ＲＷドライブからＣＤを取り出してください。 －プログラム終了後、コンピュータは自動的にシャットダウンするか、シャットダウン可能な状態となります。その後、再度電源を入れなおしてください。"
got=$(printf '%s' "$MESSAGES" | tr -s ' ')
[ "$got" = "$expected" ] || fail "the messages were:
$got"
wait_program_end 10
[ -s "$WORK/inside.log" ] || fail "nothing asked inside the shutdown request"
grep -qv '^yes' "$WORK/inside.log" &&
  fail "inside the shutdown request the windows said: $(tr -d '\r' <"$WORK/inside.log")"
expect_power_request shutdown
expect_drive_revision 1.10
expect_no_run_entry
echo "PASS"
