#!/usr/bin/env python3
"""How the cost grows with the decimals: times fixcalc and mpmath (with its
GMP backend) on pi, e and sqrt(2) from 10^3 to 10^7 decimals (sqrt(2) to
10^8) and on exp(pi/10) and exp(pi*sqrt(163)) to 10^5, wall-clock time and
peak memory (the child's maximum resident set), and draws both against the
decimals on log-log axes (growth_chart.py).

Every program prints all its digits to /dev/null. The runs are interleaved
as in bench.py: each round runs every (task, D) cell once with each program
in turn, and the table gives the medians of the rounds. A run over the time
cap is stopped and reported as such; that program then skips the task's
cell and every larger D of it. A run that fails (fixcalc's status 255,
`Error in: ALLOC` for one) is reported and skipped the same way.

The results go to a data file (JSON, bench/growth.json), from which the
markdown table (bench/GROWTH.md) and the chart (bench/growth.svg) are made;
`--redraw` makes both again from the data file without running anything.
`--merge` adds a run of some tasks (`--tasks`) to the data file, replacing
those tasks' results, so that a long benchmark can run in pieces; the pieces
must share the commit, the machine, the cap and the number of runs.

Usage: growth.py FIXCALC [--runs N] [--cap SECONDS] [--tasks REGEX]
                 [--max-digits D] [--commit C] [--merge] [--data FILE]
       growth.py --redraw [--data FILE]
"""
import argparse
import json
import os
import re
import shlex
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from bench import MPMATH_PYTHON, PEERS, TASKS, fmt, machine, version

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "growth.json")
TABLE = os.path.join(HERE, "GROWTH.md")
CHART = os.path.join(HERE, "growth.svg")
CHART_SCRIPT = os.path.join(HERE, "growth_chart.py")
# Debian's python3, where python3-matplotlib is installed.
DEBIAN_PYTHON = "/usr/bin/python3"
TIME = "/usr/bin/time"  # Debian's package time

# The decimals each task runs at.
GROWTH = {
    "pi": [10**k for k in range(3, 8)],
    "e": [10**k for k in range(3, 8)],
    "sqrt(2)": [10**k for k in range(3, 9)],
    "exp(pi/10)": [10**k for k in range(3, 6)],
    "exp(pi*sqrt(163))": [10**k for k in range(3, 6)],
}
PROGRAMS = ["fixcalc", "mpmath"]


def run(argv, stdin_text, cap):
    """One run: a dict with its status ("ok", "cap" or "error"), wall-clock
    and CPU seconds and peak memory (KiB). A run over `cap` seconds is killed;
    its peak memory is then what it held when stopped.

    The program runs under /usr/bin/time, whose %M is its peak: a program
    started from this process directly would count this process's own
    resident set (the kernel carries the high-water mark over the exec)."""
    with tempfile.TemporaryFile() as inp, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile("r") as peak:
        inp.write(stdin_text.encode())
        inp.seek(0)
        killed = threading.Event()
        start = time.perf_counter()
        proc = subprocess.Popen([TIME, "-f", "%M", "-o", peak.name] + argv, stdin=inp,
                                stdout=subprocess.DEVNULL, stderr=err, cwd=PEERS,
                                start_new_session=True)

        def stop():
            # The program, so that time reports what it held; all of them
            # if that does not end it.
            killed.set()
            try:
                with open(f"/proc/{proc.pid}/task/{proc.pid}/children") as f:
                    for pid in f.read().split():
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass
            if not finished.wait(10):
                os.killpg(proc.pid, signal.SIGKILL)

        finished = threading.Event()
        timer = threading.Timer(cap, stop)
        timer.start()
        _, wait_status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        finished.set()
        timer.cancel()
        proc.returncode = code = os.waitstatus_to_exitcode(wait_status)
        err.seek(0)
        message = err.read(300).decode(errors="replace").strip()
        lines = peak.read().split()
        kib = int(lines[-1]) if lines and lines[-1].isdigit() else 0
    result = dict(wall=wall, cpu=usage.ru_utime + usage.ru_stime, maxrss_kib=kib, exit=code,
                  status="ok")
    if killed.is_set():
        result["status"] = "cap"
    elif code != 0 or message:
        result["status"] = "error"
        result["message"] = message or f"exit status {code}"
    return result


