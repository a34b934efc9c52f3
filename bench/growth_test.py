#!/usr/bin/env python3
"""Checks of the growth benchmark's bookkeeping (growth.py, growth_chart.py)
that do not depend on how fast the machine is: what one run records, which
cells a stopped run skips, the table and the chart made from a sample data
file. Usage: growth_test.py run|table|chart (status 77: cannot run here)."""
import json
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import growth  # noqa: E402

SKIP = 77
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def ok_run(wall, kib, cpu=None):
    return dict(wall=wall, cpu=wall if cpu is None else cpu, maxrss_kib=kib, exit=0, status="ok")


def cell(task, code, D, program, runs):
    return dict(task=task, code=code, D=D, program=program, runs=runs)


CAP = 120.0
SAMPLE = dict(
    machine=dict(model="Sample CPU", cores=2, features=["avx2", "avx512ifma"]), commit="abc1234",
    mpmath="1.2.1 backend gmpy", runs=3, cap=CAP,
    pieces=[dict(started="2026-01-01 00:00 UTC", load_before=[0.1, 0.2, 0.3],
                 load_after=[1.0, 0.5, 0.4], command="python3 bench/growth.py build-bench/fixcalc")],
    results=[
        # Medians of runs out of order: 0.2 s, 0.5 s, 3 MiB and 20 MiB.
        cell("pi", 14, 1000, "fixcalc", [ok_run(0.3, 2048), ok_run(0.1, 4096), ok_run(0.2, 3072)]),
        cell("pi", 14, 1000, "mpmath", [ok_run(0.5, 20480), ok_run(0.4, 10240), ok_run(0.6, 40960)]),
        cell("pi", 14, 10000, "fixcalc", [ok_run(2.0, 8192)] * 3),
        cell("pi", 14, 10000, "mpmath", [ok_run(1.0, 20480)] * 3),
        # fixcalc stopped at 10^4 in the first round, so 10^5 was not run.
        cell("sqrt(2)", 16, 1000, "fixcalc", [ok_run(0.01, 1024)] * 3),
        cell("sqrt(2)", 16, 1000, "mpmath", [ok_run(0.04, 15360)] * 3),
        cell("sqrt(2)", 16, 10000, "fixcalc", [dict(ok_run(CAP, 3 << 20), status="cap", exit=-9)]),
        cell("sqrt(2)", 16, 10000, "mpmath", [ok_run(30.0, 1 << 20)] * 3),
        cell("sqrt(2)", 16, 100000, "fixcalc", []),
        cell("sqrt(2)", 16, 100000, "mpmath", [ok_run(60.0, 2 << 20)] * 3),
        cell("e", 23, 1000, "fixcalc", [dict(ok_run(0.1, 900), status="error", exit=255,
                                              message="exit status 255")]),
        cell("e", 23, 1000, "mpmath", [ok_run(0.05, 15000)] * 3),
    ])


def test_run():
    """One run under the cap, over it, failing; peaks of the program alone."""
    if not os.path.exists(growth.TIME):
        print(f"{growth.TIME} missing: skipped", file=sys.stderr)
        return SKIP
    python = sys.executable
    # This process holds 200 MiB: a child's peak must not count them.
    ballast = bytearray(200 << 20)
    ballast[:: 4096] = b"x" * len(ballast[:: 4096])
    small = growth.run([python, "-c", "import sys; sys.stdin.read()"], "input\n", 600)
    check(small["status"] == "ok" and small["exit"] == 0, f"a plain run: {small}")
    check(0 < small["maxrss_kib"] < 150 << 10, f"a small child's peak {small['maxrss_kib']} KiB counts its parent's")
    big = growth.run([python, "-c", "b = bytearray(300 << 20); b[::4096] = b'x' * len(b[::4096])"], "", 600)
    check(big["status"] == "ok" and big["maxrss_kib"] >= 300 << 10, f"a child holding 300 MiB: {big}")
    failed = growth.run([python, "-c", "raise SystemExit(255)"], "", 600)
    check(failed["status"] == "error" and failed["exit"] == 255, f"status 255: {failed}")
    noisy = growth.run([python, "-c", "import sys; sys.stderr.write('Error')"], "", 600)
    check(noisy["status"] == "error" and "Error" in noisy["message"], f"a message on stderr: {noisy}")
    # Stopped, the program itself (not only /usr/bin/time) ends, and its
    # peak so far is still reported.
    stopped = growth.run([python, "-c", "import time; time.sleep(600)"], "", 2)
    check(stopped["status"] == "cap" and stopped["wall"] < 300, f"a run over the cap: {stopped}")
    check(stopped["maxrss_kib"] > 0, f"the peak of a stopped run: {stopped}")
    del ballast
    return 0


