#!/bin/sh
# The dialogs' rectangles as Wine's USER32 lays out the templates that windres
# compiled, against the dialog model's for the same templates: every window,
# client area and control, to the pixel.
#
#   sh tests/wine/dialog_rectangles.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
. "$(dirname "$0")/lib_wine.sh"
begin_wine_test "$@"
"$HOST_TOOLS/qv_dialog_rects" >"$WORK/model.txt" || fail "the dialog model cannot show a template"
wine "$BUILD/dialog_rects.exe" 2>"$WORK/wine.err" | tr -d '\r' >"$WORK/wine.txt"
[ -s "$WORK/wine.txt" ] || fail "dialog_rects.exe printed nothing: $(cat "$WORK/wine.err")"
if ! diff -u "$WORK/model.txt" "$WORK/wine.txt"; then
  fail "the dialog model's rectangles (-) differ from USER32's under Wine (+)"
fi
echo "$(wc -l <"$WORK/model.txt") rectangles equal"
