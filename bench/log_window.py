#!/usr/bin/env python3
"""Prints the time between two marked lines of a process log, over every run the log holds.

Usage: log_window.py LOG START_TEXT END_TEXT LABEL

A span starts at a line containing START_TEXT and ends at the next line containing END_TEXT; the
lines' prefixes "[ YYYY-MM-DD HH:MM:SS:mmm ]" give the times (a span over midnight is counted
modulo a day). Prints the median and minimum of the spans in milliseconds, or that none was found.
"""

import re
import statistics
import sys

STAMP = re.compile(r"^\[ \d+-\d+-\d+ (\d+):(\d+):(\d+):(\d+) \]")
DAY_MS = 86_400_000


def milliseconds(line: str) -> int | None:
    match = STAMP.match(line)
    if match is None:
        return None
    hours, minutes, seconds, fraction = map(int, match.groups())
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + fraction


def main() -> int:
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    path, start_text, end_text, label = sys.argv[1:]
    spans: list[int] = []
    start = None
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            if start_text in line:
                start = milliseconds(line)
            elif end_text in line and start is not None:
                end = milliseconds(line)
                if end is not None:
                    spans.append((end - start) % DAY_MS)
                start = None
    if not spans:
        print(f"  {label}: no span from {start_text!r} to {end_text!r} in {path}")
        return 0
    print(f"  {label}: median {statistics.median(spans)} ms, min {min(spans)} ms, runs {len(spans)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