def measure(fixcalc, tasks, runs, cap, log=sys.stderr):
    """The results of `runs` interleaved rounds over the tasks' cells: a list
    of dicts (task, code, D, program, runs: the run dicts in round order)."""
    by_name = {t["name"]: t for t in TASKS}
    cells = [(by_name[name], D) for name in tasks for D in GROWTH[name]]

    def argv_of(t, D, p):
        if p == "fixcalc":
            return [fixcalc], t["fixcalc"](D)
        return [MPMATH_PYTHON, "mpmath_peer.py", t["mpmath"], str(D)], ""

    results = {(t["name"], D, p): dict(task=t["name"], code=t["code"], D=D, program=p, runs=[])
               for t, D in cells for p in PROGRAMS}
    stopped = {}  # (task, program) -> smallest D of a run over the cap or failed
    for r in range(runs):
        for t, D in cells:
            for p in PROGRAMS:
                key = (t["name"], p)
                if key in stopped and stopped[key] <= D:
                    continue
                argv, stdin_text = argv_of(t, D, p)
                res = run(argv, stdin_text, cap)
                results[(t["name"], D, p)]["runs"].append(res)
                if res["status"] != "ok":
                    stopped[key] = D
                note = {"ok": "", "cap": f" over the cap of {cap:g} s",
                        "error": f" failed: {res.get('message', '')}"}[res["status"]]
                print(f"round {r + 1}: {t['name']} D={D:,} {p} {fmt(res['wall'])} "
                      f"(CPU {fmt(res['cpu'])}, peak {res['maxrss_kib'] / 1024:,.1f} MiB){note}",
                      file=log, flush=True)
    return list(results.values())


# --- Reading the results --------------------------------------------------


def summary(result):
    """The cell of one (task, D, program): ("ok", median wall s, median CPU s,
    median peak KiB), ("cap" or "error", None, None, peak KiB of the stopped
    run), or ("skipped", ...) when no run was made (a smaller D stopped)."""
    runs = result["runs"]
    bad = [r for r in runs if r["status"] != "ok"]
    if bad:
        return bad[0]["status"], None, None, bad[0]["maxrss_kib"]
    if not runs:
        return "skipped", None, None, None
    return ("ok", statistics.median(r["wall"] for r in runs),
            statistics.median(r["cpu"] for r in runs),
            statistics.median(r["maxrss_kib"] for r in runs))


def mib(kib):
    return f"{kib / 1024:,.1f} MiB" if kib >= 10 * 1024 else f"{kib / 1024:,.2f} MiB"


def decimals(D):
    return f"10^{len(str(D)) - 1}" if str(D).strip("0") == "1" else f"{D:,}"


