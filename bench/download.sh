#!/usr/bin/env bash
# Whole download: a 256 MiB file of random bytes from the local test server, through the agent's
# whole-file download (vxbench_download.exe whole: InternetGetRequestEx, body into a temporary file
# beside the destination, then moved onto it) under Wine, against native curl writing the same file.
# Both destinations are on the Linux disk. Rounds alternate curl and ours (one run each), so that a
# spell of load from other work falls on both. Two figures:
#   (a) the whole process, timed by hyperfine (-N): for ours including Wine's process start-up;
#   (b) the transfer alone: the time of the call that ours prints, and curl's own time_total.
# For information a third contender, receive (vxbench_download.exe receive), reads the same response
# the same way through Wine's WinHTTP and drops it: the floor of any WinHTTP download under Wine.
# Target: ours at least 0.5x curl's throughput, judged on the medians of (a).
# A first untimed run of each (it also warms the page cache) checks that both downloads are
# byte-identical to the source (sha256).
#
# Usage: bench/download.sh
#   BENCH_DOWNLOAD_ROUNDS (5) timed rounds; BENCH_DOWNLOAD_SKIP_RECEIVE=1 leaves the floor out;
#   BENCH_DOWNLOAD_PIN=0 lets the scheduler place client, wineserver and server (by default the
#   client and the wineserver share the first CPU and the server has the last); see also
#   bench-lib.sh. The source file is generated once and kept in $BENCH_DATA/download.
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

ROUNDS=${BENCH_DOWNLOAD_ROUNDS:-5}
TARGET=0.5
SIZE=$((256 * 1024 * 1024))
WORK=$BENCH_DATA/download
SERVER_ROOT=$WORK/server
NAMESPACE=dl
SOURCE=$SERVER_ROOT/$NAMESPACE/random-256m.bin
OUT=$WORK/out
RESULTS=$BENCH_RESULTS/download

bench_windows_line
bench_build_windows
bench_stage_windows_programs

mkdir -p "$SERVER_ROOT/$NAMESPACE" "$OUT" "$RESULTS"
if [ ! -f "$SOURCE" ] || [ "$(stat -c %s "$SOURCE")" != "$SIZE" ]; then
  bench_log "download: generating $SOURCE"
  head -c "$SIZE" /dev/urandom >"$SOURCE.part"
  mv "$SOURCE.part" "$SOURCE"
fi
rm -f "$RESULTS"/*.json "$RESULTS"/*.txt "$SERVER_ROOT/$NAMESPACE/requests.log"

cleanup() {
  "$BENCH_ROOT/tests/server/stop.sh" "$SERVER_ROOT"
  rm -f "$OUT"/*
  bench_wine_stop
}
bench_wine_start
trap cleanup EXIT
"$BENCH_ROOT/tests/server/start.sh" "$SERVER_ROOT" >/dev/null
port=$(sed -n 's/^http=//p' "$SERVER_ROOT/ports.txt")

# The client (curl, or the Windows program with its wineserver) on the first CPU, the server on the
# last: one placement for every run (see bench_pin_wineserver).
pin=()
if [ "${BENCH_DOWNLOAD_PIN:-1}" = 1 ] && [ "$(nproc)" -ge 2 ]; then
  bench_pin_wineserver 0 || bench_log "download: no wineserver of the prefix found to pin"
  taskset -a -p -c "$(($(nproc) - 1))" "$(cat "$SERVER_ROOT/server.pid")" >/dev/null
  pin=(taskset -c 0)
fi

bench_check_download_mode

url=http://127.0.0.1:$port/$NAMESPACE/random-256m.bin
curl_out=$OUT/curl.bin
ours_out=$OUT/ours.bin
ours_windows=$(winepath -w "$ours_out")
# Single quotes keep the backslashes of the Windows path through hyperfine's word splitting.
declare -A commands=(
  [curl]="curl -s -o $curl_out -w 'time_total=%{time_total}\n' $url"
  [ours]="$BENCH_WINE $BENCH_BIN/vxbench_download.exe whole 127.0.0.1 $port /$NAMESPACE/random-256m.bin '$ours_windows'"
  [receive]="$BENCH_WINE $BENCH_BIN/vxbench_download.exe receive 127.0.0.1 $port /$NAMESPACE/random-256m.bin NUL"
)

# One run of one contender: hyperfine's JSON for (a), the program's own output for (b).
run_once() {
  local name=$1 label=$2 command=$3
  rm -f "$curl_out" "$ours_out"
  bench_run_once "$RESULTS/$label" "$name" "$command" "${pin[@]}" || return 1
}

bench_log "download: checking both downloads against the source (sha256)"
source_sum=$(sha256sum <"$SOURCE" | cut -d' ' -f1)
run_once curl check-curl "${commands[curl]}"
curl_sum=$(sha256sum <"$curl_out" | cut -d' ' -f1)
run_once ours check-ours "${commands[ours]}"
ours_sum=$(sha256sum <"$ours_out" | cut -d' ' -f1)
if [ "$curl_sum" != "$source_sum" ] || [ "$ours_sum" != "$source_sum" ]; then
  echo "a download differs from the source: source $source_sum, curl $curl_sum, ours $ours_sum" >&2
  exit 1
fi
rm -f "$RESULTS"/check-*

contenders=(curl ours)
[ "${BENCH_DOWNLOAD_SKIP_RECEIVE:-0}" = 1 ] || contenders+=(receive)
for round in $(seq 1 "$ROUNDS"); do
  bench_log "download: round $round of $ROUNDS"
  for name in "${contenders[@]}"; do
    run_once "$name" "$name-$round" "${commands[$name]}"
  done
done

echo "Whole download of 256 MiB from the local test server (ours and receive under Wine, warm wineserver)"
beyond=()
[[ " ${contenders[*]} " == *" receive "* ]] &&
  beyond=(--beyond "ours:receive:ours beyond receiving (writing the temporary file and moving it)" --floor ours:receive=0.9)
python3 "$BENCH_ROOT/bench/transfer_summary.py" --size "$SIZE" --results "$RESULTS" --reference curl \
  --target "ours=$TARGET" "${beyond[@]}" "${contenders[@]}"
