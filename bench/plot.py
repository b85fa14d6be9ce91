"""Draws the comparison written by ``bench/compare.py --json`` as an SVG.

Two panels, seal and open: median microseconds per call on a log scale,
one bar per implementation (tessarils on non-ASCII text left out) at 5 B,
40 B of JSON, 1 KiB and 16 KiB. The caption
names the processor this runs on and the date the JSON was written, so
draw on the machine that measured, right after measuring.

    python3 bench/plot.py results.json docs/performance.svg
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)

SIZES = ["5 B", "40 B JSON", "1 KiB", "16 KiB"]
# Bars above this are cut off and labelled: pybranca takes seconds at 16 KiB,
# which would squash every other bar into the bottom of the log scale.
CEILING = 2000.0
OPERATIONS = ["seal", "open"]
OUR_COLOURS = ["#c0392b", "#e67e22"]
PEER_COLOURS = [
    "#1f77b4", "#2ca02c", "#9467bd", "#8c564b", "#17becf", "#e377c2",  # token formats, signed
    "#7f7f7f", "#a5a5a5", "#c7c7c7", "#dcdcdc",  # primitives, in greys
]


def processor() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.partition(":")[2].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def draw(document: dict, when: datetime.date, out: str) -> None:
    times = {(r["implementation"], r["operation"], r["size"]): r["microseconds"] for r in document["results"]}
    measured = {r["implementation"] for r in document["results"]}
    kinds = {i["name"]: i["kind"] for i in document["implementations"] if i["name"] in measured}
    names = [name for name, kind in kinds.items() if kind != "variant"]
    ours = [name for name in names if kinds[name] == "ours"]
    colours = dict(zip(ours, OUR_COLOURS)) | dict(zip([n for n in names if n not in ours], PEER_COLOURS))

    plt.rcParams.update({"svg.fonttype": "none", "svg.hashsalt": "tessarils", "font.size": 9})
    figure, axes = plt.subplots(1, 2, figsize=(12, 5.2), sharey=True)
    width = 0.8 / len(names)
    for ax, operation in zip(axes, OPERATIONS):
        for i, name in enumerate(names):
            xs = [s + (i - (len(names) - 1) / 2) * width for s in range(len(SIZES))]
            values = [times[(name, operation, size)] for size in SIZES]
            ax.bar(xs, [min(v, CEILING) for v in values], width, color=colours[name], label=name)
            for x, value in zip(xs, values):
                if value > CEILING:  # cut off, with its figure written along it
                    ax.text(x + width / 2, CEILING * 0.9, f"{value / 1000:,.0f} ms", rotation=90, ha="left",
                            va="top", fontsize=7, color="#333333")
        ax.set_yscale("log")
        ax.set_ylim(top=CEILING)
        ax.set_xticks(range(len(SIZES)), SIZES)
        ax.set_title(operation)
        ax.grid(axis="y", which="both", alpha=0.3)
        ax.set_axisbelow(True)
    axes[0].set_ylabel("µs per call (median, log scale; lower is faster)")
    figure.legend(*axes[0].get_legend_handles_labels(), loc="lower center", ncol=4, frameon=False)
    versions = ", ".join(f"{name} {version}" for name, version in document["versions"].items())
    python = document["python"].split()[0]
    command = document.get("command", "bash scripts/bench")
    figure.suptitle(f"{document.get('processor') or processor()}, {document['cpus']} CPUs, CPython {python}, "
                    f"measured {when.isoformat()}\n{versions}; {command}")
    figure.tight_layout(rect=(0, 0.16, 1, 1))
    figure.savefig(out, metadata={"Date": None})


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results", help="JSON written by bench/compare.py --json")
    parser.add_argument("svg", help="where to write the picture")
    args = parser.parse_args()
    with open(args.results, encoding="utf-8") as results:
        document = json.load(results)
    if "measured" in document:
        measured = datetime.datetime.fromisoformat(document["measured"]).date()
    else:  # written before results carried their date
        measured = datetime.datetime.fromtimestamp(os.path.getmtime(args.results), datetime.UTC).date()
    draw(document, measured, args.svg)


if __name__ == "__main__":
    main()
