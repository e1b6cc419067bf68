#!/usr/bin/env bash
# Start-up: wall time of vxprereqhandler.exe's no-op run under Wine (the agent directory has a logs
# directory but no access log: the handler starts logging, reads the registry, decides "Patch not
# installed", logs and exits 0) against an empty Windows program built with the same toolchain and
# flags, both with a warm persistent wineserver. Target: within 1.5x (median times).
# For information, an empty program with one stack-protected function (empty_guarded) shows what
# the MinGW stack-protector guard set-up adds to any hardened program's start-up under Wine.
#
# Usage: bench/startup.sh
#   BENCH_STARTUP_ROUNDS (6) x BENCH_STARTUP_RUNS (10) timed runs per program; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

AGENT_DIR=$BENCH_DATA/startup-agent

bench_build_windows
bench_stage_windows_programs
mkdir -p "$AGENT_DIR/logs"
rm -f "$AGENT_DIR/logs/vxpatchinstallaccess.log" "$AGENT_DIR/logs/vxprereqhandler.log"

bench_wine_start
trap bench_wine_stop EXIT
bench_set_install_dir "$AGENT_DIR"

output=$(wine "$BENCH_BIN/vxprereqhandler.exe" | tr -d '\r')
if [ "$output" != "Patch not installed by VX. No need to perform component uninstallation." ]; then
  echo "the handler did not take the no-op path: $output" >&2
  exit 1
fi

mapfile -t results < <(bench_hyperfine startup "${BENCH_STARTUP_ROUNDS:-6}" -N --warmup 3 \
  --runs "${BENCH_STARTUP_RUNS:-10}" -n handler "wine $BENCH_BIN/vxprereqhandler.exe" \
  -n empty "wine $BENCH_BIN/vxbench_empty_program.exe" -n empty_guarded "wine $BENCH_BIN/vxbench_empty_guarded.exe")
[ "${#results[@]}" -gt 0 ] || exit 1

echo "Start-up under Wine (warm wineserver)"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference empty --target handler=1.5 \
  --info empty_guarded:empty --info handler:empty_guarded "${results[@]}"