def test_measure_skips():
    """A run over the cap stops that program's task at that D and above; the
    other program and the other rounds go on."""
    saved = growth.run, dict(growth.GROWTH)
    calls = []

    def fake(argv, stdin_text, cap):
        fixcalc = argv[0] == "FIXCALC"
        D = int(stdin_text.split()[0]) if fixcalc else int(argv[-1])
        calls.append(("fixcalc" if fixcalc else "mpmath", D))
        if fixcalc and D >= 10000:
            return dict(ok_run(cap, 1), status="cap")
        return ok_run(0.1, 1)

    try:
        growth.run = fake
        growth.GROWTH["sqrt(2)"] = [1000, 10000, 100000]
        results = growth.measure("FIXCALC", ["sqrt(2)"], 3, CAP, log=open(os.devnull, "w"))
    finally:
        growth.run = saved[0]
        growth.GROWTH.update(saved[1])
    runs = {(r["D"], r["program"]): len(r["runs"]) for r in results}
    check(runs == {(1000, "fixcalc"): 3, (1000, "mpmath"): 3, (10000, "fixcalc"): 1,
                   (10000, "mpmath"): 3, (100000, "fixcalc"): 0, (100000, "mpmath"): 3},
          f"runs per cell after a stop at 10^4: {runs}")
    check(calls[:4] == [("fixcalc", 1000), ("mpmath", 1000), ("fixcalc", 10000), ("mpmath", 10000)],
          f"cells interleaved by program: {calls[:4]}")


def test_table():
    rows = {line.split(" | ")[0] + " | " + line.split(" | ")[1]: line
            for line in growth.table(SAMPLE).splitlines()[2:]}
    check(rows["| pi (14) | 10^3"] == "| pi (14) | 10^3 | 0.20 s | 0.20 s | 0.50 s | 0.40 | "
          "3.00 MiB | 20.0 MiB | 0.15 |", f"medians and ratios: {rows['| pi (14) | 10^3']}")
    check(rows["| sqrt(2) (16) | 10^4"] == "| sqrt(2) (16) | 10^4 | > 120 s (stopped) | — | 30.0 s "
          "| > 4.0 | ≥ 3,072.0 MiB (when stopped) | 1,024.0 MiB | — |",
          f"a stopped run: {rows['| sqrt(2) (16) | 10^4']}")
    check(rows["| sqrt(2) (16) | 10^5"] == "| sqrt(2) (16) | 10^5 | skipped (stopped at 10,000) | — "
          "| 60.0 s | — | — | 2,048.0 MiB | — |",
          f"a skipped cell: {rows['| sqrt(2) (16) | 10^5']}")
    check(" | failed | " in rows["| e (23) | 10^3"], f"a failed run: {rows['| e (23) | 10^3']}")
    check(list(rows) == ["| pi (14) | 10^3", "| pi (14) | 10^4", "| sqrt(2) (16) | 10^3",
                         "| sqrt(2) (16) | 10^4", "| sqrt(2) (16) | 10^5", "| e (23) | 10^3"],
          f"rows in the data file's order: {list(rows)}")
    head = growth.header(SAMPLE)
    check("Sample CPU, 2 cores" in head and "avx2 avx512ifma" in head and "abc1234" in head
          and "`python3 bench/growth.py build-bench/fixcalc`" in head, f"the header: {head}")


def test_chart():
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        python = growth.chart_python()
        if python is None or python == sys.executable:
            print("no Python with matplotlib: skipped", file=sys.stderr)
            return SKIP
        return subprocess.run([python, __file__, "chart"]).returncode
    import growth_chart
    fig = growth_chart.figure(SAMPLE)
    ax_time, ax_mem = fig.axes
    lines = {line.get_label(): line for line in ax_time.get_lines()}
    pi_fx = lines["pi (14), fixcalc"]
    check(list(pi_fx.get_xdata()) == [1000, 10000] and list(pi_fx.get_ydata()) == [0.2, 2.0]
          and pi_fx.get_linestyle() == "-", "pi's fixcalc line: the medians, solid")
    pi_mp = lines["pi (14), mpmath + gmpy2"]
    check(list(pi_mp.get_ydata()) == [0.5, 1.0] and pi_mp.get_linestyle() == "--",
          "pi's mpmath line: the medians, dashed")
    check(list(lines["sqrt(2) (16), fixcalc"].get_xdata()) == [1000],
          "a stopped run is not drawn as a measured point")
    check(any(line.get_marker() == "^" and list(line.get_xdata()) == [10000]
              and list(line.get_ydata()) == [CAP] for line in ax_time.get_lines()),
          "a stopped run is drawn as a triangle at the cap")
    check(any(line.get_marker() == "^" and list(line.get_ydata()) == [3072.0]
              for line in ax_mem.get_lines()), "and at its peak when stopped")
    check("e (23), fixcalc" not in lines and "e (23), mpmath + gmpy2" in lines,
          "a failed run draws nothing")
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "growth.json")
        with open(data, "w") as f:
            json.dump(SAMPLE, f)
        svgs = []
        for name in ("a.svg", "b.svg"):
            subprocess.run([sys.executable, os.path.join(HERE, "growth_chart.py"), data,
                            os.path.join(tmp, name)], check=True)
            with open(os.path.join(tmp, name)) as f:
                svgs.append(f.read())
        check(svgs[0] == svgs[1], "the same data draws the same file")
        texts = " ".join(t.text or "" for t in ET.fromstring(svgs[0]).iter("{http://www.w3.org/2000/svg}text"))
        for want in ("Sample CPU", "avx512ifma", "abc1234", "pi (14)", "sqrt(2) (16)", "mpmath + gmpy2",
                     "medians of 3"):
            check(want in texts, f"the chart's text names {want!r}")
    return 0


def main():
    which = sys.argv[1] if len(sys.argv) > 1 else ""
    if which == "run":
        status = test_run()
        test_measure_skips()
    elif which == "table":
        status = test_table() or 0
    elif which == "chart":
        status = test_chart()
    else:
        sys.exit(__doc__)
    if failures:
        sys.exit(1)
    sys.exit(status)


if __name__ == "__main__":
    main()
