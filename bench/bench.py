#!/usr/bin/env python3
"""Times fixcalc against its peers on the same tasks and prints markdown
tables of median times and ratios.

Peers: mpmath with its GMP backend (the tool a user would otherwise pick; run
with Debian's python3, which has python3-mpmath and python3-gmpy2), `bc -l`,
and Python's decimal. With --before, a second fixcalc binary (an earlier
build) runs beside the first, so that a change is measured in the same run.

Every program prints all its digits to /dev/null. The runs are interleaved:
each round runs every (task, D) cell once with each program in turn, so that
a change in the machine's load touches all programs alike. A program's cell
is skipped once one of its runs exceeds the time cap, and so are its cells of
the same task at a larger D; the table says so.

A second table sets each task on an operand with repeating cells (1/3, 2/3,
1/11, the roots of 9 or 2.25) beside the same task on an operand without
(sqrt(2), pi/10): the ratio shows whether a pattern costs more than its size.

Usage: bench.py FIXCALC [--before FIXCALC [--before-name NAME]] [--runs N] [--cap SECONDS]
                [--max-digits D] [--tasks REGEX] [--peers mpmath,bc,decimal]
                [--commit C] [--before-commit C] [--units U] [--before-units U]
--units and --before-units set FIXCALC_UNITS for the two builds (plain,
avx2, avx3, ...), so that one build's paths can be timed side by side.
"""
import argparse
import os
import re
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "peers")
MPMATH_PYTHON = "/usr/bin/python3"


def script(D, E, *commands):
    return f"{D}\n{E}\n" + "".join(f"{c}\n" for c in commands) + "22\n-1\n"


def products(*setup, times=20):
    """The registers set up by `setup`, then C := A*B `times` times."""
    return lambda D: script(D, 11, *setup, *([13] * times), 7, 2)


def task(name, code, digits, fixcalc, mpmath=None, bc=None, decimal=None, plain=None):
    """A row of the benchmark. digits: the D it runs at (None: independent of
    D). fixcalc(D): the calculator's input; mpmath: the peer script's task;
    bc(D): a bc program; decimal(D): argv of a Python decimal script. plain:
    for a task on a patterned operand, the name of its counterpart."""
    return dict(name=name, code=code, digits=digits, fixcalc=fixcalc, mpmath=mpmath,
                bc=bc, decimal=decimal, plain=plain)


D3, D4, D5, D6 = 1000, 10_000, 100_000, 1_000_000
TASKS = [
    task("pi", 14, [D3, D4, D5, D6], lambda D: script(D, 11, 14, 2), "pi",
         lambda D: f"scale={D}; 4*a(1)\n", lambda D: ["pi.py", str(D)]),
    task("e", 23, [D3, D4, D5, D6], lambda D: script(D, 11, 23, 2), "e",
         lambda D: f"scale={D}; e(1)\n", lambda D: ["e.py", str(D)]),
    task("sqrt(2)", 16, [D3, D4, D5, D6], lambda D: script(D, 11, 16, 2, 2), "sqrt2",
         lambda D: f"scale={D}; sqrt(2)\n", lambda D: ["sqrt2.py", str(D)]),
    task("exp(pi/10)", 15, [D3, D4, D5], lambda D: script(D, 11, 14, 12, 10, 3, 15, 2),
         "exp_pi_over_10", lambda D: f"scale={D}; e(a(1)*4/10)\n"),
    task("exp(pi*sqrt(163))", 17, [D3, D4, D5], lambda D: script(D, 20, 17, 163, 2),
         "exp_pi_sqrt163", lambda D: f"scale={D}; e(4*a(1)*sqrt(163))\n",
         lambda D: ["exp_pi_sqrt163.py", str(D)]),
    task("factorial table 1..5000, every row", 18, None,
         lambda D: script(0, 21320, 18, 1, 1, 5000), None,
         lambda D: ("f=1; for(n=1;n<=5000;n++){f*=n; print \"N: \", n, \", FAC(N): \\n\", f, \"\\n\"}\n"),
         lambda D: ["factorial.py", "5000"]),
    task("isomer table n = 300, D = 0", 21, None, lambda D: script(0, 400, 21, 300)),
    # Patterned operands beside their plain counterparts (no peers).
    task("20 products sqrt(2) * 1/sqrt(2)", 13, [D4, D5], products(16, 2)),
    task("20 products 2/3 * 1/3", 13, [D4, D5], products(1, 1, 12, 3, 3, 1, 2, 12, 3),
         plain="20 products sqrt(2) * 1/sqrt(2)"),
    task("20 products 1/11 * 2/3", 13, [D4, D5], products(1, 2, 12, 3, 3, 1, 1, 12, 11),
         plain="20 products sqrt(2) * 1/sqrt(2)"),
    task("sqrt(9)", 16, [D4, D5], lambda D: script(D, 11, 16, 9, 2), plain="sqrt(2)"),
    task("sqrt(144)", 16, [D4], lambda D: script(D, 11, 16, 144, 2), plain="sqrt(2)"),
    task("sqrt(2.25)", 16, [D4], lambda D: script(D, 11, 16, 2.25, 2), plain="sqrt(2)"),
    task("exp(1/3)", 15, [D4, D5], lambda D: script(D, 11, 1, 1, 12, 3, 3, 15, 2), plain="exp(pi/10)"),
    task("exp(1/7)", 15, [D4], lambda D: script(D, 11, 1, 1, 12, 7, 3, 15, 2), plain="exp(pi/10)"),
]


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run(argv, stdin_text, cap, env=None):
    """(wall-clock seconds, CPU seconds) of one run, or None when it exceeded `cap`."""
    cpu = child_cpu()
    start = time.perf_counter()
    try:
        proc = subprocess.run(argv, input=stdin_text.encode(), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=cap, env=env, cwd=PEERS)
    except subprocess.TimeoutExpired:
        return None
    elapsed = time.perf_counter() - start
    if proc.returncode not in (0, 255) or proc.stderr:
        sys.exit(f"{argv[0]} failed with status {proc.returncode}: {proc.stderr.decode()[:300]}")
    return elapsed, child_cpu() - cpu


