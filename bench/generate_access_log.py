#!/usr/bin/env python3
"""Writes a patch-installation access log for the scan benchmark.

The log is made of realistic agent lines (dates, times, KB and patch numbers, computer names,
deployment and policy names, statuses, CRLF line ends) with many near misses: lines holding a patch
number term but no deployment term, lines naming a deployment term on another date, lines with all
but one of the three term groups. Only the very last line is evidence (a patch term, a deployment
term and a date term on one line), so a scanner has to read the whole file.

Deterministic: the same seed and size give the same bytes.

Usage: generate_access_log.py OUTPUT [--size-mib N] [--seed S]
"""

import argparse
import os
import random
import sys

PATCH_TERMS = ("500100", "30716")
DEPLOYMENT_TERMS = ("apd deploy", "patch test group")
DATE_TERMS = ("22-05-16", "22-05-15", "22-05-14", "22-05-13")

COMPUTER_PREFIXES = ("WKS-FIN", "WKS-HR", "LAP-SALES", "SRV-SQL", "SRV-APP", "SRV-WEB", "VDI-POOL", "KIOSK")
SITES = ("BER", "LON", "NYC", "SGP", "MUC", "PAR")
OTHER_DEPLOYMENTS = (
    "Monthly Servers",
    "Workstations Ring 1",
    "Workstations Ring 2",
    "Pilot Group",
    "Critical Only",
    "Emergency Zero-Day",
    "Third Party Browsers",
    "SQL Maintenance Window",
    "APD Rollout",
    "Deploy Test Ring",
    "Patch group test",
)
NEAR_DEPLOYMENTS = ("APD Deploy", "apd deploy", "APD DEPLOY", "Patch test group", "PATCH TEST GROUP",
                    "Patch Test Group")
POLICIES = ("Default Patch Policy", "Servers - Reboot Suppressed", "Laptops - Business Hours", "Quiet Install")
STATUSES = ("Installed", "Install pending", "Download complete", "Failed (0x80070643)", "Reboot required",
            "Superseded", "Not applicable", "Queued")
ACTIONS = ("install", "download", "verify", "scan", "rollback")
LEVELS = ("INFO", "INFO", "INFO", "WARN", "DEBUG", "ERROR")
TARGET_DAYS = (13, 14, 15, 16)
OTHER_DAYS = tuple(day for day in range(1, 29) if day not in TARGET_DAYS)


def is_evidence(line: str) -> bool:
    lowered = line.lower()
    return (any(term in lowered for term in PATCH_TERMS) and any(term in lowered for term in DEPLOYMENT_TERMS)
            and any(term in lowered for term in DATE_TERMS))


