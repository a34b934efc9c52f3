#!/usr/bin/env python3
"""Checks the factorial, power and isomer tables of fixcalc against values
computed here by other means: Python's integers for N! and powers, and Polya
counting with the cycle indices of S2 and S3 for the alkyl radicals.

usage: check_tables.py PROGRAM
"""
import re
import subprocess
import sys


def run(program, script):
    p = subprocess.run([program], input=script.encode(), capture_output=True, check=False)
    if p.returncode != 0 or p.stderr:
        sys.exit(f"FAIL: status {p.returncode}, stderr {p.stderr!r} for script {script!r}")
    return p.stdout.decode()


def numbers_after(out, label_re):
    """(label, value) for each row: the label line, then the printed number,
    which may run over several lines, until the next blank line or label."""
    rows = []
    for m in re.finditer(label_re + r"((?:\n[ 0-9.]+)+)", out):
        digits = m.group(2).replace(" ", "").replace("\n", "")
        rows.append((int(m.group(1)), int(digits) if digits else 0))
    return rows


def check(name, got, want):
    if got != want:
        for g, w in zip(got, want):
            if g != w:
                sys.exit(f"FAIL {name}: first difference at {w[0]}: got {g[1]}, want {w[1]}")
        sys.exit(f"FAIL {name}: {len(got)} rows, want {len(want)}")
    print(f"ok {name}: {len(want)} rows", flush=True)


def factorials(program):
    out = run(program, "0\n2000\n18\n1\n7\n400\n22\n-1\n")
    want, f = [], 1
    for n in range(1, 401):
        f *= n
        if (n - 1) % 7 == 0:
            want.append((n, f))
    check("factorials 1..400 step 7", numbers_after(out, r"\nN: (-?\d+), FAC\(N\): "), want)


def powers(program):
    out = run(program, "0\n5000\n19\n3\n5\n300\n9999999967\n22\n-1\n")
    a = 9999999967
    want = [(n, a**n) for n in range(3, 301, 5)]
    check("a^N for a = 9999999967", numbers_after(out, r"\nN : (-?\d+), a\|&N: "), want)
    out = run(program, "0\n2000\n20\n2\n37\n1000\n97\n22\n-1\n")
    want = [(n, n**97) for n in range(2, 1001, 37)]
    check("N^97", numbers_after(out, r"\nN: (-?\d+), N\|&b: "), want)


def radicals(nmax):
    """PRI, SEC, TER counts of alkyl radicals with 1..nmax carbons.

    r[k] counts radicals of k carbons (r[0] = 1 for the hydrogen). A carbon
    carrying the free bond and two, three branches contributes x times the
    cycle index of S2, S3 evaluated on the branch series r(x) - 1."""
    r = [1] + [0] * nmax
    pri, sec, ter = [0] * (nmax + 1), [0] * (nmax + 1), [0] * (nmax + 1)

    for n in range(1, nmax + 1):
        m = n - 1  # carbons in the branches
        b = lambda k: r[k] if 1 <= k else 0  # branch series without constant term
        pri[n] = r[m]  # one branch, which may be the hydrogen r[0]
        sq = sum(b(i) * b(m - i) for i in range(1, m))
        sec[n] = (sq + (b(m // 2) if m % 2 == 0 else 0)) // 2
        cube = sum(b(i) * b(j) * b(m - i - j) for i in range(1, m) for j in range(1, m - i))
        mixed = sum(b(i) * b(j) for i in range(1, m) for j in range(1, m) if i + 2 * j == m)
        third = b(m // 3) if m % 3 == 0 else 0
        ter[n] = (cube + 3 * mixed + 2 * third) // 6
        r[n] = pri[n] + sec[n] + ter[n]
    return pri, sec, ter


def isomers(program):
    nmax = 60
    out = run(program, f"0\n80\n21\n{nmax}\n22\n-1\n")
    pri, sec, ter = radicals(nmax)
    # The published start of the series of alkyl radical counts.
    published = [1, 1, 2, 4, 8, 17, 39, 89, 211, 507, 1238, 3057, 7639, 19241]
    total = [p + s + t for p, s, t in zip(pri, sec, ter)]
    if total[1:1 + len(published)] != published:
        sys.exit(f"FAIL: Polya counts {total[1:15]} differ from the published series")
    blocks = re.findall(r"\nN: (\d+)\nPRI\(N\):((?:\n[ 0-9]+)+)\nSEC\(N\):((?:\n[ 0-9]+)+)"
                        r"\nTER\(N\):((?:\n[ 0-9]+)+)\n", out)
    def value(s):
        d = s.replace(" ", "").replace("\n", "")
        return int(d) if d else 0
    got = [(int(n), (value(p), value(s), value(t))) for n, p, s, t in blocks]
    want = [(n, (pri[n], sec[n], ter[n])) for n in range(1, nmax + 1)]
    check("isomer counts N = 1..60", got, want)


def main():
    program = sys.argv[1]
    factorials(program)
    powers(program)
    isomers(program)


if __name__ == "__main__":
    main()
