#!/usr/bin/env bash
# Rotation kill soak: vxprereqhandler.exe is killed at random moments of its start-up rotation (half
# of them inside the rotation's window, measured first), then run once more to completion; after
# every round the log files are checked for a torn copy, a copy twice, a lost line and leftovers
# (bench/rotation_kill_soak.py). Prints MET when no round had a violation, else MISSED and the
# violations; exits 1 only when the soak could not run.
#
# Usage: bench/rotation-kill-soak.sh [ROUNDS] [SEEDS]
#   ROUNDS per seed: BENCH_ROTATION_ROUNDS, else 120; SEEDS: BENCH_ROTATION_SEEDS, else "1 2 3"
#   (bench/run-all.sh runs 100 rounds of one random seed).
#   The 32-bit program where the host runs 32-bit programs, else the 64-bit build; see bench-lib.sh.
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

rounds=${1:-${BENCH_ROTATION_ROUNDS:-120}}
seeds=${2:-${BENCH_ROTATION_SEEDS:-1 2 3}}
AGENT_DIR=$BENCH_DATA/rotation-soak-agent

bench_windows_line
if [ "${BENCH_SKIP_BUILD:-0}" != 1 ]; then
  bench_log "building vxprereqhandler in $BENCH_WIN_BUILD"
  (cd "$BENCH_ROOT" && { [ -f "$BENCH_WIN_BUILD/build.ninja" ] ||
    cmake --preset "$BENCH_WIN_PRESET" -B "$BENCH_WIN_BUILD" >/dev/null; } &&
    cmake --build "$BENCH_WIN_BUILD" -j2 --target vxprereqhandler >/dev/null)
fi
mkdir -p "$BENCH_BIN" "$AGENT_DIR/logs"
cp "$BENCH_WIN_BUILD/src/handler/vxprereqhandler.exe" "$BENCH_BIN/vxprereqhandler-soak.exe"

wine_session_start || true
trap wine_session_stop EXIT
bench_set_install_dir "$AGENT_DIR"

verdict=MET
for seed in $seeds; do
  output=$(python3 "$BENCH_ROOT/bench/rotation_kill_soak.py" "$BENCH_BIN/vxprereqhandler-soak.exe" "$AGENT_DIR/logs" \
    "$rounds" "$seed") || true
  printf '%s\n' "$output" >&2
  line=$(grep -E "^seed $seed: .* [0-9]+ violations$" <<<"$output" || true)
  if [ -z "$line" ]; then
    echo "the soak of seed $seed stopped before its summary" >&2
    exit 1
  fi
  [[ $line == *" 0 violations" ]] || verdict=MISSED
done
echo "Rotation kill soak under Wine ($rounds rounds per seed, seeds $seeds)"
echo "  no torn copy, no copy twice, no lost line, nothing left over: $verdict"