class LineMaker:
    def __init__(self, seed: int):
        self.rng = random.Random(seed)

    def plain_patch_id(self) -> str:
        # A patch number that holds no patch term.
        while True:
            value = str(self.rng.randrange(100000, 999999))
            if not any(term in value for term in PATCH_TERMS):
                return value

    def term_patch_id(self) -> str:
        term = self.rng.choice(PATCH_TERMS)
        return term if term == "500100" else "1" + term  # "130716": the term inside a longer number

    def near_patch_id(self) -> str:
        return self.rng.choice(("500101", "500010", "501100", "30717", "30761", "37016", "3071", "50010"))

    def date(self, target: bool, year: int = 2022, month: int = 5) -> str:
        day = self.rng.choice(TARGET_DAYS if target else OTHER_DAYS)
        return f"{year:04d}-{month:02d}-{day:02d}"

    def other_date(self) -> str:
        # Days of other months and years, including the target days of other months.
        rng = self.rng
        kind = rng.randrange(4)
        if kind == 0:
            return self.date(False)
        if kind == 1:
            return self.date(True, month=rng.choice((4, 6, 11)))
        if kind == 2:
            return self.date(True, year=rng.choice((2021, 2023)))
        return self.date(False, month=rng.randrange(1, 13))

    def time(self) -> str:
        rng = self.rng
        return f"{rng.randrange(24):02d}:{rng.randrange(60):02d}:{rng.randrange(60):02d}.{rng.randrange(1000):03d}"

    def computer(self) -> str:
        rng = self.rng
        return f"{rng.choice(COMPUTER_PREFIXES)}-{rng.choice(SITES)}-{rng.randrange(1, 5000):04d}"

    def kb(self) -> str:
        return f"KB{self.rng.randrange(4000000, 5999999)}"

    def line(self, date: str, patch_id: str, deployment: str) -> str:
        rng = self.rng
        return (f"{date} {self.time()} [{rng.choice(LEVELS)}] pid={rng.randrange(1000, 65000)} "
                f"computer={self.computer()} action={rng.choice(ACTIONS)} {self.kb()} patch={patch_id} "
                f"deployment=\"{deployment}\" policy=\"{rng.choice(POLICIES)}\" status={rng.choice(STATUSES)}")

    def next_line(self) -> str:
        rng = self.rng
        kind = rng.randrange(100)
        if kind < 55:  # ordinary traffic on any day
            text = self.line(self.date(rng.random() < 0.3), self.plain_patch_id(), rng.choice(OTHER_DEPLOYMENTS))
        elif kind < 70:  # patch term on a target day, other deployment
            text = self.line(self.date(True), self.term_patch_id(), rng.choice(OTHER_DEPLOYMENTS))
        elif kind < 80:  # deployment term on a target day, other patch
            text = self.line(self.date(True), rng.choice((self.plain_patch_id(), self.near_patch_id())),
                             rng.choice(NEAR_DEPLOYMENTS))
        elif kind < 90:  # patch and deployment terms on another date
            text = self.line(self.other_date(), self.term_patch_id(), rng.choice(NEAR_DEPLOYMENTS))
        elif kind < 95:  # near-miss spellings of every group
            text = self.line(self.date(True, year=2021, month=6), self.near_patch_id(),
                             rng.choice(("APD-Deploy", "APD  Deploy", "Patch test grp", "Patch-test group")))
        else:  # agent housekeeping lines
            text = (f"{self.date(rng.random() < 0.5)} {self.time()} [INFO] pid={rng.randrange(1000, 65000)} "
                    f"scan cycle finished on {self.computer()}: {rng.randrange(200)} patches checked, "
                    f"{rng.randrange(20)} missing, next cycle in {rng.randrange(5, 240)} min")
        return text

    def next_non_evidence_line(self) -> str:
        # A random pid, KB or computer number can complete a near miss now and then: draw again.
        while True:
            text = self.next_line()
            if not is_evidence(text):
                return text


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--size-mib", type=int, default=512)
    parser.add_argument("--seed", type=int, default=20220516)
    args = parser.parse_args()

    maker = LineMaker(args.seed)
    evidence = ("2022-05-16 23:59:58.911 [INFO] pid=4242 computer=SRV-SQL-BER-0017 action=install KB5013942 "
                "patch=500100 deployment=\"APD Deploy\" policy=\"Default Patch Policy\" status=Installed\r\n")
    assert is_evidence(evidence)
    target = args.size_mib * 1024 * 1024
    body_limit = target - len(evidence)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    written = 0
    with open(args.output, "wb") as out:
        while written < body_limit:
            chunk = "\r\n".join(maker.next_non_evidence_line() for _ in range(20000)) + "\r\n"
            data = chunk.encode("ascii")
            if written + len(data) > body_limit:
                # Cut at a line end so that every line but the last is whole.
                data = data[:data.rfind(b"\n", 0, body_limit - written) + 1]
                if not data:
                    break
            out.write(data)
            written += len(data)
        out.write(evidence.encode("ascii"))
        written += len(evidence)
    print(f"{args.output}: {written} bytes", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
