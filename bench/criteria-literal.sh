#!/usr/bin/env bash
# Parsing criteria with one long literal ("NAME = '<n characters>'"), n doubling from 1 to 8 MiB, host
# build: the time of each parse beside a copy of the same text, and the ratio of each time to the
# time of the half length. Target: each doubling within 2.2x (scanning is linear in the literal).
#
# Usage: bench/criteria-literal.sh
#   BENCH_CRITERIA_FIRST_MIB (1), BENCH_CRITERIA_LAST_MIB (8), BENCH_CRITERIA_REPETITIONS (3, median);
#   see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

bench_build_native
output=$("$BENCH_NATIVE_BUILD/bench/vxbench_criteria_literal" "${BENCH_CRITERIA_FIRST_MIB:-1}" \
  "${BENCH_CRITERIA_LAST_MIB:-8}" "${BENCH_CRITERIA_REPETITIONS:-3}")
echo "Criteria with one long literal"
echo "$output"
python3 - "$output" <<'EOF_PY'
import sys
worst = max(float(line.split("doubling=")[1]) for line in sys.argv[1].splitlines()[1:])
print(f"  largest doubling ratio: {worst:.2f}   target <= 2.2: {'MET' if worst <= 2.2 else 'MISSED'}")
EOF_PY
