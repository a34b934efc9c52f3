#!/usr/bin/env bash
# `cmake --install` into a fresh prefix puts the program in bin and the manual
# page in share/man/man1, where a shell and man look for them.
# Usage: install_test.sh BUILD_DIR MANPAGE
set -u
build=$1
page=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail=0

if ! log=$(cmake --install "$build" --prefix "$prefix" 2>&1); then
  echo "FAIL cmake --install:"
  echo "$log"
  exit 1
fi

bin=$prefix/bin/fixcalc
man=$prefix/share/man/man1/fixcalc.1
if [ ! -x "$bin" ]; then
  echo "FAIL no executable $bin; installed:"
  (cd "$prefix" && find . -type f)
  fail=1
else
  out=$(printf '0\n1\n1\n7\n2\n-1\n' | "$bin")
  grep -qx '          7 ' <<<"$out" || { echo "FAIL the installed program does not compute:"; echo "$out"; fail=1; }
fi
if [ ! -f "$man" ]; then
  echo "FAIL no manual page $man; installed:"
  (cd "$prefix" && find . -type f)
  fail=1
elif ! cmp -s "$man" "$page"; then
  echo "FAIL the installed manual page differs from $page"
  fail=1
elif command -v man >/dev/null && [ "$(man -M "$prefix/share/man" -w fixcalc 2>/dev/null)" != "$man" ]; then
  echo "FAIL man -M $prefix/share/man does not find fixcalc(1)"
  fail=1
fi

exit $fail
