#!/usr/bin/env bash
# Builds what the benchmarks need (build/bench-native-release, and build/bench-win or, on a host that
# cannot run 32-bit programs, build/bench-win64), generates the data (build/bench-data), runs the
# benchmarks and prints their ratios with MET or MISSED. Its first line names the Windows build and
# Wine loader every figure under Wine comes from. Exits 0 when every benchmark ran, whether or not its
# target was met; 1 when one could not run. A run that Wine ended by a signal or with status 1 is
# started again (see bench_record_failed_run in bench-lib.sh); the summary lists those runs.
#
# Usage: bench/run-all.sh      (settings: see bench/bench-lib.sh and the benchmark scripts)
set -uo pipefail
BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/bench-lib.sh
. "$BENCH_DIR/bench-lib.sh"

bench_windows_line

# Build both trees first, so that no compile runs while something is being timed.
bench_build_native || exit 1
bench_build_windows || exit 1
export BENCH_SKIP_BUILD=1
export BENCH_ROTATION_ROUNDS=${BENCH_ROTATION_ROUNDS:-100} BENCH_ROTATION_SEEDS=${BENCH_ROTATION_SEEDS:-$RANDOM}
rm -f "$BENCH_REPEATED_RUNS"

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "Machine: $(nproc) cores ($cpu), $(uname -sr), $(wine --version)"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"

summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
failed=0
for benchmark in access-log-scan logger startup config-load select-rows criteria-literal xml-load xml-references xml-nested \
  download rate-limit resume resume-soak rotation-kill-soak; do
  echo
  if ! "$BENCH_DIR/$benchmark.sh" | tee -a "$summary"; then
    echo "$benchmark: FAILED TO RUN"
    failed=1
  fi
done

echo
echo "Summary ($BENCH_WIN_BITS-bit Windows build under $BENCH_WINE; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg))"
grep -E 'MET|MISSED' "$summary" || true
if [ -s "$BENCH_REPEATED_RUNS" ]; then
  echo "Runs started again because Wine ended a run by a signal or with status 1: $(wc -l <"$BENCH_REPEATED_RUNS")"
  sed 's/^/  /' "$BENCH_REPEATED_RUNS"
else
  echo "Runs started again because Wine ended a run by a signal or with status 1: none"
fi
exit "$failed"
