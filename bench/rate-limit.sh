#!/usr/bin/env bash
# Rate-limited download pacing with the real clock: a 2,000,000-byte file from the local test server
# through the agent's rate-limited download (vxbench_download.exe rate: InternetGetRequestByBitrate)
# under Wine at 500 KBps. That rate asks for blocks of 500 x 500 = 250,000 bytes, 8 blocks; a block
# that arrives in under 450 ms is padded to 600 ms, so the pacing rule's rate for fast blocks is
# 250,000 bytes per 0.6 s = 416,667 B/s. Each run's achieved rate is the file's size over the time of
# the call the program prints; every run must bring the whole file (sha256) in one HEAD and 8 ranged
# GETs. Target: the achieved rate within 5% of the rule's (median of the runs).
#
# Usage: bench/rate-limit.sh
#   BENCH_RATE_RUNS (3) runs; see also bench-lib.sh. The source file is kept in $BENCH_DATA/rate-limit.
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

RUNS=${BENCH_RATE_RUNS:-3}
SIZE=2000000
RATE_KBPS=500
BLOCK=$((RATE_KBPS * 500))
BLOCKS=$(((SIZE + BLOCK - 1) / BLOCK))
TOLERANCE=0.05
WORK=$BENCH_DATA/rate-limit
SERVER_ROOT=$WORK/server
NAMESPACE=rate
SOURCE=$SERVER_ROOT/$NAMESPACE/random-2000000.bin
DESTINATION=$WORK/out/rate.bin

bench_windows_line
bench_build_windows
bench_stage_windows_programs

mkdir -p "$SERVER_ROOT/$NAMESPACE" "$WORK/out"
if [ ! -f "$SOURCE" ] || [ "$(stat -c %s "$SOURCE")" != "$SIZE" ]; then
  head -c "$SIZE" /dev/urandom >"$SOURCE.part"
  mv "$SOURCE.part" "$SOURCE"
fi
source_sum=$(sha256sum <"$SOURCE" | cut -d' ' -f1)

cleanup() {
  "$BENCH_ROOT/tests/server/stop.sh" "$SERVER_ROOT"
  rm -f "$DESTINATION"
  bench_wine_stop
}
bench_wine_start
trap cleanup EXIT
"$BENCH_ROOT/tests/server/start.sh" "$SERVER_ROOT" >/dev/null
port=$(sed -n 's/^http=//p' "$SERVER_ROOT/ports.txt")
bench_check_download_mode
destination_windows=$(winepath -w "$DESTINATION")

seconds=()
for run in $(seq 1 "$RUNS"); do
  bench_log "rate-limit: run $run of $RUNS"
  rm -f "$DESTINATION" "$SERVER_ROOT/$NAMESPACE/requests.log"
  output=$(bench_wine_tool "$BENCH_BIN/vxbench_download.exe" rate 127.0.0.1 "$port" "/$NAMESPACE/random-2000000.bin" \
    "$destination_windows" "$RATE_KBPS" | tr -d '\r') || {
    echo "the rate-limited download failed: $output" >&2
    exit 1
  }
  echo "  run $run: $output"
  if [ "$(sha256sum <"$DESTINATION" | cut -d' ' -f1)" != "$source_sum" ]; then
    echo "the downloaded file differs from the source" >&2
    exit 1
  fi
  # The requests as the server saw them: the HEAD probe, then one GET per block.
  heads=$(grep -c '^HEAD ' "$SERVER_ROOT/$NAMESPACE/requests.log" || true)
  ranges=$(grep -c '^Range: bytes=' "$SERVER_ROOT/$NAMESPACE/requests.log" || true)
  if [ "$heads" != 1 ] || [ "$ranges" != "$BLOCKS" ]; then
    echo "expected 1 HEAD and $BLOCKS ranged GETs, the server saw $heads and $ranges" >&2
    exit 1
  fi
  seconds+=("$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$output")")
done

echo "Rate-limited download of $SIZE bytes at $RATE_KBPS KBps ($BLOCKS blocks of $BLOCK bytes), under Wine"
python3 - "$SIZE" "$BLOCK" "$TOLERANCE" "${seconds[@]}" <<'EOF'
import statistics, sys

size, block, tolerance = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
seconds = [float(value) for value in sys.argv[4:]]
rule = block / 0.6
rates = [size / value for value in seconds]
for value, rate in zip(seconds, rates):
    print(f"  {value:.3f} s   {rate:9.0f} B/s   deviation {(rate - rule) / rule:+.2%}")
median = statistics.median(rates)
worst = max(rates, key=lambda rate: abs(rate - rule))
deviation = (median - rule) / rule
print(f"  pacing rule {rule:.0f} B/s; achieved (median of {len(rates)}) {median:.0f} B/s,"
      f" deviation {deviation:+.2%} (worst run {(worst - rule) / rule:+.2%})"
      f"   target within {tolerance:.0%}: {'MET' if abs(deviation) <= tolerance else 'MISSED'}")
EOF
