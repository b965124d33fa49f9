#!/bin/sh
# A restart under Wine: Windows 98 reporting, one emulated T71 drive behind
# ATAPI (no vendor query) whose auto-insert notification is on in Wine's
# registry. UPDATE asks for a restart; on OK the program switches the
# notification off, registers itself to run again and asks Windows to
# restart. The test, not Wine, plays the restart: it ends Wine's session and
# starts what the Run entry names. The continued run goes straight to the
# main dialog, updates the drive directly and leaves nothing behind: no Run
# entry, the notification on again, the drive at 1.10.
#
#   sh tests/wine/restart_first_update.sh CROSS_BUILD_DIR NATIVE_BUILD_DIR
set -eu
. "$(dirname "$0")/lib_wine.sh"
begin_wine_test "$@"

instance='HKLM\Enum\SCSI\VANTROS_T71_CDRW_USB\ATAPI&A0&T0'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
auto_insert() {
  wine reg query "$instance" /v AutoInsertNotification 2>/dev/null | tr -d '\r' |
    awk '$1 == "AutoInsertNotification" { print $3 }'
}

wine_version win98
make_update_pc 0:0:t71:atapi:rev=1.00 --no-loader
wine reg add "$instance" /v AutoInsertNotification /t REG_BINARY /d 01 /f >/dev/null 2>&1 ||
  fail "cannot write the drive's registry instance"
start_program en_US.UTF-8 --rehearsal-clock-rate $REHEARSAL
read_agreement
start_update ATAPI "1.00"
answer_messages "You must restart your computer"
wait_program_end 60
expect_power_request restart
run=$(wine reg query "$run_key" /v Quorvanta 2>/dev/null | tr -d '\r' |
  awk '$1 == "Quorvanta" { print $3 }')
[ -n "$run" ] || fail "no Run entry after the restart request"
printf 'Run entry: %s\n' "$run"
[ "$(auto_insert)" = "00" ] || fail "auto-insert notification not switched off: $(auto_insert)"

# The restart: every program of the session ends, Windows starts the Run entry.
wineserver -k
STARTED=$(date +%s)
(cd "$WINEPREFIX/drive_c/windows" && LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 exec wine "$run" \
  --rehearsal-clock-rate $REHEARSAL >"$WORK/continued.log" 2>&1) &
PROGRAM=$!
start_update ATAPI "1.00"
answer_messages ""
wait_program_end 10
expect_drive_revision 1.10
expect_no_run_entry
[ "$(auto_insert)" = "01" ] || fail "auto-insert notification not restored: $(auto_insert)"
echo "PASS"
