#!/usr/bin/env bash
# Rotation kill soak: vxprereqhandler.exe is killed at random moments of its start-up rotation (half
# of them inside the rotation's window, measured first), then run once more to completion; after
# every round the log files are checked for a torn copy, a copy twice, a lost line and leftovers
# (bench/rotation_kill_soak.py). Not a timed test: run it by hand; figures go to docs/benchmarks.md.
#
# Usage: bench/rotation-kill-soak.sh [ROUNDS (120)] [SEEDS ("1 2 3")]
#   The 32-bit program where the host runs 32-bit programs, else the 64-bit build; see bench-lib.sh.
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

rounds=${1:-120}
seeds=${2:-1 2 3}
AGENT_DIR=$BENCH_DATA/rotation-soak-agent

# shellcheck source=scripts/wine-env.sh
. "$BENCH_ROOT/scripts/wine-env.sh" "$BENCH_DATA/wineprefix" auto
if [ "$VX_WINE_BITS" = 32 ]; then preset=windows build=$BENCH_WIN_BUILD; else preset=windows64 build=${BENCH_WIN64_BUILD:-$BENCH_ROOT/build/bench-win64}; fi
if [ "${BENCH_SKIP_BUILD:-0}" != 1 ]; then
  bench_log "building vxprereqhandler ($preset) in $build"
  (cd "$BENCH_ROOT" && { [ -f "$build/build.ninja" ] || cmake --preset "$preset" -B "$build" >/dev/null; } &&
    cmake --build "$build" -j2 --target vxprereqhandler >/dev/null)
fi
mkdir -p "$BENCH_BIN" "$AGENT_DIR/logs"
cp "$build/src/handler/vxprereqhandler.exe" "$BENCH_BIN/vxprereqhandler-soak.exe"

wine_session_start || true
trap wine_session_stop EXIT
# winepath would start the 32-bit loader; Wine maps / to drive Z:.
bench_reg_add "$BENCH_AGENT_KEY" /v VXAgentInstallDir /d "Z:${AGENT_DIR//\//\\}\\"

status=0
for seed in $seeds; do
  python3 "$BENCH_ROOT/bench/rotation_kill_soak.py" "$BENCH_BIN/vxprereqhandler-soak.exe" "$AGENT_DIR/logs" \
    "$rounds" "$seed" || status=1
done
exit $status
