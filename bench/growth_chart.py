#!/usr/bin/env python3
"""Draws the growth benchmark's data file (growth.py) as an SVG: wall-clock
time and peak memory against the decimals, log-log, one colour per task,
fixcalc solid, mpmath dashed. A run stopped at the time cap is drawn as a
triangle at the cap (and, on the memory side, at what it held when stopped),
joined by a faint line: the true value lies above it.

Needs matplotlib (Debian: python3-matplotlib, with Debian's python3).

Usage: growth_chart.py DATA.json OUT.svg
"""
import json
import os
import sys

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.ticker import FuncFormatter  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from growth import summary  # noqa: E402

STYLE = {"fixcalc": dict(linestyle="-", marker="o", markerfacecolor=None),
         "mpmath": dict(linestyle="--", marker="s", markerfacecolor="white")}
LABEL = {"fixcalc": "fixcalc", "mpmath": "mpmath + gmpy2"}


def seconds(value, _=None):
    return f"{value * 1000:g} ms" if value < 1 else f"{value:g} s"


def mebibytes(value, _=None):
    return f"{value / 1024:g} GiB" if value >= 1024 else f"{value:g} MiB"


def series(data):
    """{(task, code, program): (points, stopped)} where points are the
    (D, median wall s, median peak MiB) of the measured cells in order of D
    and stopped the (D, cap s, peak MiB when stopped) of a run over the cap,
    or None."""
    out = {}
    for res in data["results"]:
        key = (res["task"], res["code"], res["program"])
        points, stopped = out.setdefault(key, ([], [None]))
        status, wall, _, kib = summary(res)
        if status == "ok":
            points.append((res["D"], wall, kib / 1024))
        elif status == "cap" and stopped[0] is None:
            stopped[0] = (res["D"], data["cap"], kib / 1024)
    return {k: (sorted(p), s[0]) for k, (p, s) in out.items()}


def figure(data):
    fig, (ax_time, ax_mem) = plt.subplots(1, 2, figsize=(14, 7.4))
    tasks = []
    for task, code, _ in series(data):
        if (task, code) not in tasks:
            tasks.append((task, code))
    noted = set()
    colour = {t: plt.get_cmap("tab10")(i) for i, t in enumerate(tasks)}
    for (task, code, program), (points, stopped) in series(data).items():
        style = STYLE[program]
        c = colour[(task, code)]
        for ax, i in ((ax_time, 1), (ax_mem, 2)):
            if points:
                ax.plot([p[0] for p in points], [p[i] for p in points], color=c, linewidth=1.8,
                        markersize=6, linestyle=style["linestyle"], marker=style["marker"],
                        markerfacecolor=style["markerfacecolor"] or c,
                        label=f"{task} ({code}), {LABEL[program]}")
            if stopped:
                if points:
                    ax.plot([points[-1][0], stopped[0]], [points[-1][i], stopped[i]], color=c,
                            linestyle=style["linestyle"], linewidth=1.2, alpha=0.5)
                ax.plot([stopped[0]], [stopped[i]], color=c, marker="^", markersize=11,
                        markerfacecolor=style["markerfacecolor"] or c, linestyle="none")
                note = (stopped[0], round(stopped[i], 3))
                if note not in noted:
                    noted.add(note)
                    ax.annotate(f"stopped at {data['cap']:g} s" if i == 1 else "when stopped",
                                (stopped[0], stopped[i]), textcoords="offset points",
                                xytext=(-10, 6), ha="right", fontsize=9, color=c)
    for ax, ylabel, title in ((ax_time, "wall-clock time", "Time"),
                              (ax_mem, "peak memory (maximum resident set)", "Peak memory")):
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("decimals D")
        ax.set_ylabel(ylabel)
        ax.set_title(title)
        ax.yaxis.set_major_formatter(FuncFormatter(seconds if ax is ax_time else mebibytes))
        ax.grid(True, which="major", linewidth=0.6, alpha=0.5)
        ax.grid(True, which="minor", linewidth=0.3, alpha=0.3)
    handles = [Line2D([], [], color=colour[t], linewidth=3, label=f"{t[0]} ({t[1]})") for t in tasks]
    handles += [Line2D([], [], color="black", linestyle=STYLE[p]["linestyle"], marker=STYLE[p]["marker"],
                       markerfacecolor=STYLE[p]["markerfacecolor"] or "black", label=LABEL[p])
                for p in ("fixcalc", "mpmath")]
    if any(s for _, s in series(data).values()):
        handles.append(Line2D([], [], color="grey", linestyle="none", marker="^", markersize=10,
                              label=f"stopped at the {data['cap']:g} s cap (true value above)"))
    # Below both panels, where it hides no point.
    fig.legend(handles=handles, loc="lower center", ncol=4, fontsize=10, frameon=False)
    m = data["machine"]
    runs = f"medians of {data['runs']} interleaved runs" if data["runs"] > 1 else "one run"
    fig.suptitle(f"fixcalc and mpmath + gmpy2: cost against decimals, all digits printed ({runs})",
                 fontsize=13)
    fig.text(0.5, 0.905, f"{m['model']}, {m['cores']} cores, {' '.join(m['features'])}; "
             f"fixcalc at commit {data['commit']}; mpmath {data['mpmath']}",
             ha="center", fontsize=10)
    fig.tight_layout(rect=(0, 0.11, 1, 0.9))
    return fig


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1]) as f:
        data = json.load(f)
    plt.rcParams["svg.fonttype"] = "none"  # text stays text: smaller, searchable
    plt.rcParams["svg.hashsalt"] = "growth"  # the same data gives the same file
    fig = figure(data)
    fig.savefig(sys.argv[2], format="svg", metadata={"Date": None})


if __name__ == "__main__":
    main()
