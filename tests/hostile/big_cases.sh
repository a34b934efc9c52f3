#!/usr/bin/env bash
# big_cases.sh PROGRAM NAME: a whole-program case too big to keep, written
# to a scratch folder and run by run_case.sh. The expected outputs follow
# from the echoes, the scanners and the layout of a printed register, or from
# a run without the condition under test.
set -euo pipefail
prog=$1
name=$2
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
c=$tmp/$name

rep() { head -c "$2" /dev/zero | tr '\0' "$1"; }  # C N: N copies of C
# N FORMAT TEXT: TEXT in FORMAT, N times.
times() { awk -v n="$1" -v f="$2" -v t="$3" 'BEGIN { for (i = 0; i < n; i++) printf f, t }'; }

case $name in
  million-digit-numbers)
    # 10^6 leading zeros; 10^999999 = 2^999999 * 5^999999 wraps to 0 modulo
    # 2^64, and 10^1000001 + 7 to 7.
    { rep 0 1000000; printf '10\n1\n1'; rep 0 999999; printf '\n1\n2.5\n11\n1'; rep 0 1000000
      printf '7\n2\n22\n-1\n'; } >"$c.in"
    printf '\nD: 10\nE: 1\n\nNo: 0\n\nNo: 1 A := r;\nr := 2.5\n\nNo: 11 A := A*r;\nr := 7' >"$c.out"
    printf '\n\nNo: 2 write(A);\n         17.50000 00000 \n\nNo: 22 stop\n' >>"$c.out"
    echo 0 >"$c.status"
    ;;
  million-digit-reals)
    # 0.(10^6 zeros)1 is 1 times 10^-1000001, which is 0; 3.(10^6 threes)
    # overflows the mantissa to infinity and 10^-1000000 to zero, and their
    # product is not a number (x86-64 prints the default NaN as -nan), which
    # loads as zero; 1(10^6 zeros) is infinite and does not fit.
    { printf '10\n1\n1\n0.'; rep 0 1000000; printf '1\n2\n1\n3.'; rep 3 1000000; printf '\n2\n1\n1'
      rep 0 1000000; printf '\n'; } >"$c.in"
    zero='\n\nNo: 2 write(A);\n           .00000 00000 '
    printf "\nD: 10\nE: 1\n\nNo: 1 A := r;\nr := 0$zero\n\nNo: 1 A := r;\nr := -nan$zero" >"$c.out"
    printf '\n\nNo: 1 A := r;\nr := inf\nError in: ASSIGN' >>"$c.out"
    echo 255 >"$c.status"
    ;;
  million-character-lines)
    # Blanks continue a number across 10^6 of them; letters are skipped
    # between numbers; a malformed number keeps only its first 99 characters.
    { printf '1'; rep ' ' 1000000; printf '0\n'; rep x 1000000; printf '\n1\n1\n2'; rep ' ' 1000000
      printf '.5\n2\n'; rep x 1000000; printf -- '--\n'; } >"$c.in"
    { printf '\nD: 10\nE: 1\n\nNo: 1 A := r;\nr := 2.5\n\nNo: 2 write(A);\n          2.50000 00000 '
      printf '\n\nError in integer number: '; rep x 99; printf '\n'; } >"$c.out"
    echo 0 >"$c.status"
    ;;
  million-commands)
    # 10^6 commands: A := 1, B := A, then A := A + B 999997 times, write(A).
    { printf '0\n20\n1\n1\n3\n'; times 999997 '%s\n' 9; printf '2\n'; } >"$c.in"
    { printf '\nD: 0\nE: 20\n\nNo: 1 A := r;\nr := 1\n\nNo: 3 B := A;'
      times 999997 '\n\nNo: %s' '9 A := A + B;'
      printf '\n\nNo: 2 write(A);\n    9 99998 \n\n\nEOF met\n'; } >"$c.out"
    echo 0 >"$c.status"
    ;;
  e-on-two-threads-within-a-limit)
    # e to 10^6 decimals under a limit of the address space (KiB) that one
    # thread completes in (from some 27 MB): on two threads the halves of the
    # series, side by side, complete in it too, with the digits one thread
    # prints without a limit. Their peak depends on how the threads meet: runs
    # of one build needed 28 to over 30 MB, the most on a busy machine.
    printf '1000000\n1\n23\n2\n' >"$c.in"
    FIXCALC_THREADS=1 "$prog" <"$c.in" >"$c.out"
    echo 0 >"$c.status"
    echo 32000 >"$c.ulimit"
    export FIXCALC_THREADS=2
    ;;
  sqrt-within-twice-the-peak | sqrt-past-a-limit)
    # sqrt(2) to 10^7 decimals on the vector units: within twice the peak of
    # mpmath with gmpy2 for it (59.1 MiB on the machine of bench/GROWTH.md),
    # the digits of a run without a limit; in less, ALLOC. Skipped where the
    # processor has no vector units (the plain kernels take more memory).
    FIXCALC_UNITS=avx2 "$prog" </dev/null >/dev/null 2>&1 || [ $? != 2 ] || exit 77
    printf '10000000\n11\n16\n2\n2\n22\n-1\n' >"$c.in"
    if [ "$name" = sqrt-past-a-limit ]; then
      printf '\nD: 10000000\nE: 11\n\nNo: 16 A := sqrt(r);\nr := 2\nError in: ALLOC' >"$c.out"
      echo 255 >"$c.status"
      echo 100000 >"$c.ulimit"
    else
      "$prog" <"$c.in" >"$c.out"
      echo 0 >"$c.status"
      echo 121000 >"$c.ulimit"
    fi
    ;;
  *)
    echo "unknown case $name"
    exit 2
    ;;
esac
"$here/../run_case.sh" "$prog" "$c"
