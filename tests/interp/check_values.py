#!/usr/bin/env python3
"""Checks the factorial, power and isomer tables of fixcalc and the expected
outputs in examples/ against values computed another way: Python integers,
Polya counting for the alkyl radicals, reference digits for the constants.
usage: check_values.py PROGRAM EXAMPLES_DIR CONSTANTS"""
import math
import re
import subprocess
import sys
from decimal import Decimal, getcontext
from pathlib import Path

VALUE = r"((?:\n[ 0-9.]+)+)"  # a printed number, over one or more lines
failures = []


def digits(printed):
    return printed.replace(" ", "").replace("\n", "")


def number(printed):
    return int("0" + digits(printed))  # a zero count prints as blanks


def run(program, script):
    p = subprocess.run([program], input=script.encode(), capture_output=True, check=False)
    if p.returncode != 0 or p.stderr:
        sys.exit(f"FAIL: status {p.returncode}, stderr {p.stderr!r} for script {script!r}")
    return p.stdout.decode()


def radicals(nmax):
    """(PRI, SEC, TER) for the alkyl radicals of 0 to NMAX carbons. A radical
    of n carbons is a carbon with the free bond and one, two or three nonempty
    branches of n - 1 carbons in all, unordered: r[k] counts the radicals of k
    carbons (r[0] = 1 for hydrogen), and two and three branches are counted by
    the cycle indices of S2 and S3 on the branch series r(x) - 1."""
    r, counts = [1], [(0, 0, 0)]
    for n in range(1, nmax + 1):
        m = n - 1
        b = lambda k: r[k] if 1 <= k <= m else 0
        sec = (sum(b(i) * b(m - i) for i in range(1, m)) + (b(m // 2) if m % 2 == 0 else 0)) // 2
        ter = (sum(b(i) * b(j) * b(m - i - j) for i in range(1, m) for j in range(1, m - i))
               + 3 * sum(b(i) * b((m - i) // 2) for i in range(1, m) if (m - i) % 2 == 0)
               + 2 * (b(m // 3) if m % 3 == 0 else 0)) // 6
        counts.append((r[m], sec, ter))
        r.append(sum(counts[n]))
    return counts


def table_rows(out):
    """(table, N, printed value, value computed here) for each row of the
    factorial, power and isomer tables in OUT."""
    a, b = (re.search(rf"\n{x}: (\d+)\n", out) for x in "ab")
    tables = [("N!", r"N: (\d+), FAC\(N\): ", math.factorial),
              ("a^N", r"N : (\d+), a\|&N: ", lambda n: int(a[1]) ** n),
              ("N^b", r"N: (\d+), N\|&b: ", lambda n: n ** int(b[1]))]
    rows = [(table, int(m[1]), number(m[2]), f(int(m[1])))
            for table, label, f in tables for m in re.finditer(r"\n" + label + VALUE, out)]
    blocks = re.findall(rf"\nN: (\d+)\nPRI\(N\):{VALUE}\nSEC\(N\):{VALUE}\nTER\(N\):{VALUE}\n", out)
    counts = radicals(max((int(blk[0]) for blk in blocks), default=0))
    return rows + [("isomers", int(n), tuple(map(number, v)), counts[int(n)]) for n, *v in blocks]


def check_tables(name, out, want):
    """The rows of OUT: for each table of WANT the N it lists, and each value."""
    rows = table_rows(out)
    failures.extend(f"{name}: {table} rows for N = {got}, want {list(ns)}" for table, ns in want.items()
                    if (got := [n for t, n, _, _ in rows if t == table]) != list(ns))
    wrong = [f"{t} at N = {n}: printed {p}, want {v}" for t, n, p, v in rows if p != v]
    if wrong:
        failures.append(f"{name}: {len(wrong)} wrong values, the first {wrong[0]}")


def check_digits(name, text, k, want, lost):
    """The K-th number written by command 2 in TEXT has the D decimals of the
    precision pair, and all but the last LOST digits are those of WANT."""
    printed = digits(re.findall(r"\nNo: 2 write\(A\);" + VALUE, text)[k])
    keep = len(printed) - lost
    decimals = int(re.search(r"\nD: (\d+)\n", text)[1])
    if len(printed.partition(".")[2]) != decimals or printed[:keep] != want[:keep]:
        failures.append(f"{name}: {decimals} decimals with the first {keep} characters of\n  {want[:keep + lost]}\n"
                        f"  expected, printed\n  {printed}")


def main():
    program, examples, constants = sys.argv[1:]
    check_tables("N! for N = 1..400 step 7", run(program, "0\n2000\n18\n1\n7\n400\n22\n-1\n"),
                 {"N!": range(1, 401, 7)})
    check_tables("a^N for a = 9999999967", run(program, "0\n5000\n19\n3\n5\n300\n9999999967\n22\n-1\n"),
                 {"a^N": range(3, 301, 5)})
    check_tables("N^97", run(program, "0\n2000\n20\n2\n37\n1000\n97\n22\n-1\n"), {"N^b": range(2, 1001, 37)})
    counts = radicals(14)
    if [sum(c) for c in counts[1:]] != [1, 1, 2, 4, 8, 17, 39, 89, 211, 507, 1238, 3057, 7639, 19241]:
        failures.append("Polya counting differs from the published start of the alkyl radical counts")
    check_tables("isomers N = 1..60", run(program, "0\n80\n21\n60\n22\n-1\n"), {"isomers": range(1, 61)})

    example = {name: Path(examples, name + ".out").read_text()
               for name in ("factorial", "power", "isomer", "pi", "e", "sqrt2", "ramanujan")}
    check_tables("examples/factorial.out", example["factorial"], {"N!": range(10, 101, 10)})
    check_tables("examples/power.out", example["power"], {"a^N": range(10, 101, 10), "N^b": range(2, 11, 2)})
    check_tables("examples/isomer.out", example["isomer"], {"isomers": range(1, 31)})

    ref = dict(line.split() for line in Path(constants).read_text().splitlines() if not line.startswith("#"))
    getcontext().prec = 1000
    ref["pi_sqrt163"] = str(Decimal(ref["pi"]) * Decimal(ref["sqrt163"]))
    # All but the last digits, those of truncating arithmetic; exp multiplies
    # the error of its argument by its value, about 2.6*10^17.
    for name, k, const, lost in [("pi", 0, "pi", 3), ("e", 0, "e", 3), ("sqrt2", 0, "sqrt2", 3),
                                 ("ramanujan", 0, "exp_pi_sqrt163", 21), ("ramanujan", 1, "pi_sqrt163", 4)]:
        check_digits(f"examples/{name}.out write {k + 1}", example[name], k, ref[const], lost)
    # The constants at 1000 decimals, computed by the program.
    for const, script, lost in [("pi", "11\n14\n", 5), ("e", "11\n23\n", 5), ("sqrt2", "11\n16\n2\n", 5),
                                ("sqrt163", "20\n16\n163\n", 5), ("exp_pi_sqrt163", "20\n17\n163\n", 25)]:
        check_digits(f"{const} at 1000 decimals", run(program, f"1000\n{script}2\n22\n-1\n"), 0, ref[const], lost)
    print("".join(f"FAIL {failure}\n" for failure in failures), end="")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
