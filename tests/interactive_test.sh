#!/usr/bin/env bash
# Interactive use, as a person at a terminal: the program runs in a tmux pane,
# numbers are typed one line at a time, and before each line is typed the
# screen must already show the echo and result of the previous one. Once with
# the output on the terminal, once with the output piped through another
# program (as when a session is logged with tee), where only the program's own
# flushing makes the echoes appear in time. Needs tmux; without it the test is
# skipped (status 77).
# Usage: interactive_test.sh PROGRAM
set -u
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if ! command -v tmux >/dev/null; then
  echo "SKIP: tmux is not installed (scripts/setup.sh installs it)"
  exit 77
fi
unset TMUX
# One tmux server per session, on a socket of its own in a temporary folder.
tmp=$(mktemp -d)
sock=''
tm() { tmux -S "$sock" -f /dev/null "$@"; }
socks=()
trap 'for sock in "${socks[@]}"; do tm kill-server 2>/dev/null; done; rm -rf "$tmp"' EXIT
how=''

# The pane's text, history included, without trailing blanks, trailing empty
# lines, or the line tmux adds when the program has ended.
screen() {
  tm capture-pane -p -S - -t calc | sed -e 's/ *$//' -e '/^Pane is dead/d' | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
}

fail_with() {
  echo "FAIL ($how) $1"
  echo "--- screen ---"
  screen
  echo "--------------"
  exit 1
}

# Types TEXT and Enter, then waits until the screen shows exactly what a
# person should see by now: what was there, then SHOWN (the rest of the typed
# line as the terminal echoes it, and the program's answer).
type_line() {
  local text=$1 i
  seen+=$2
  tm send-keys -t calc -l -- "$text"
  tm send-keys -t calc Enter
  for i in $(seq 1 200); do
    [ "$(screen)" = "$seen" ] && return 0
    sleep 0.05
  done
  echo "FAIL ($how) after typing '$text' the screen is not as expected (- expected, + screen):"
  diff <(echo "$seen") <(screen)
  exit 1
}

# session DESCRIPTION SCRIPT: runs the shell commands SCRIPT, with the program
# as $0, in a fresh pane, types a short calculation into it and checks the
# exit status that SCRIPT leaves in $1.
session() {
  how=$1
  rm -f "$tmp/status"
  seen=''
  sock=$tmp/tmux-${#socks[@]}
  socks+=("$sock")
  tm start-server \; set-option -g remain-on-exit on \; \
    new-session -d -s calc -x 100 -y 60 bash -c "$2" "$prog" "$tmp/status" || { echo "FAIL ($how) tmux could not start the program"; exit 1; }
  sleep 0.2
  [ -z "$(screen)" ] || fail_with "the program printed something before any input"
  type_line 20 '20'
  type_line 1 $'\n1\n\nD: 20\nE: 1'
  type_line 14 $'\n\n14\nNo: 14 A := PI;'
  type_line 2 $'\n\n2\nNo: 2 write(A);\n          3.14159 26535 89793 23847'
  type_line 1 $'\n\n1\nNo: 1 A := r;'   # the echo shows before the argument is typed
  type_line 2.5 $'2.5\n\nr := 2.5'
  type_line 11 $'\n\n11\nNo: 11 A := A*r;'
  type_line 4 $'4\n\nr := 4'
  type_line 2 $'\n\n2\nNo: 2 write(A);\n         10.00000 00000 00000 00000'
  type_line 22 $'\n\n22\nNo: 22 stop'
  type_line -1 '-1'
  # The exit status comes from the shell that ran the program: tmux does not
  # always know it when the pane has died.
  local i status=''
  for i in $(seq 1 200); do
    [ -s "$tmp/status" ] && status=$(cat "$tmp/status") && break
    sleep 0.05
  done
  [ -n "$status" ] || fail_with "the program did not end at D = -1"
  [ "$status" = 0 ] || fail_with "exit status $status, expected 0"
}

session "output on the terminal" '"$0"; echo $? >"$1"'
session "output piped" 'set -o pipefail; "$0" | cat; echo $? >"$1"'
exit 0
