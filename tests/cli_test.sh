#!/usr/bin/env bash
# The command line: no arguments runs the calculator on standard input; FILE
# arguments ("-" for standard input) run it on their concatenation; --help
# and --version answer on standard output with status 0; --progress changes
# nothing when standard error is not a terminal; an unknown option is a
# one-line usage error and a FILE that cannot be opened a one-line message,
# both on standard error with status 2.
# Usage: cli_test.sh PROGRAM VERSION
set -u
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
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

# Options that are not understood: one line on standard error naming the
# argument, status 2, nothing on standard output, the input not read.
i=0
while IFS='|' read -r args named; do
  i=$((i + 1))
  read -r -a argv <<<"$args"
  run "bad$i" $'10\n1\n14\n2\n' "${argv[@]}"
  what="arguments '$args'"
  [ "$(cat "$tmp/bad$i.status")" = 2 ] || bad "$what: status $(cat "$tmp/bad$i.status"), expected 2"
  [ -s "$tmp/bad$i.out" ] && bad "$what: wrote to standard output"
  [ "$(wc -l <"$tmp/bad$i.err")" = 1 ] || bad "$what: standard error is not one line"
  grep -q '^fixcalc: .*usage: fixcalc' "$tmp/bad$i.err" || bad "$what: no usage in '$(cat "$tmp/bad$i.err")'"
  grep -qF -- "'$named'" "$tmp/bad$i.err" || bad "$what: the message does not name '$named'"
done <<'END'
-h|-h
-v|-v
--helpx|--helpx
--HELP|--HELP
--help extra|--help
--version --help|--version
--progress --version|--version
--progress -q|-q
END

# FILE arguments: the same output and status as their bytes one after the
# other on standard input, "-" standing for standard input. The first file
# ends inside a number, and "EOF met" comes only at the end of the last one;
# after "--", "-x" is a file.
printf '20\n1\n1' >"$tmp/a"
printf '4\n2\n' >"$tmp/b"
printf '1\n-3\n' >"$tmp/-x"  # 11 with the end of a: A*(-3), status 255
stdin=$'23\n2\n'
while read -r -a argv; do
  files=()
  for f in "${argv[@]}"; do
    case $f in --) ;; -) files+=(/dev/stdin) ;; *) files+=("$tmp/$f") ;; esac
  done
  printf '%s' "$stdin" | cat "${files[@]}" >"$tmp/cat.in"
  "$prog" <"$tmp/cat.in" >"$tmp/want.out"
  want=$?
  printf '%s' "$stdin" | (cd "$tmp" && exec "$prog" "${argv[@]}") >"$tmp/got.out" 2>"$tmp/got.err"
  got=$?
  what="files '${argv[*]}'"
  cmp -s "$tmp/got.out" "$tmp/want.out" || bad "$what: output differs from that of their concatenation"
  [ "$got" = "$want" ] || bad "$what: status $got, expected $want"
  [ -s "$tmp/got.err" ] && bad "$what: wrote to standard error"
done <<'END'
a
a b
a - b
- a b
a b -
a - - b
a -- -x
END

# A FILE that cannot be opened: one line for each with the system's reason,
# status 2, nothing on standard output.
mkdir "$tmp/dir"
run unopened $'10\n1\n14\n2\n' "$tmp/a" "$tmp/none" - "$tmp/dir"
[ "$(cat "$tmp/unopened.status")" = 2 ] || bad "unopenable files: status $(cat "$tmp/unopened.status"), expected 2"
[ -s "$tmp/unopened.out" ] && bad "unopenable files: wrote to standard output"
printf 'fixcalc: %s: No such file or directory\nfixcalc: %s: Is a directory\n' "$tmp/none" "$tmp/dir" >"$tmp/unopened.want"
cmp -s "$tmp/unopened.err" "$tmp/unopened.want" || bad "unopenable files: standard error is '$(cat "$tmp/unopened.err")'"

# --progress with standard error not a terminal, on a command of more than a
# second: the same output, nothing on standard error.
long=$'30000\n20\n17\n163\n2\n22\n-1\n'
run quiet "$long"
run progress "$long" --progress
cmp -s "$tmp/progress.out" "$tmp/quiet.out" || bad "--progress: the output differs"
[ -s "$tmp/progress.err" ] && bad "--progress: wrote to standard error, which is not a terminal"

exit $fail
