#!/usr/bin/env python3
"""Times fixcalc against `bc -l` and Python's decimal on the same tasks and
prints a markdown table of median times and ratios.

Every program prints all its digits to /dev/null. The runs are interleaved:
each round runs every (task, D) cell once with each program in turn, so that
a change in the machine's load touches all programs alike. A peer's cell is
skipped once one of its runs exceeds the time cap, and so are that peer's
cells of the same task at a larger D; the table says so.

Usage: bench.py FIXCALC [--runs N] [--cap SECONDS] [--digits D,D,...] [--commit C]
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "peers")


def fixcalc_script(D, E, *commands):
    return f"{D}\n{E}\n" + "".join(f"{c}\n" for c in commands) + "22\n-1\n"


# name, command code, digit counts it runs at (None: independent of D),
# fixcalc input, bc program, Python decimal script and its argument.
TASKS = [
    ("pi", 14, True,
     lambda D: fixcalc_script(D, 11, 14, 2),
     lambda D: f"scale={D}; 4*a(1)\n",
     lambda D: ["pi.py", str(D)]),
    ("e", 23, True,
     lambda D: fixcalc_script(D, 11, 23, 2),
     lambda D: f"scale={D}; e(1)\n",
     lambda D: ["e.py", str(D)]),
    ("sqrt(2)", 16, True,
     lambda D: fixcalc_script(D, 11, 16, 2, 2),
     lambda D: f"scale={D}; sqrt(2)\n",
     lambda D: ["sqrt2.py", str(D)]),
    ("exp(pi*sqrt(163))", 17, True,
     lambda D: fixcalc_script(D, 20, 17, 163, 2),
     lambda D: f"scale={D}; e(4*a(1)*sqrt(163))\n",
     lambda D: ["exp_pi_sqrt163.py", str(D)]),
    ("factorial table 1..5000, every row", 18, False,
     lambda D: fixcalc_script(0, 21320, 18, 1, 1, 5000),
     lambda D: ("f=1; for(n=1;n<=5000;n++){f*=n; print \"N: \", n, \", FAC(N): \\n\", f, \"\\n\"}\n"),
     lambda D: ["factorial.py", "5000"]),
    ("isomer table n = 300, D = 0", 21, False,
     lambda D: fixcalc_script(0, 400, 21, 300),
     None,
     None),
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
    if proc.returncode != 0:
        sys.exit(f"{argv[0]} failed with status {proc.returncode}: {proc.stderr.decode()[:300]}")
    return elapsed, child_cpu() - cpu


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return model, os.cpu_count()


def fmt(seconds):
    if seconds >= 10:
        return f"{seconds:.1f} s"
    if seconds >= 0.1:
        return f"{seconds:.2f} s"
    return f"{seconds * 1000:.1f} ms"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("fixcalc")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cap", type=float, default=60.0)
    ap.add_argument("--digits", default="1000,10000,100000")
    ap.add_argument("--commit", default="", help="the source's commit, for the table's header")
    args = ap.parse_args()
    digits = [int(d) for d in args.digits.split(",")]
    fixcalc = os.path.abspath(args.fixcalc)
    bc_env = dict(os.environ, BC_LINE_LENGTH="0")

    cells = []  # (task, D)
    for task in TASKS:
        for D in (digits if task[2] else [None]):
            cells.append((task, D))
    programs = ["fixcalc", "bc", "python"]
    times = {(id(t), D, p): [] for t, D in cells for p in programs}
    over = {}  # (task id, program) -> smallest D whose run exceeded the cap

    load_before = os.getloadavg()
    started = time.time()
    for r in range(args.runs):
        for task, D in cells:
            name, _, _, fx, bc, py = task
            for p in programs:
                if p == "bc" and bc is None or p == "python" and py is None:
                    continue
                key = (id(task), p)
                if p != "fixcalc" and key in over and (D is None or over[key] <= D):
                    continue
                if p == "fixcalc":
                    t = run([fixcalc], fx(D), None)
                elif p == "bc":
                    t = run(["bc", "-l"], bc(D), args.cap, bc_env)
                else:
                    t = run([sys.executable] + py(D), "", args.cap)
                if t is None:
                    over[key] = D if D is not None else 0
                    continue
                times[(id(task), D, p)].append(t)
                print(f"round {r + 1}: {name} D={D} {p} {fmt(t[0])} (CPU {fmt(t[1])})",
                      file=sys.stderr, flush=True)
    load_after = os.getloadavg()

    model, ncpu = machine()
    out = []
    out.append(f"Machine: {model}, {ncpu} cores (nproc). Date: "
               f"{time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime(started))}."
               + (f" fixcalc at commit {args.commit}." if args.commit else ""))
    out.append(f"Load average (1, 5, 15 min) before: {load_before[0]:.2f} {load_before[1]:.2f} "
               f"{load_before[2]:.2f}; after: {load_after[0]:.2f} {load_after[1]:.2f} "
               f"{load_after[2]:.2f}.")
    out.append(f"Medians of {args.runs} interleaved runs, wall-clock (the ratios compare these), "
               f"and fixcalc's CPU time (user + system); all digits printed to /dev/null; time "
               f"cap per peer run {args.cap:g} s. bc {bc_version()}, Python "
               f"{sys.version.split()[0]} decimal (libmpdec).")
    out.append("")
    out.append("| task (command) | D | fixcalc | fixcalc CPU | bc -l | bc / fixcalc "
               "| Python decimal | decimal / fixcalc |")
    out.append("|---|---|---|---|---|---|---|---|")
    for task, D in cells:
        name, code, _, _, bc, py = task
        fx = times[(id(task), D, "fixcalc")]
        fmed = statistics.median(t[0] for t in fx)
        row = [f"{name} ({code})", f"{D:,}" if D is not None else "—", fmt(fmed),
               fmt(statistics.median(t[1] for t in fx))]
        for p, present in (("bc", bc), ("python", py)):
            if present is None:
                row += ["—", "—"]
                continue
            ts = times[(id(task), D, p)]
            key = (id(task), p)
            if ts and (key not in over or (D is not None and over[key] > D)):
                med = statistics.median(t[0] for t in ts)
                row += [fmt(med), f"{med / fmed:,.1f}×"]
            elif key in over and (D is None or over[key] == D):
                row += [f"> {args.cap:g} s (cap)", "—"]
            else:
                row += [f"skipped (> {args.cap:g} s at D = {over[key]:,})", "—"]
        out.append("| " + " | ".join(row) + " |")
    print("\n".join(out))


def bc_version():
    try:
        v = subprocess.run(["bc", "--version"], capture_output=True, text=True).stdout
        return v.split("\n")[0].split()[-1]
    except OSError:
        return "?"


if __name__ == "__main__":
    main()
