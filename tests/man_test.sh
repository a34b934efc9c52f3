#!/usr/bin/env bash
# The manual page: it renders without warnings, has the usual sections, and
# its COMMANDS section lists exactly the commands the program has, each with
# the line the program prints for it. The program's lines are taken from the
# program itself: each code 1 to 23 is run with end of input right after it.
# Usage: man_test.sh PROGRAM MANPAGE
set -u
prog=$1
page=$2
fail=0

if ! command -v groff >/dev/null; then
  echo "FAIL groff is not installed (scripts/setup.sh installs groff-base)"
  exit 1
fi

warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "FAIL groff warns about $page:"
  echo "$warnings"
  fail=1
fi

text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION COMMANDS NUMBERS OUTPUT 'EXIT STATUS' EXAMPLES; do
  grep -qx "$section" <<<"$text" || { echo "FAIL no section $section"; fail=1; }
done

# The tags of the COMMANDS section as rendered: "No: CODE TEXT" lines.
documented=$(awk '/^COMMANDS$/ { on = 1; next }
                  /^[A-Z]/ { on = 0 }
                  on && /^ +No: / { sub(/^ +/, ""); print }' <<<"$text")

# What the program prints for each code: the "No: CODE" line up to its end.
actual=$(for code in $(seq 1 23); do
  printf '0\n1\n%d\n' "$code" | "$prog" | grep -m1 "^No: $code"
done)

if [ "$(wc -l <<<"$actual")" != 23 ]; then
  echo "FAIL the program did not echo all 23 commands:"
  echo "$actual"
  fail=1
fi
if [ "$documented" != "$actual" ]; then
  echo "FAIL the manual's COMMANDS differ from the program's echoes (- manual, + program):"
  diff <(echo "$documented") <(echo "$actual")
  fail=1
fi

# Codes outside 1 to 23 echo nothing but their number, as the manual says.
for code in 0 24; do
  got=$(printf '0\n1\n%d\n' "$code" | "$prog" | grep "^No: ")
  [ "$got" = "No: $code" ] || { echo "FAIL code $code echoes '$got'"; fail=1; }
done

exit $fail
