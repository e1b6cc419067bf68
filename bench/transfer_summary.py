#!/usr/bin/env python3
"""Summarises the rounds of a transfer benchmark: one file of SIZE bytes fetched by several contenders.

For each contender NAME the results directory holds, per round, NAME-<round>.json (hyperfine's export:
the whole process) and NAME-<round>.txt (the program's output, with the transfer's own time as
"seconds=S" or curl's "time_total=S"). Two figures per contender, median and minimum:
  (a) the whole process, (b) the transfer alone.
Throughput ratios are taken against the reference (time of the reference / time of the contender);
a --target is judged on the medians of (a).

Usage: transfer_summary.py --size BYTES --results DIR --reference NAME [--target NAME=LIMIT ...]
                           [--beyond NAME:BASE:TEXT ...] [--floor NAME:BASE=LIMIT ...] NAME...
--beyond prints the (b) median of NAME minus that of BASE, labelled TEXT; --floor judges NAME's
throughput against BASE's, the floor NAME cannot beat, on (a) medians.
"""

import argparse
import glob
import json
import os
import re
import statistics
import sys


def gather(results: str, name: str) -> tuple[list[float], list[float]]:
    process, transfer = [], []
    for path in sorted(glob.glob(os.path.join(results, f"{name}-*.json"))):
        with open(path, encoding="utf-8") as file:
            process.extend(json.load(file)["results"][0]["times"])
        with open(path[:-5] + ".txt", encoding="utf-8", errors="replace") as file:
            text = file.read()
        found = re.search(r"(?:time_total|seconds)=([0-9.]+)", text)
        if not found:
            sys.exit(f"no time in the output of {path[:-5]}.txt: {text!r}")
        transfer.append(float(found.group(1)))
    if not process:
        sys.exit(f"no results for {name} in {results}")
    return process, transfer


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=int, required=True, help="bytes of the file transferred")
    parser.add_argument("--results", required=True, help="directory of the rounds' results")
    parser.add_argument("--reference", required=True, help="contender the ratios are taken against")
    parser.add_argument("--target", action="append", default=[], help="NAME=LIMIT: NAME at least LIMIT x reference")
    parser.add_argument("--beyond", action="append", default=[], help="NAME:BASE:TEXT: (b) median of NAME - BASE")
    parser.add_argument("--floor", action="append", default=[],
                        help="NAME:BASE=LIMIT: NAME at least LIMIT x the throughput of BASE, a contender's floor")
    parser.add_argument("names", nargs="+")
    args = parser.parse_args()

    targets = {name: float(limit) for name, limit in (item.split("=", 1) for item in args.target)}
    figures = {"(a) whole process": {}, "(b) transfer": {}}
    for name in args.names:
        figures["(a) whole process"][name], figures["(b) transfer"][name] = gather(args.results, name)

    def rate(seconds: float) -> float:
        return args.size / seconds / 1e6

    width = max(len(name) for name in args.names)
    for label, times in figures.items():
        print(f"  {label}")
        for name in args.names:
            values = times[name]
            median = statistics.median(values)
            print(f"    {name:<{width}} median {median:7.3f} s  {rate(median):7.1f} MB/s"
                  f"   min {min(values):7.3f} s  {rate(min(values)):7.1f} MB/s   runs {len(values)}")

    reference = args.reference
    for name in args.names:
        if name == reference:
            continue
        for label, times in figures.items():
            medians = statistics.median(times[reference]) / statistics.median(times[name])
            minimums = min(times[reference]) / min(times[name])
            line = f"  throughput {name} / {reference}, {label}: {medians:.2f} (medians), {minimums:.2f} (minimums)"
            if name in targets and label.startswith("(a)"):
                line += f"   target >= {targets[name]:g}: {'MET' if medians >= targets[name] else 'MISSED'}"
            print(line)

    for item in args.floor:
        pair, limit = item.rsplit("=", 1)
        name, base = pair.split(":", 1)
        for label, times in figures.items():
            medians = statistics.median(times[base]) / statistics.median(times[name])
            minimums = min(times[base]) / min(times[name])
            line = f"  throughput {name} / {base}, {label}: {medians:.2f} (medians), {minimums:.2f} (minimums)"
            if label.startswith("(a)"):
                line += f"   target >= {float(limit):g}: {'MET' if medians >= float(limit) else 'MISSED'}"
            print(line)

    transfer = figures["(b) transfer"]
    for item in args.beyond:
        name, base, text = item.split(":", 2)
        extra = statistics.median(transfer[name]) - statistics.median(transfer[base])
        print(f"  {text}, (b) medians: {extra:+.3f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
