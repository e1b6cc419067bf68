#!/usr/bin/env bash
# Logger: 1,000,000 lines of 100 bytes, one flush per line, with 1 and with 2 threads, through
# vx::LogInfo against a plain fwrite + fflush loop of a preformatted line of the same size (its
# threads share one std::mutex). Both run alternately in one program; each figure is the median of
# the repetitions. Targets: the logger at least 1.0x the loop's lines per second with 1 thread (one
# formatted, flushed line costs no more than the loop's), at least 0.8x with 2 threads.
# Primary figure: the host build; second figure: the Windows build under Wine (bench-lib.sh picks it).
#
# Usage: bench/logger.sh      (BENCH_LOGGER_LINES, BENCH_LOGGER_REPEATS, BENCH_LOGGER_WINE_REPEATS,
#                              BENCH_LOGGER_SKIP_WINE=1; see also bench-lib.sh)
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

LINES=${BENCH_LOGGER_LINES:-1000000}
TARGET_ONE_THREAD=1.0
TARGET_THREADS=0.8

verdicts() {
  awk -v one="$TARGET_ONE_THREAD" -v more="$TARGET_THREADS" -v label="$1" '
    /^threads=/ {
      print "  " $0
      for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      target = (v["threads"] == 1 ? one : more) + 0
      printf "  ratio log / loop (%s, %s thread%s): %.2f   target >= %s: %s\n", label, v["threads"],
             v["threads"] == 1 ? "" : "s", v["ratio"], target, (v["ratio"] + 0 >= target ? "MET" : "MISSED")
    }'
}

[ "${BENCH_LOGGER_SKIP_WINE:-0}" = 1 ] || bench_windows_line
bench_build_native
bench_log "logger, host build: $LINES lines"
mkdir -p "$BENCH_DATA"
native=$("$BENCH_NATIVE_BUILD/bench/vxbench_logger" "$BENCH_DATA/logger-native" "$LINES" "${BENCH_LOGGER_REPEATS:-5}")
echo "Logger, host build (lines per second, medians)"
printf '%s\n' "$native" | verdicts native

if [ "${BENCH_LOGGER_SKIP_WINE:-0}" != 1 ]; then
  bench_build_windows
  bench_stage_windows_programs
  bench_wine_start
  trap bench_wine_stop EXIT
  bench_log "logger, Windows build under Wine: $LINES lines"
  wine_output=$(bench_wine_tool "$BENCH_BIN/vxbench_logger.exe" "$(winepath -w "$BENCH_DATA/logger-wine")" "$LINES" \
    "${BENCH_LOGGER_WINE_REPEATS:-3}" | tr -d '\r')
  echo "Logger, $BENCH_WIN_BITS-bit Windows build under Wine (lines per second, medians; second figure)"
  printf '%s\n' "$wine_output" | verdicts wine
fi
rm -rf "$BENCH_DATA/logger-native" "$BENCH_DATA/logger-wine"
