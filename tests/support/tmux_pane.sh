# shellcheck shell=sh
# A terminal view driven by keys in tmux, for the tests that run the
# installed program that way (tests/package/, tests/installed/). Sourced;
# the caller defines fail MESSAGE and sets TMUX_SOCKET.
#
#   tm ARG...             tmux on that socket
#   pane                  what the pane shows
#   wait_pane TEXT WHAT   until the pane shows TEXT (PANE_SECONDS, 60 unless
#                         set: a loaded machine), else the pane and a failure;
#                         the pane's command ends with "echo exit=$?"
#   update_by_keys [DRIVE]  the agreement read to its end and accepted, the
#                         drive whose status line shows DRIVE checked (else
#                         the first), UPDATE, OK to every box of a two-stage
#                         update, then EXIT once UPDATE is disabled
tm() { tmux -S "$TMUX_SOCKET" "$@"; }
pane() { tm capture-pane -p -J 2>&1; }
wait_pane() {
  # By the clock: each look at the pane may take long on a loaded machine.
  end=$(($(date +%s) + ${PANE_SECONDS:-60}))
  while [ "$(date +%s)" -lt $end ]; do
    pane | grep -qF -- "$1" && return 0
    # The program has ended (the pane's command says so): no use waiting.
    pane | grep -q '^exit=' && break
    sleep 0.05
  done
  pane >&2
  fail "terminal view: $2: '$1' not shown"
  return 1
}
update_by_keys() {
  wait_pane "(-) Accept" "agreement" || return 1
  for _ in 1 2 3 4 5 6 7 8 9; do tm send-keys NPage; done
  tm send-keys Tab Tab Space
  wait_pane "(*) Accept" "agreement accepted" || return 1
  tm send-keys Enter
  wait_pane "[ UPDATE ]" "main dialog" || return 1
  if [ -n "${1:-}" ]; then
    # From UPDATE back to the checked row, the check down to the drive.
    tm send-keys BTab
    n=0
    until pane | grep -qF -- "$1" || [ $n -ge 8 ]; do
      tm send-keys Down
      sleep 0.2
      n=$((n + 1))
    done
    wait_pane "$1" "the drive chosen" || return 1
    tm send-keys Tab
  fi
  tm send-keys Enter
  for text in "Close all other applications" "DO NOT abort" "Succeed to load F/W!!"; do
    wait_pane "$text" "update" || return 1
    tm send-keys Enter
  done
  wait_pane "[-UPDATE-]" "UPDATE disabled after the update" || return 1
  tm send-keys Enter
}
