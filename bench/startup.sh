#!/usr/bin/env bash
# Start-up: wall time of vxprereqhandler.exe's no-op run under Wine (the agent directory has a logs
# directory but no access log: the handler starts logging, reads the registry, decides "Patch not
# installed", logs and exits 0) against the start-up floor of a handler that logs
# (vxbench_startup_floor.exe: opens the agent's key, reads one value, appends one line to a file,
# prints one line), both in their shipped form (stripped as scripts/release.sh strips the release
# build), same toolchain and flags, warm persistent wineserver. Target: within 1.2x (medians).
# For information: the test build's handler (with its debug information) against the same floor,
# the floor against an empty program, and an empty program with one stack-protected function
# (empty_guarded: the MinGW stack-protector guard set-up a program pays without our own guard).
# The handler's own log gives, per run, the time between its "Log open time" and "Log close time"
# lines: the part of the run inside the log's window.
#
# Usage: bench/startup.sh
#   BENCH_STARTUP_ROUNDS (6) x BENCH_STARTUP_RUNS (10) timed runs per program; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

AGENT_DIR=$BENCH_DATA/startup-agent
HANDLER_LOG=$AGENT_DIR/logs/vxprereqhandler.log

bench_windows_line
bench_build_windows
bench_stage_windows_programs
mkdir -p "$AGENT_DIR/logs"
rm -f "$AGENT_DIR/logs/vxpatchinstallaccess.log" "$HANDLER_LOG" "$AGENT_DIR/logs/vxbench_startup_floor.log"

bench_wine_start
trap bench_wine_stop EXIT
bench_set_install_dir "$AGENT_DIR"

for handler in "$BENCH_SHIPPED_BIN/vxprereqhandler.exe" "$BENCH_BIN/vxprereqhandler.exe"; do
  output=$(bench_wine_tool "$handler" | tr -d '\r')
  if [ "$output" != "Patch not installed by VX. No need to perform component uninstallation." ]; then
    echo "the handler ($handler) did not take the no-op path: $output" >&2
    exit 1
  fi
done
output=$(bench_wine_tool "$BENCH_SHIPPED_BIN/vxbench_startup_floor.exe" | tr -d '\r')
if [ "$output" != "startup floor: done" ] || ! grep -q 'startup floor: one line' "$AGENT_DIR/logs/vxbench_startup_floor.log"; then
  echo "the start-up floor did not append its line: $output" >&2
  exit 1
fi
rm -f "$HANDLER_LOG"

mapfile -t results < <(bench_hyperfine startup "${BENCH_STARTUP_ROUNDS:-6}" -N --warmup 3 \
  --runs "${BENCH_STARTUP_RUNS:-10}" -n handler "$BENCH_WINE $BENCH_SHIPPED_BIN/vxprereqhandler.exe" \
  -n floor "$BENCH_WINE $BENCH_SHIPPED_BIN/vxbench_startup_floor.exe" \
  -n handler_test_build "$BENCH_WINE $BENCH_BIN/vxprereqhandler.exe" \
  -n empty "$BENCH_WINE $BENCH_SHIPPED_BIN/vxbench_empty_program.exe" \
  -n empty_guarded "$BENCH_WINE $BENCH_BIN/vxbench_empty_guarded.exe")
[ "${#results[@]}" -gt 0 ] || exit 1

echo "Start-up under Wine (warm wineserver; handler, floor and empty stripped as shipped)"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference floor --target handler=1.2 \
  --info handler_test_build:floor --info floor:empty --info empty_guarded:empty "${results[@]}"
python3 "$BENCH_ROOT/bench/log_window.py" "$HANDLER_LOG" "Log open time:" "Log close time:" \
  "inside the handler's log window (both handlers' runs)"
