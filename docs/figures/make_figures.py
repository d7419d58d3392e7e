#!/usr/bin/python3
"""Draw the manual's figures from the benchmarks' JSON output.

Reads docs/figures/data/*.json (written by regenerate.sh) and writes
widths.png and timings.png next to this script.  Needs matplotlib; run with
Debian's /usr/bin/python3.  The documentation build only includes the PNG
files; it never runs this script or the benchmarks.

    /usr/bin/python3 docs/figures/make_figures.py [--data DIR] [--out DIR]
"""
import argparse
import json
import math
import os
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
MODE_STYLE = {0: ("tab:blue", "o", "mode 0"), 1: ("tab:orange", "s", "mode 1"),
              2: ("tab:green", "^", "mode 2")}


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def runs(doc):
    """The benchmarks that stand for a case: the median aggregate when there
    were repetitions, else the single run; runs that reported an error are
    an error here too."""
    out = {}
    for b in doc["benchmarks"]:
        if b.get("error_occurred"):
            sys.exit("make_figures: %s reported an error: %s"
                     % (b["name"], b.get("error_message", "")))
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        out[b.get("run_name", b["name"])] = b
    return out


def seconds(b):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    return b["real_time"] * scale


def width_points(doc, family):
    """{mode: [(kappa, width or None when not proven)]} of one family."""
    pts = {0: [], 1: [], 2: []}
    for name, b in runs(doc).items():
        if not name.startswith(family + "/"):
            continue
        mode = int(b["mode"])
        w = b.get("width") if int(b["status"]) == 0 else None
        pts[mode].append((b["kappa"], w))
    for v in pts.values():
        v.sort()
    if not any(pts.values()):
        sys.exit("make_figures: no %s cases in the widths data" % family)
    return pts


def draw_widths(doc, out):
    fig, axes = plt.subplots(1, 2, figsize=(10, 4.2), sharey=True)
    order = re.search(r"random/n=(\d+)/", " ".join(runs(doc)))
    panels = [("hilbert", axes[0], r"condition number $\kappa_\infty(H)$",
               "Hilbert matrices scaled to integers, n = 2, 3, ..."),
              ("random", axes[1], r"prescribed condition number $\kappa_2$",
               "random matrices, n = %s" % (order.group(1) if order else "?"))]
    ceiling = {0: 0.3, 1: 1.0, 2: 3.0}  # unproven cases, one line per mode
    for family, ax, xlabel, title in panels:
        pts = width_points(doc, family)
        for mode, (color, marker, label) in MODE_STYLE.items():
            proven = [(k, w) for k, w in pts[mode] if w is not None]
            failed = [k for k, w in pts[mode] if w is None]
            if proven:
                ax.plot([k for k, _ in proven], [w for _, w in proven], color=color,
                        marker=marker, label=label, linewidth=1.2, markersize=5)
            if failed:
                ax.plot(failed, [ceiling[mode]] * len(failed), linestyle="none", color=color,
                        marker="x", markersize=7)
        ax.axhline(2.0 ** -53, color="0.6", linewidth=0.8, linestyle=":")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel(xlabel)
        ax.set_title(title, fontsize=10)
        ax.grid(True, which="major", linewidth=0.4, alpha=0.6)
    axes[0].set_ylabel("median relative width (hi - lo) / |mid|")
    axes[0].text(0.02, 6.0, "x: not proven (status 1)", fontsize=8,
                 transform=axes[0].get_yaxis_transform())
    axes[0].legend(loc="center left", fontsize=9)
    axes[0].set_ylim(1e-17, 30)
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    plt.close(fig)


def draw_timings(small, large, out):
    series = {"dgesv": ("LAPACKE_dgesv (not verified)", "0.4", "v"),
              "mode1": ("norva_solve, mode 1", "tab:orange", "s"),
              "mode0": ("norva_solve, mode 0", "tab:blue", "o"),
              "arb": ("Arb arb_mat_solve, 53 bits", "tab:red", "D")}
    pts = {k: [] for k in series}
    for name, b in runs(small).items():
        m = re.match(r"n=(\d+)/(\w+)(/|$)", name)
        if m and m.group(2) in pts:
            pts[m.group(2)].append((int(m.group(1)), seconds(b)))
    if large is not None:
        for name, b in runs(large).items():
            m = re.match(r"BM_(dgesv|mode0|mode1)/(\d+)/1/", name)
            if m:
                pts[m.group(1)].append((int(m.group(2)), seconds(b)))
    if not pts["mode0"]:
        sys.exit("make_figures: no timings of norva_solve in the data")
    fig, ax = plt.subplots(figsize=(7, 4.8))
    for key, (label, color, marker) in series.items():
        p = sorted(pts[key])
        if p:
            ax.plot([n for n, _ in p], [t for _, t in p], color=color, marker=marker,
                    label=label, linewidth=1.2, markersize=5)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("order n")
    ax.set_ylabel("wall-clock time per solve (s)")
    ax.grid(True, which="major", linewidth=0.4, alpha=0.6)
    ax.legend(fontsize=9)
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    plt.close(fig)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--data", default=os.path.join(HERE, "data"))
    ap.add_argument("--out", default=HERE)
    a = ap.parse_args()
    widths = load(os.path.join(a.data, "widths.json"))
    small = load(os.path.join(a.data, "small.json"))
    large_path = os.path.join(a.data, "solve_1000.json")
    large = load(large_path) if os.path.exists(large_path) else None
    draw_widths(widths, os.path.join(a.out, "widths.png"))
    draw_timings(small, large, os.path.join(a.out, "timings.png"))
    print("wrote %s and %s" % (os.path.join(a.out, "widths.png"),
                               os.path.join(a.out, "timings.png")))


if __name__ == "__main__":
    main()
