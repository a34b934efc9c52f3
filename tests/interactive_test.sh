#!/usr/bin/env bash
# Interactive use, as a person at a terminal: the program runs in a tmux pane,
# numbers are typed one line at a time, and before each line is typed the
# screen must already show the echo and result of the previous one. Once with
# the output on the terminal, once with the output piped through another
# program (as when a session is logged with tee), where only the program's own
# flushing makes the echoes appear in time, and once after a file that holds
# the precision pair. Then the progress line of --progress on a long command.
# Needs tmux; without it the test is skipped (status 77).
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

# pane DESCRIPTION SCRIPT [ARGS...]: runs the shell commands SCRIPT, with the
# program as $0, $1 the file for the exit status and ARGS from $2 on, in a
# fresh pane of a tmux server of its own.
pane() {
  how=$1
  rm -f "$tmp/status"
  seen=''
  sock=$tmp/tmux-${#socks[@]}
  socks+=("$sock")
  tm start-server \; set-option -g remain-on-exit on \; \
    new-session -d -s calc -x 100 -y 60 bash -c "$2" "$prog" "$tmp/status" "${@:3}" || { echo "FAIL ($how) tmux could not start the program"; exit 1; }
}

# Waits up to SECONDS for the program to end with status 0. The exit status
# comes from the shell that ran the program: tmux does not always know it
# when the pane has died.
ends_well() {
  local i status=''
  for i in $(seq 1 $(($1 * 20))); do
    [ -s "$tmp/status" ] && status=$(cat "$tmp/status") && break
    sleep 0.05
  done
  [ -n "$status" ] || fail_with "the program did not end"
  [ "$status" = 0 ] || fail_with "exit status $status, expected 0"
}

# session DESCRIPTION SCRIPT [PAIR]: types a short calculation into a pane
# running SCRIPT (see pane). With PAIR, a file holding the precision pair
# 20, 1 that the program reads before the terminal, the pair is not typed.
session() {
  pane "$@"
  sleep 0.2
  if [ $# -gt 2 ]; then
    seen=$'\nD: 20\nE: 1'
    type_line 14 $'\n\n14\nNo: 14 A := PI;'
  else
    [ -z "$(screen)" ] || fail_with "the program printed something before any input"
    type_line 20 '20'
    type_line 1 $'\n1\n\nD: 20\nE: 1'
    type_line 14 $'\n\n14\nNo: 14 A := PI;'
  fi
  type_line 2 $'\n\n2\nNo: 2 write(A);\n          3.14159 26535 89793 23847'
  type_line 1 $'\n\n1\nNo: 1 A := r;'   # the echo shows before the argument is typed
  type_line 2.5 $'2.5\n\nr := 2.5'
  type_line 11 $'\n\n11\nNo: 11 A := A*r;'
  type_line 4 $'4\n\nr := 4'
  type_line 2 $'\n\n2\nNo: 2 write(A);\n         10.00000 00000 00000 00000'
  type_line 22 $'\n\n22\nNo: 22 stop'
  type_line -1 '-1'
  ends_well 10
}

session "output on the terminal" '"$0"; echo $? >"$1"'
session "output piped" 'set -o pipefail; "$0" | cat; echo $? >"$1"'
printf '20\n1\n' >"$tmp/pair.in"
session "a file, then the terminal" '"$0" --progress "$2" -; echo $? >"$1"' "$tmp/pair.in"

# --progress on a command of a few seconds: while it runs, the last line on
# the screen is the progress line, right below the echo of the argument;
# when the program has ended the screen is the same as without the option.
# With the output in a file the progress line is all there is, and it is gone
# at the end.
printf '40000\n20\n17\n163\n22\n-1\n' >"$tmp/long.in"
progress='^No: 17 A := exp\(PI\*sqrt\(r\)\);  exp term [0-9]+ of ~[0-9]+ \([0-9]+%\)  [0-9]+ s$'
shows_progress() {
  local i last=''
  for i in $(seq 1 600); do
    last=$(screen | tail -1)
    [[ $last =~ $progress ]] && return 0
    [ -s "$tmp/status" ] && fail_with "no progress line while command 17 ran"
    sleep 0.05
  done
  fail_with "no progress line after 30 s"
}
# tmux may show the end of a long output a moment after the program has ended.
shows_end() {
  for i in $(seq 1 200); do
    [ "$(screen | tail -1)" = "No: 22 stop" ] && return 0
    sleep 0.05
  done
  fail_with "the output does not end with 'No: 22 stop'"
}
pane "without --progress" '"$0" "$2"; echo $? >"$1"' "$tmp/long.in"
ends_well 60
shows_end
plain=$(screen)
pane "--progress" '"$0" --progress "$2"; echo $? >"$1"' "$tmp/long.in"
shows_progress
[ "$(screen | tail -2 | head -1)" = "r := 163" ] || fail_with "the progress line is not right below the output"
ends_well 60
shows_end
if [ "$(screen)" != "$plain" ]; then
  echo "FAIL (--progress) the screen at the end differs from the one without it (- without, + with):"
  diff <(echo "$plain") <(screen)
  exit 1
fi
head -4 "$tmp/long.in" >"$tmp/long-open.in"
pane "--progress, output in a file" '"$0" --progress "$2" - >"$1.out"; echo $? >"$1"' "$tmp/long-open.in"
shows_progress
[ "$(screen | grep -c .)" = 1 ] || fail_with "more than the progress line on the screen"
for i in $(seq 1 1200); do
  [ -z "$(screen)" ] && break
  sleep 0.05
done
[ -z "$(screen)" ] || fail_with "the progress line stays after the command"
[ -s "$tmp/status" ] && fail_with "the program did not wait for the terminal"
tm send-keys -t calc -l -- $'22\n-1\n'
ends_well 10
cmp -s "$tmp/status.out" <("$prog" <"$tmp/long.in") || fail_with "the output differs from that without --progress"
exit 0
