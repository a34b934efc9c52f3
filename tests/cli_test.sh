#!/usr/bin/env bash
# The command line: no arguments runs the calculator on standard input;
# --help and --version answer on standard output with status 0; any other
# argument is a one-line usage error on standard error with status 2.
# Usage: cli_test.sh PROGRAM VERSION
set -u
prog=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0

bad() {
  echo "FAIL $*"
  fail=1
}

# run NAME STDIN ARGS...: runs the program, leaving $tmp/NAME.{out,err,status}.
run() {
  local name=$1 input=$2
  shift 2
  printf '%s' "$input" | "$prog" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err"
  echo $? >"$tmp/$name.status"
}

# No arguments: the calculator itself, nothing on standard error.
run plain $'10\n1\n1\n2.5\n2\n22\n-1\n'
printf '\nD: 10\nE: 1\n\nNo: 1 A := r;\nr := 2.5\n\nNo: 2 write(A);\n          2.50000 00000 \n\nNo: 22 stop\n' >"$tmp/plain.want"
cmp -s "$tmp/plain.out" "$tmp/plain.want" || bad "no arguments: output differs from the calculator's"
[ "$(cat "$tmp/plain.status")" = 0 ] || bad "no arguments: status $(cat "$tmp/plain.status")"
[ -s "$tmp/plain.err" ] && bad "no arguments: wrote to standard error"
run alarm $'0\n1\n11\n-2\n'
[ "$(cat "$tmp/alarm.status")" = 255 ] || bad "an arithmetic error without arguments: status $(cat "$tmp/alarm.status")"
[ -s "$tmp/alarm.err" ] && bad "an arithmetic error wrote to standard error"

# --help: usage on standard output, status 0; it does not read the input.
run help $'10\n1\n14\n2\n' --help
[ "$(cat "$tmp/help.status")" = 0 ] || bad "--help: status $(cat "$tmp/help.status")"
[ -s "$tmp/help.err" ] && bad "--help: wrote to standard error"
head -1 "$tmp/help.out" | grep -q '^Usage: fixcalc ' || bad "--help: no usage line first"
grep -q -- '--version' "$tmp/help.out" || bad "--help: does not mention --version"
grep -q 'No: ' "$tmp/help.out" && bad "--help: ran the calculator"
for code in $(seq 1 23); do
  grep -Eq "(^| )$code [A-Za-z]" "$tmp/help.out" || bad "--help: command $code not listed"
done

# --version: the project's version, on one line.
run version '' --version
[ "$(cat "$tmp/version.out")" = "fixcalc $version" ] || bad "--version printed '$(cat "$tmp/version.out")', expected 'fixcalc $version'"
[ "$(wc -l <"$tmp/version.out")" = 1 ] || bad "--version: not exactly one line"
[ "$(cat "$tmp/version.status")" = 0 ] || bad "--version: status $(cat "$tmp/version.status")"
[ -s "$tmp/version.err" ] && bad "--version: wrote to standard error"

# Anything else: one line on standard error naming the argument, status 2,
# nothing on standard output, the input not read.
i=0
for args in '-h' '-v' '--helpx' '--HELP' 'x' '-' '' '--help extra' '--version --help' '--version 3' 'pi.in'; do
  i=$((i + 1))
  read -r -a argv <<<"$args"
  [ -z "$args" ] && argv=('')
  run "bad$i" $'10\n1\n14\n2\n' "${argv[@]}"
  what="arguments '$args'"
  [ "$(cat "$tmp/bad$i.status")" = 2 ] || bad "$what: status $(cat "$tmp/bad$i.status"), expected 2"
  [ -s "$tmp/bad$i.out" ] && bad "$what: wrote to standard output"
  [ "$(wc -l <"$tmp/bad$i.err")" = 1 ] || bad "$what: standard error is not one line"
  grep -q '^fixcalc: .*usage: fixcalc' "$tmp/bad$i.err" || bad "$what: no usage in '$(cat "$tmp/bad$i.err")'"
  last=${argv[${#argv[@]} - 1]}
  grep -qF -- "'$last'" "$tmp/bad$i.err" || bad "$what: the message does not name '$last'"
done

exit $fail
