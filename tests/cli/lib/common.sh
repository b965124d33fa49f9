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

# A Windows 98 virtual PC whose update needs a restart first: an ATAPI T71
# drive with two instance keys at AutoInsertNotification 1 (the second named
# with a leading U) and a T71 package without loader data.
make_restart_pc() {  # SIM DIR
  "$1" init "$2" --drive 0:0:t71:atapi:rev=1.00 >/dev/null || fail "init $2"
  rm -f "$2/drive_c/Quorvanta/Tellumar."*
  "$1" pack "$2/drive_c/Quorvanta" --model t71 --rev 1.10 --no-loader >/dev/null || fail "pack $2"
  printf '\r\n[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VANTROS_T71_CDRW_USB\\USBSTOR&A0&T0]\r\n"AutoInsertNotification"=hex:01\r\n' \
    >>"$2/registry.reg"
}
