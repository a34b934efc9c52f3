#!/usr/bin/env bash
# `cmake --install` into a fresh prefix puts the program in bin and the
# compressed manual page in share/man/man1, where a shell and man look for
# them; `cpack -G DEB` makes a Debian package of the same two files that
# depends on the GMP runtime library.
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
man=$prefix/share/man/man1/fixcalc.1.gz
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
elif ! cmp -s <(gzip -dc "$man") "$page"; then
  echo "FAIL the installed manual page differs from $page"
  fail=1
elif command -v man >/dev/null && [ "$(man -M "$prefix/share/man" -w fixcalc 2>/dev/null)" != "$man" ]; then
  echo "FAIL man -M $prefix/share/man does not find fixcalc(1)"
  fail=1
fi

# The package, built into the temporary folder: the program, which computes,
# and the manual page, installed under /usr, nothing else but their folders;
# the control file's Depends names the GMP runtime library.
for tool in dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "FAIL $tool is not installed (scripts/setup.sh installs dpkg-dev)"; exit 1; }
done
if ! log=$(cd "$build" && cpack -G DEB -B "$prefix/package" 2>&1); then
  echo "FAIL cpack -G DEB:"
  echo "$log"
  exit 1
fi
deb=$(echo "$prefix"/package/fixcalc_*.deb)
[ -f "$deb" ] || { echo "FAIL no package in $prefix/package:"; ls "$prefix/package"; exit 1; }
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $NF }')
if [ "$files" != $'./usr/bin/fixcalc\n./usr/share/man/man1/fixcalc.1.gz' ]; then
  echo "FAIL the package holds other files than the program and its manual page:"
  dpkg-deb -c "$deb"
  fail=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
grep -Eq '(^|, )libgmp10( |,|$)' <<<"$depends" || { echo "FAIL the package does not depend on libgmp10: Depends: $depends"; fail=1; }
for field in Maintainer Description; do
  [ -n "$(dpkg-deb -f "$deb" $field)" ] || { echo "FAIL the package has no $field"; fail=1; }
done
dpkg-deb -x "$deb" "$prefix/unpacked"
out=$(printf '0\n1\n1\n7\n2\n-1\n' | "$prefix/unpacked/usr/bin/fixcalc")
grep -qx '          7 ' <<<"$out" || { echo "FAIL the packaged program does not compute:"; echo "$out"; fail=1; }
cmp -s <(gzip -dc "$prefix/unpacked/usr/share/man/man1/fixcalc.1.gz") "$page" || { echo "FAIL the packaged manual page differs from $page"; fail=1; }

exit $fail
