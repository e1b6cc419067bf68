#!/usr/bin/env bash
# Selections with criteria: SelectRows with three comparisons ("ID >= 1000 and SCORE < 500.5 and
# CATEGORY != 'C'") over 100,000 rows of a defined table, in rows per second, beside a plain loop
# that tests the same conditions on the stored values; and one parse of the criteria against its
# evaluation over 10,000 rows, measured alternately in one program. Target: parsing at most 5% of
# the evaluation (ratio <= 0.05).
# Primary figure: the host build; second figure: the Windows build under Wine.
#
# Usage: bench/select-rows.sh   (BENCH_SELECT_ROWS, BENCH_SELECT_REPEATS, BENCH_SELECT_SKIP_WINE=1;
#                                see also bench-lib.sh)
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

[ "${BENCH_SELECT_SKIP_WINE:-0}" = 1 ] || bench_windows_line
ROWS=${BENCH_SELECT_ROWS:-100000}
REPEATS=${BENCH_SELECT_REPEATS:-7}
TARGET=0.05

verdicts() {
  awk -v target="$TARGET" '
    /^select / { print "  " $0 }
    /^parse_vs_evaluation / {
      print "  " $0
      for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      printf "  parse / evaluation of %s rows: %.5f   target <= %s: %s\n", v["rows"], v["ratio"], target,
             (v["ratio"] <= target ? "MET" : "MISSED")
    }'
}

if [ "${BENCH_SKIP_BUILD:-0}" != 1 ]; then
  bench_log "building vxbench_select_rows in $BENCH_NATIVE_BUILD"
  (cd "$BENCH_ROOT" &&
    { [ -f "$BENCH_NATIVE_BUILD/build.ninja" ] ||
      cmake --preset native-release -B "$BENCH_NATIVE_BUILD" >/dev/null; } &&
    cmake --build "$BENCH_NATIVE_BUILD" -j2 --target vxbench_select_rows >/dev/null)
fi
bench_log "select rows, host build: $ROWS rows"
native=$("$BENCH_NATIVE_BUILD/bench/vxbench_select_rows" "$ROWS" "$REPEATS")
echo "Select rows with criteria, host build (medians)"
printf '%s\n' "$native" | verdicts

if [ "${BENCH_SELECT_SKIP_WINE:-0}" != 1 ]; then
  if [ "${BENCH_SKIP_BUILD:-0}" != 1 ]; then
    bench_log "building vxbench_select_rows in $BENCH_WIN_BUILD"
    (cd "$BENCH_ROOT" &&
      { [ -f "$BENCH_WIN_BUILD/build.ninja" ] ||
        cmake --preset "$BENCH_WIN_PRESET" -B "$BENCH_WIN_BUILD" >/dev/null; } &&
      cmake --build "$BENCH_WIN_BUILD" -j2 --target vxbench_select_rows >/dev/null)
  fi
  mkdir -p "$BENCH_BIN"
  cp "$BENCH_WIN_BUILD/bench/vxbench_select_rows.exe" "$BENCH_BIN/"
  bench_wine_start
  trap bench_wine_stop EXIT
  bench_log "select rows, Windows build under Wine: $ROWS rows"
  wine_output=$(bench_wine_tool "$BENCH_BIN/vxbench_select_rows.exe" "$ROWS" "$REPEATS" | tr -d '\r')
  echo "Select rows with criteria, $BENCH_WIN_BITS-bit Windows build under Wine (medians; second figure)"
  printf '%s\n' "$wine_output" | verdicts
fi
