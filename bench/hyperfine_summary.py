#!/usr/bin/env python3
"""Summarises one or more hyperfine JSON exports of the same commands (several rounds).

The times of each command are pooled over all files (cpu is the mean user + system time). The
ratio of a command to the reference is median / median (the figure a target is judged on) and, for
information, min / min and the ratio of the mean cpu times (steadier than wall times while other
work loads the machine, but blind to what a program makes other processes do, such as Wine's
server).

Usage: hyperfine_summary.py --reference NAME [--target NAME=LIMIT ...] [--info NAME:BASE ...]
                            [--added NAME=MS ...] FILE...
Prints one line per command and one per ratio; a ratio with a target ends in MET or MISSED. --added
judges the time a command adds to the reference (median - median) against a limit in milliseconds.
"""

import argparse
import json
import statistics
import sys


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--reference", required=True, help="command name the ratios are taken against")
    parser.add_argument("--target", action="append", default=[], help="NAME=LIMIT: NAME within LIMIT x reference")
    parser.add_argument("--info", action="append", default=[], help="NAME:BASE: also print NAME against BASE")
    parser.add_argument("--added", action="append", default=[], help="NAME=MS: NAME adds at most MS to the reference")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    times: dict[str, list[float]] = {}
    cpu_seconds: dict[str, float] = {}  # user + system over all runs (the children's, for a pipeline)
    for path in args.files:
        with open(path, encoding="utf-8") as file:
            for result in json.load(file)["results"]:
                times.setdefault(result["command"], []).extend(result["times"])
                cpu_seconds[result["command"]] = (cpu_seconds.get(result["command"], 0.0) +
                                                  (result["user"] + result["system"]) * len(result["times"]))
    if args.reference not in times:
        print(f"no times for the reference {args.reference!r}", file=sys.stderr)
        return 2

    for name, values in times.items():
        print(f"  {name:<16} median {statistics.median(values) * 1000:9.1f} ms   min {min(values) * 1000:9.1f} ms"
              f"   mean {statistics.fmean(values) * 1000:9.1f} ms"
              f"   cpu {cpu_seconds[name] / len(values) * 1000:9.1f} ms"
              f"   runs {len(values)}")

    def ratio_line(name: str, base: str, limit: float | None) -> str:
        median_ratio = statistics.median(times[name]) / statistics.median(times[base])
        min_ratio = min(times[name]) / min(times[base])
        cpu_ratio = (cpu_seconds[name] / len(times[name])) / (cpu_seconds[base] / len(times[base]))
        text = (f"  ratio {name} / {base}: {median_ratio:.2f} (medians), {min_ratio:.2f} (minimums),"
                f" {cpu_ratio:.2f} (cpu)")
        if limit is not None:
            text += f"   target <= {limit:g}: {'MET' if median_ratio <= limit else 'MISSED'}"
        return text

    for target in args.target:
        name, limit = target.rsplit("=", 1)
        print(ratio_line(name, args.reference, float(limit)))
    for added in args.added:
        name, limit = added.rsplit("=", 1)
        extra = (statistics.median(times[name]) - statistics.median(times[args.reference])) * 1000
        print(f"  added by {name} to {args.reference}: {extra:+.1f} ms (medians)"
              f"   target <= {float(limit):g} ms: {'MET' if extra <= float(limit) else 'MISSED'}")
    for info in args.info:
        name, base = info.split(":", 1)
        print(ratio_line(name, base, None))
    return 0


if __name__ == "__main__":
    sys.exit(main())
