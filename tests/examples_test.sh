#!/usr/bin/env bash
# Checks the expected outputs of examples/ against values computed another way,
# with bc: the constants digit by digit (all but the last few digits, which are
# those of the calculator's truncating arithmetic), the factorials, powers and
# alkyl radical counts exactly. The whole-program cases compare the program
# with these files byte for byte; this test keeps the files themselves honest.
# Usage: examples_test.sh EXAMPLES_DIR
set -u
dir=$1
fail=0
export BC_LINE_LENGTH=0

# Digits of the K-th register printed by command 2 in FILE, point kept.
nth_write() {
  awk -v k="$2" '/^No: 2 write\(A\);$/ { n++; on = (n == k); next }
                 on && /^$/ { exit }
                 on { gsub(/ /, ""); printf "%s", $0 }' "$1"
}

# Table rows of FILE whose label matches the regex LABEL (with the row's N in
# its first number): prints "N VALUE" per row.
rows() {
  awk -v label="$2" '
    function flush() { if (have) print n, (v == "" ? 0 : v); have = 0 }
    $0 ~ label { flush(); match($0, /[0-9]+/); n = substr($0, RSTART, RLENGTH); v = ""; have = 1; next }
    have && /^[ 0-9]+$/ { x = $0; gsub(/ /, "", x); v = v x; next }
    { flush() }
    END { flush() }' "$1"
}

# Compares the digits GOT with the reference REF over the first KEEP characters.
agree() {
  local name=$1 got=$2 ref=$3 keep=$4
  if [ ${#got} -lt "$keep" ] || [ "${got:0:keep}" != "${ref:0:keep}" ]; then
    echo "FAIL $name: digits differ from bc within the first $keep characters"
    echo "  file: $got"
    echo "  bc:   $ref"
    fail=1
  fi
}

# Constants: D decimals printed; all but the last three must be right.
const() {
  local name=$1 expr=$2 k=$3 int=$4 dec=$5 lost=$6
  local got ref
  got=$(nth_write "$dir/$name.out" "$k")
  ref=$(echo "scale=$((dec + 20)); $expr" | bc -l | tr -d '\\\n')
  agree "$name" "$got" "$ref" $((int + 1 + dec - lost))
}
const pi '4*a(1)' 1 1 100 3
const e 'e(1)' 1 1 100 3
const sqrt2 'sqrt(2)' 1 1 100 3
const ramanujan '4*a(1)*sqrt(163)' 2 2 50 4
# exp multiplies the error of its argument by its value, about 2.6*10^17, so
# about 18 of the 50 decimals of exp(pi*sqrt(163)) are lost.
const ramanujan 'e(4*a(1)*sqrt(163))' 1 18 50 21

# Exact integers: each row's value against bc's.
exact() {
  local name=$1 label=$2 expr=$3 n v want count=0
  while read -r n v; do
    want=$(echo "n=$n; $expr" | bc | tr -d '\\\n')
    count=$((count + 1))
    if [ "$v" != "$want" ]; then
      echo "FAIL $name: row $n is $v, bc gives $want"
      fail=1
    fi
  done < <(rows "$dir/$name.out" "$label")
  if [ $count -lt 3 ]; then
    echo "FAIL $name: only $count rows labelled '$label'"
    fail=1
  fi
}
exact factorial '^N: [0-9]+, FAC\\(N\\): $' 'f=1; for (i=2; i<=n; i++) f*=i; f'
exact power '^N : [0-9]+, a\\|&N: $' '3^n'
exact power '^N: [0-9]+, N\\|&b: $' 'n^50'

# Alkyl radicals by Polya counting: with R(x) = sum R(k) x^k, R(0) = 1, a
# radical of N carbons is a carbon with three branches (radicals or hydrogen,
# unordered) of N - 1 carbons in all, so R(N) = [x^(N-1)] Z(S3; R). PRI, SEC
# and TER count the radicals with one, two and three nonempty branches:
# PRI(N) = R(N-1), SEC(N) = [x^(N-1)] Z(S2; R - 1), TER(N) = [x^(N-1)] Z(S3; R - 1).
isomer_ref() {
  bc <<EOF
define z2(m) {
  auto s, i; s = 0
  for (i = 0; i <= m; i++) s += a[i] * a[m - i]
  if (m % 2 == 0) s += a[m / 2]
  return (s / 2)
}
define z3(m) {
  auto s, i, j; s = 0
  for (i = 0; i <= m; i++) for (j = 0; j <= m - i; j++) s += a[i] * a[j] * a[m - i - j]
  for (i = 0; i <= m; i++) if ((m - i) % 2 == 0) s += 3 * a[i] * a[(m - i) / 2]
  if (m % 3 == 0) s += 2 * a[m / 3]
  return (s / 6)
}
r[0] = 1
for (n = 1; n <= $1; n++) {
  for (k = 0; k < n; k++) a[k] = r[k]
  a[0] = 0
  p = r[n - 1]; s = z2(n - 1); t = z3(n - 1)
  a[0] = 1
  r[n] = z3(n - 1)
  if (r[n] != p + s + t) print "inconsistent ", n, "\n"
  print n, " ", p, " ", s, " ", t, "\n"
}
EOF
}
got=$(awk '/^N: [0-9]+$/ { if (n) print n, p, s, t; n = $2; what = ""; next }
           /^(PRI|SEC|TER)\(N\):$/ { what = substr($0, 1, 3); next }
           what != "" { x = $0; gsub(/ /, "", x); if (x == "") x = 0
                        if (what == "PRI") p = x; else if (what == "SEC") s = x; else t = x; what = "" }
           END { if (n) print n, p, s, t }' "$dir/isomer.out")
n=$(printf '%s\n' "$got" | wc -l)
want=$(isomer_ref "$n")
if [ "$n" -lt 12 ] || [ "$got" != "$want" ]; then
  echo "FAIL isomer: the counts of $n blocks differ from Polya counting"
  diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | head -10
  fail=1
fi

exit $fail
