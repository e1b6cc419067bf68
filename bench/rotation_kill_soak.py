#!/usr/bin/env python3
"""Kills vxprereqhandler.exe at random moments of its start-up rotation and checks the log files.

Each round appends marker lines of its own to the live log until it is above the 2,000,000-byte
limit (now and then one of the copies 1-4 is removed first), starts the program, kills it after a
random delay (half of the delays inside the rotation's window, measured at the start), then runs it
once more to completion. After every follow-up run:
  - no torn copy: every file ends with a line feed;
  - no copy twice: no marker line is in two files;
  - no line lost: every round still present has all its lines, and the rounds present are the
    newest ones (apart from the rounds of a copy this soak removed itself);
  - nothing left over: only the live log and copies 1-4 are in the directory.
Prints the rounds, the kills that hit the rotation and the violations.

Usage: rotation_kill_soak.py PROGRAM LOGS_DIR ROUNDS SEED   (WINELOADER names the Wine loader)
"""
import os
import random
import re
import subprocess
import sys
import time

LIMIT = 2_000_000
NAMES = ["vxprereqhandler.log"] + [f"vxprereqhandler{n}.log" for n in range(1, 5)]
PENDING = "~vxprereqhandler1.log"
MARKER = re.compile(rb"^soak round (\d+) line (\d+) ")


def files(logs):
    sizes = {}
    for name in os.listdir(logs):
        try:
            sizes[name] = os.path.getsize(os.path.join(logs, name))
        except FileNotFoundError:  # moved or deleted by the program meanwhile
            pass
    return sizes


def markers(path):
    found = {}
    with open(path, "rb") as f:
        for line in f:
            m = MARKER.match(line)
            if m:
                found.setdefault(int(m.group(1)), []).append(int(m.group(2)))
    return found


def seed_round(logs, round_number):
    """Appends round_number's lines until the live log is above the limit; returns their count."""
    live = os.path.join(logs, NAMES[0])
    size = os.path.getsize(live) if os.path.exists(live) else 0
    count = 0
    with open(live, "ab") as f:
        while size <= LIMIT:
            line = b"soak round %d line %d ................................................\n" % (round_number, count)
            f.write(line)
            size += len(line)
            count += 1
    return count


def run(program, kill_after=None):
    started = time.monotonic()
    child = subprocess.Popen([os.environ["WINELOADER"], program], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    if kill_after is None:
        child.wait()
        return time.monotonic() - started
    time.sleep(max(0.0, kill_after - (time.monotonic() - started)))
    child.kill()
    child.wait()
    time.sleep(0.05)  # the Wine server lets go of the process's files
    return kill_after


def calibrate(program, logs):
    """Runs the program on a full log three times and watches when the rotation starts and ends."""
    starts, ends, totals = [], [], []
    for i in range(3):
        seed_round(logs, -1 - i)
        before = files(logs)
        started = time.monotonic()
        child = subprocess.Popen([os.environ["WINELOADER"], program], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        first_change = None
        truncated = None
        while child.poll() is None:
            now = files(logs)
            if first_change is None and {k: v for k, v in now.items() if k != NAMES[0]} != \
                    {k: v for k, v in before.items() if k != NAMES[0]}:
                first_change = time.monotonic() - started
            if truncated is None and now.get(NAMES[0], 0) < LIMIT:
                truncated = time.monotonic() - started
            time.sleep(0.001)
        totals.append(time.monotonic() - started)
        if first_change is not None:
            starts.append(first_change)
        if truncated is not None:
            ends.append(truncated)
    for name in os.listdir(logs):
        os.remove(os.path.join(logs, name))
    # The rotation runs for a few milliseconds; the window spans the runs' spread around it.
    window = (max(0.0, min(starts) - 0.03) if starts else 0.0, max(ends) + 0.01 if ends else max(totals))
    return window, max(totals)


def check(logs, expected, removed, newest_round):
    violations = []
    names = sorted(os.listdir(logs))
    for name in names:
        if name not in NAMES:
            violations.append(f"left over: {name}")
    seen = {}
    for name in names:
        path = os.path.join(logs, name)
        with open(path, "rb") as f:
            data = f.read()
        if data and not data.endswith(b"\n"):
            violations.append(f"torn: {name} ends inside a line")
        for round_number, lines in markers(path).items():
            if round_number < 0:
                continue
            if round_number in seen:
                violations.append(f"twice: round {round_number} in {seen[round_number]} and {name}")
            seen[round_number] = name
            if sorted(lines) != list(range(expected[round_number])):
                violations.append(f"lost: round {round_number} has {len(lines)} of {expected[round_number]} lines")
    present = sorted(seen)
    if present:
        for round_number in range(present[0], newest_round + 1):
            if round_number not in seen and round_number not in removed:
                violations.append(f"lost: round {round_number} is gone while round {present[0]} is kept")
    elif newest_round >= 0:
        violations.append("lost: no round at all")
    return violations


def main():
    program, logs, rounds, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    os.makedirs(logs, exist_ok=True)
    for name in os.listdir(logs):
        os.remove(os.path.join(logs, name))
    window, total = calibrate(program, logs)
    rng = random.Random(seed)
    expected, removed = {}, set()
    kills_in_rotation = 0
    violations = []
    for round_number in range(rounds):
        if rng.random() < 0.2:
            victim = os.path.join(logs, NAMES[rng.randint(1, 4)])
            if os.path.exists(victim):
                removed.update(markers(victim))
                os.remove(victim)
        expected[round_number] = seed_round(logs, round_number)
        before = files(logs)
        delay = rng.uniform(*window) if round_number % 2 == 0 else rng.uniform(0.0, total)
        run(program, delay)
        after = files(logs)
        if PENDING in after or (after.get(NAMES[0], 0) >= LIMIT and after != before):
            kills_in_rotation += 1
        run(program)
        found = check(logs, expected, removed, round_number)
        violations += [f"round {round_number}: {v}" for v in found]
    print(f"seed {seed}: {rounds} rounds, rotation window {window[0] * 1000:.0f}-{window[1] * 1000:.0f} ms "
          f"of {total * 1000:.0f} ms, {kills_in_rotation} kills inside the rotation, {len(violations)} violations")
    for v in violations[:20]:
        print("  " + v)
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