def machine():
    model, flags = "unknown", set()
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name") and model == "unknown":
                model = line.split(":", 1)[1].strip()
            elif line.startswith("flags"):
                flags = set(line.split(":", 1)[1].split())
    features = [f for f in ("avx2", "bmi2", "adx", "avx512f", "avx512ifma") if f in flags]
    return model, os.cpu_count(), features


def fmt(seconds):
    if seconds >= 10:
        return f"{seconds:.1f} s"
    if seconds >= 0.1:
        return f"{seconds:.2f} s"
    return f"{seconds * 1000:.1f} ms"


def version(argv):
    try:
        out = subprocess.run(argv, capture_output=True, text=True, timeout=30).stdout
        return out.strip().split("\n")[0]
    except (OSError, subprocess.TimeoutExpired):
        return "?"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("fixcalc")
    ap.add_argument("--before", help="an earlier fixcalc binary, timed beside the first")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cap", type=float, default=60.0)
    ap.add_argument("--max-digits", type=int, default=D6)
    ap.add_argument("--tasks", default="", help="only the tasks whose name matches this regex")
    ap.add_argument("--peers", default="mpmath,bc,decimal")
    ap.add_argument("--commit", default="", help="the source's commit, for the table's header")
    ap.add_argument("--before-commit", default="")
    ap.add_argument("--before-name", default="before",
                    help="the second build's name in the tables (e.g. a build option)")
    ap.add_argument("--units", default="",
                    help="FIXCALC_UNITS for fixcalc (e.g. plain), else the processor's best")
    ap.add_argument("--before-units", default="", help="FIXCALC_UNITS for the --before build")
    args = ap.parse_args()
    peers = [p for p in args.peers.split(",") if p]
    if "mpmath" in peers and subprocess.run([MPMATH_PYTHON, "-c", "import mpmath, gmpy2"],
                                            capture_output=True).returncode != 0:
        print(f"{MPMATH_PYTHON} has no mpmath with gmpy2 (Debian: python3-mpmath python3-gmpy2): "
              "left out", file=sys.stderr)
        peers.remove("mpmath")
    bc_env = dict(os.environ, BC_LINE_LENGTH="0")
    units_env = {p: dict(os.environ, FIXCALC_UNITS=u)
                 for p, u in (("fixcalc", args.units), ("before", args.before_units)) if u}
    programs = ["fixcalc"] + (["before"] if args.before else []) + peers
    binaries = {"fixcalc": os.path.abspath(args.fixcalc)}
    if args.before:
        binaries["before"] = os.path.abspath(args.before)

    chosen = [t for t in TASKS if re.search(args.tasks, t["name"])]
    cells = [(t, D) for t in chosen
             for D in ([d for d in t["digits"] if d <= args.max_digits] if t["digits"] else [None])]

    def argv_of(t, D, p):
        if p in binaries:
            return [binaries[p]], t["fixcalc"](D)
        if p == "mpmath" and t["mpmath"]:
            return [MPMATH_PYTHON, "mpmath_peer.py", t["mpmath"], str(D)], ""
        if p == "bc" and t["bc"]:
            return ["bc", "-l"], t["bc"](D)
        if p == "decimal" and t["decimal"]:
            return [sys.executable] + t["decimal"](D), ""
        return None, None

    times = {}
    over = {}  # (task name, program) -> smallest D whose run exceeded the cap
    load_before = os.getloadavg()
    started = time.time()
    for r in range(args.runs):
        for t, D in cells:
            for p in programs:
                argv, stdin_text = argv_of(t, D, p)
                if argv is None:
                    continue
                key = (t["name"], p)
                if key in over and (D is None or over[key] <= D):
                    continue
                res = run(argv, stdin_text, args.cap, bc_env if p == "bc" else units_env.get(p))
                if res is None:
                    over[key] = D if D is not None else 0
                    continue
                times.setdefault((t["name"], D, p), []).append(res)
                print(f"round {r + 1}: {t['name']} D={D} {p} {fmt(res[0])} (CPU {fmt(res[1])})",
                      file=sys.stderr, flush=True)
    load_after = os.getloadavg()

    def median(name, D, p, i=0):
        ts = times.get((name, D, p))
        return statistics.median(x[i] for x in ts) if ts else None

    def cell(name, D, p):
        med = median(name, D, p)
        if med is not None:
            return fmt(med)
        key = (name, p)
        if key in over:
            return (f"> {args.cap:g} s (cap)" if D is None or over[key] == D
                    else f"skipped (> {args.cap:g} s at D = {over[key]:,})")
        return "—"

    def ratio(a, b):
        return f"{a / b:,.2f}" if a is not None and b is not None else "—"

    model, ncpu, features = machine()
    out = [f"Machine: {model}, {ncpu} cores (nproc), features: {' '.join(features) or 'none of avx2, avx512'}. "
           f"Date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime(started))}."
           + (f" fixcalc at commit {args.commit}." if args.commit else "")
           + (f" FIXCALC_UNITS={args.units} for fixcalc." if args.units else "")
           + (f" FIXCALC_UNITS={args.before_units} for {args.before_name}." if args.before_units else "")
           + (f" {args.before_name.capitalize()}: {args.before_commit or args.before}." if args.before else ""),
           f"Load average (1, 5, 15 min) before: {' '.join(f'{x:.2f}' for x in load_before)}; "
           f"after: {' '.join(f'{x:.2f}' for x in load_after)}.",
           f"Medians of {args.runs} interleaved runs, wall-clock (the ratios compare these), and "
           f"fixcalc's CPU time (user + system); all digits printed to /dev/null; time cap per "
           f"run {args.cap:g} s."]
    if "mpmath" in peers:
        out[-1] += " mpmath " + version([MPMATH_PYTHON, "-c",
                                         "import mpmath, gmpy2; print(mpmath.__version__, "
                                         "'backend', mpmath.libmp.BACKEND, 'gmpy2', gmpy2.version())"]) + "."
    if "bc" in peers:
        out[-1] += " bc " + version(["bc", "--version"]).split()[-1] + "."
    if "decimal" in peers:
        out[-1] += f" Python {sys.version.split()[0]} decimal (libmpdec)."
    out.append("")

    head = ["task (command)", "D", "fixcalc", "fixcalc CPU"]
    if args.before:
        head += [args.before_name, f"{args.before_name} / fixcalc"]
    for p, label in (("mpmath", "fixcalc / mpmath"), ("bc", "bc / fixcalc"),
                     ("decimal", "decimal / fixcalc")):
        if p in peers:
            head += [{"mpmath": "mpmath", "bc": "bc -l", "decimal": "Python decimal"}[p], label]
    out.append("| " + " | ".join(head) + " |")
    out.append("|" + "---|" * len(head))
    for t, D in cells:
        if t["plain"]:
            continue
        name = t["name"]
        fx = median(name, D, "fixcalc")
        row = [f"{name} ({t['code']})", f"{D:,}" if D is not None else "—", cell(name, D, "fixcalc"),
               fmt(median(name, D, "fixcalc", 1)) if fx is not None else "—"]
        if args.before:
            row += [cell(name, D, "before"), ratio(median(name, D, "before"), fx)]
        for p in ("mpmath", "bc", "decimal"):
            if p in peers:
                pm = median(name, D, p)
                row += [cell(name, D, p), ratio(fx, pm) if p == "mpmath" else ratio(pm, fx)]
        out.append("| " + " | ".join(row) + " |")

    patterned = [(t, D) for t, D in cells if t["plain"]]
    if patterned:
        out += ["", "Operands with repeating cells beside a plain counterpart of the same size "
                "(pattern / plain: 1 means no cliff):", ""]
        head = ["task (command)", "D", "fixcalc", "plain counterpart", "fixcalc", "pattern / plain"]
        if args.before:
            head += [args.before_name, f"{args.before_name}: plain", f"{args.before_name}: pattern / plain"]
        out.append("| " + " | ".join(head) + " |")
        out.append("|" + "---|" * len(head))
        for t, D in patterned:
            name, plain = t["name"], t["plain"]
            row = [f"{name} ({t['code']})", f"{D:,}", cell(name, D, "fixcalc"), plain,
                   cell(plain, D, "fixcalc"),
                   ratio(median(name, D, "fixcalc"), median(plain, D, "fixcalc"))]
            if args.before:
                row += [cell(name, D, "before"), cell(plain, D, "before"),
                        ratio(median(name, D, "before"), median(plain, D, "before"))]
            out.append("| " + " | ".join(row) + " |")
    print("\n".join(out))


if __name__ == "__main__":
    main()