def table(data):
    """The markdown table of the data file, with its header lines."""
    cap = data["cap"]
    cells = {}
    for res in data["results"]:
        cells[(res["task"], res["D"], res["program"])] = res
    rows = []
    order = []
    for res in data["results"]:
        if (res["task"], res["D"]) not in order:
            order.append((res["task"], res["D"]))

    def first_stop(task, program, D):
        ds = [d for (t, d, p), r in cells.items()
              if t == task and p == program and d < D and summary(r)[0] in ("cap", "error")]
        return min(ds) if ds else None

    def time_cell(task, D, program):
        res = cells.get((task, D, program))
        if res is None:
            return "—", None
        status, wall, _, _ = summary(res)
        if status == "ok":
            return fmt(wall), wall
        if status == "cap":
            return f"> {cap:g} s (stopped)", None
        if status == "error":
            return "failed", None
        stop = first_stop(task, program, D)
        return (f"skipped (stopped at {stop:,})" if stop else "—"), None

    def mem_cell(task, D, program):
        res = cells.get((task, D, program))
        if res is None:
            return "—", None
        status, _, _, kib = summary(res)
        if status == "ok":
            return mib(kib), kib
        if status in ("cap", "error"):
            return f"≥ {mib(kib)} (when stopped)" if status == "cap" else mib(kib), None
        return "—", None

    head = ["task (command)", "D", "fixcalc", "fixcalc CPU", "mpmath + gmpy2", "fixcalc / mpmath",
            "peak memory fixcalc", "peak memory mpmath", "memory fixcalc / mpmath"]
    rows.append("| " + " | ".join(head) + " |")
    rows.append("|---|--:|--:|--:|--:|--:|--:|--:|--:|")
    for task, D in order:
        code = cells[(task, D, "fixcalc")]["code"]
        fx, fx_s = time_cell(task, D, "fixcalc")
        mp, mp_s = time_cell(task, D, "mpmath")
        status, _, cpu, _ = summary(cells[(task, D, "fixcalc")])
        if fx_s is not None and mp_s is not None:
            ratio = f"{fx_s / mp_s:,.2f}"
        elif status == "cap" and mp_s is not None:
            ratio = f"> {cap / mp_s:,.1f}"
        elif fx_s is not None and summary(cells[(task, D, "mpmath")])[0] == "cap":
            ratio = f"< {fx_s / cap:,.2f}"
        else:
            ratio = "—"
        fm, fm_k = mem_cell(task, D, "fixcalc")
        mm, mm_k = mem_cell(task, D, "mpmath")
        mem_ratio = f"{fm_k / mm_k:,.2f}" if fm_k is not None and mm_k is not None else "—"
        rows.append("| " + " | ".join([f"{task} ({code})", decimals(D), fx,
                                       fmt(cpu) if cpu is not None else "—", mp, ratio, fm, mm,
                                       mem_ratio]) + " |")
    return "\n".join(rows)


def header(data):
    m = data["machine"]
    lines = [f"Machine: {m['model']}, {m['cores']} cores (nproc), features: "
             f"{' '.join(m['features']) or 'none of avx2, avx512'}. fixcalc at commit {data['commit']}; "
             f"mpmath {data['mpmath']}.",
             (f"Medians of {data['runs']} interleaved runs" if data["runs"] > 1 else "One run")
             + ": wall-clock time (the ratios compare these), "
             f"fixcalc's CPU time (user + system) and peak memory (maximum resident set, "
             f"`/usr/bin/time -f %M`; 1 MiB = 2^20 bytes); all digits printed to /dev/null; "
             f"mpmath's times include starting Python and importing mpmath. Time cap per run "
             f"{data['cap']:g} s: a run over it is stopped, and the program skips the larger D of "
             f"that task."]
    for piece in data["pieces"]:
        lines.append(f"- {piece['started']}, load average (1, 5, 15 min) before "
                     f"{' '.join(f'{x:.2f}' for x in piece['load_before'])}, after "
                     f"{' '.join(f'{x:.2f}' for x in piece['load_after'])}: `{piece['command']}`")
    return "\n".join(lines)


def write_outputs(data, data_path, table_path, chart_path):
    with open(table_path, "w") as f:
        f.write("# How the cost grows with the decimals\n\n"
                f"Made by `bench/growth.py` from `{os.path.basename(data_path)}`.\n\n"
                f"![Time and peak memory against the decimals]({os.path.basename(chart_path)})\n\n"
                + header(data) + "\n\n" + table(data) + "\n")
    python = chart_python()
    if python is None:
        print(f"no Python with matplotlib (Debian: python3-matplotlib): {chart_path} not drawn",
              file=sys.stderr)
        return False
    subprocess.run([python, CHART_SCRIPT, data_path, chart_path], check=True)
    return True


