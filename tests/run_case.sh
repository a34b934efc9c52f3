#!/usr/bin/env bash
# Runs one whole-program case: run_case.sh PROGRAM CASE
# Feeds CASE.in to PROGRAM and compares standard output with CASE.out byte for
# byte, the exit status with CASE.status, and standard error with nothing.
# With CASE.ulimit the program runs under that limit of its address space
# (KiB), so that allocation fails whatever the machine's memory.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
([ ! -f "$2.ulimit" ] || ulimit -v "$(cat "$2.ulimit")"; exec "$1") <"$2.in" >"$tmp/out" 2>"$tmp/err"
status=$?
fail=0
cmp -s "$tmp/out" "$2.out" ||
  { echo "FAIL $2: standard output differs"; diff -u --label expected --label actual "$2.out" "$tmp/out" | head -40; fail=1; }
want=$(tr -d "[:space:]" <"$2.status")
[ "$status" = "$want" ] || { echo "FAIL $2: exit status $status, expected $want"; fail=1; }
[ ! -s "$tmp/err" ] || { echo "FAIL $2: wrote to standard error:"; head -5 "$tmp/err"; fail=1; }
[ $fail = 0 ] || echo "reproduce: $1 < $2.in"
exit $fail
