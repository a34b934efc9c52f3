#!/usr/bin/env bash
# Runs one whole-program case: run_case.sh PROGRAM CASE
# Feeds CASE.in to PROGRAM and compares standard output with CASE.out byte for
# byte, the exit status with CASE.status, and standard error with nothing.
set -u
prog=$1
case=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$prog" <"$case.in" >"$tmp/out" 2>"$tmp/err"
status=$?
want=$(tr -d '[:space:]' <"$case.status")
fail=0
if ! cmp -s "$tmp/out" "$case.out"; then
  echo "FAIL $case: standard output differs"
  diff -u --label expected --label actual "$case.out" "$tmp/out" | head -40
  fail=1
fi
if [ "$status" != "$want" ]; then
  echo "FAIL $case: exit status $status, expected $want"
  fail=1
fi
if [ -s "$tmp/err" ]; then
  echo "FAIL $case: wrote to standard error:"
  head -5 "$tmp/err"
  fail=1
fi
if [ $fail -ne 0 ]; then
  echo "reproduce: $prog < $case.in"
fi
exit $fail