def repo_relative(arg):
    """A path in the repository as the repository names it (for the record
    of the command); other arguments as they are."""
    root = os.path.dirname(HERE)
    path = os.path.abspath(arg)
    if os.path.exists(path) and os.path.commonpath([root, path]) == root:
        return os.path.relpath(path, root)
    return arg


def chart_python():
    """A Python that has matplotlib: this one, or else Debian's."""
    for python in (sys.executable, DEBIAN_PYTHON):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", "import matplotlib"], capture_output=True).returncode == 0:
            return python
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("fixcalc", nargs="?")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cap", type=float, default=120.0)
    ap.add_argument("--tasks", default="", help="only the tasks whose name matches this regex")
    ap.add_argument("--max-digits", type=int, default=None)
    ap.add_argument("--commit", default="", help="the source's commit, for the header and chart")
    ap.add_argument("--merge", action="store_true",
                    help="add to the data file, replacing the results of these tasks")
    ap.add_argument("--data", default=DATA)
    ap.add_argument("--table", default=TABLE)
    ap.add_argument("--chart", default=CHART)
    ap.add_argument("--redraw", action="store_true",
                    help="make the table and the chart from the data file, without running")
    args = ap.parse_args()

    if args.redraw:
        with open(args.data) as f:
            data = json.load(f)
        write_outputs(data, args.data, args.table, args.chart)
        return
    if not args.fixcalc:
        ap.error("the fixcalc binary to time is needed (or --redraw)")
    if subprocess.run([MPMATH_PYTHON, "-c", "import mpmath, gmpy2"], capture_output=True).returncode:
        sys.exit(f"{MPMATH_PYTHON} has no mpmath with gmpy2 (Debian: python3-mpmath python3-gmpy2)")
    if not os.path.exists(TIME):
        sys.exit(f"{TIME} is missing (Debian: time)")
    tasks = [name for name in GROWTH if re.search(args.tasks, name)]
    if args.max_digits:
        for name in tasks:
            GROWTH[name] = [D for D in GROWTH[name] if D <= args.max_digits]
    model, cores, features = machine()
    mp_version = version([MPMATH_PYTHON, "-c",
                          "import mpmath, gmpy2; print(mpmath.__version__, 'backend', "
                          "mpmath.libmp.BACKEND, 'gmpy2', gmpy2.version())"])
    data = dict(machine=dict(model=model, cores=cores, features=features), commit=args.commit or "?",
                mpmath=mp_version, runs=args.runs, cap=args.cap, pieces=[], results=[])
    if args.merge and os.path.exists(args.data):
        with open(args.data) as f:
            old = json.load(f)
        for key in ("machine", "commit", "mpmath", "runs", "cap"):
            if old[key] != data[key]:
                sys.exit(f"{args.data} has {key} {old[key]!r}, this run {data[key]!r}: not merged")
        data["pieces"] = old["pieces"]
        data["results"] = [r for r in old["results"] if r["task"] not in tasks]

    load_before = os.getloadavg()
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    results = measure(os.path.abspath(args.fixcalc), tasks, args.runs, args.cap)
    load_after = os.getloadavg()
    command = "python3 bench/growth.py " + " ".join(shlex.quote(repo_relative(a)) for a in sys.argv[1:])
    data["pieces"].append(dict(started=started, load_before=load_before, load_after=load_after,
                               command=command))
    order = {name: i for i, name in enumerate(GROWTH)}
    data["results"] = sorted(data["results"] + results,
                             key=lambda r: (order[r["task"]], r["D"], PROGRAMS.index(r["program"])))
    with open(args.data, "w") as f:
        json.dump(data, f, indent=1)
        f.write("\n")
    write_outputs(data, args.data, args.table, args.chart)
    print(header(data) + "\n\n" + table(data))


if __name__ == "__main__":
    main()
