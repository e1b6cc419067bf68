#!/usr/bin/env bash
# Resumable download against the whole download: a 256 MiB file of random bytes from the local test
# server through vxbench_download.exe whole (InternetGetRequestEx) under Wine, the same program and
# the same call twice over, with the agent's "DownloadMode" set to
#   0, whole: the body gathered into 1 MiB writes of a temporary file beside the destination, which
#      is then moved onto it;
#   1, resumable: a first GET for the headers, a ranged GET from byte 0, the body appended to a
#      partial file under the installation directory each time 1 MiB (the default "InterSaveByteLimit")
#      is gathered, with its size recorded in the registry, then the partial file moved onto the
#      destination, file and metadata removed and an access-log line written.
# Both destinations are on the Linux disk. Rounds alternate the two modes (one run each), so that a
# spell of load from other work falls on both. Two figures, as in bench/download.sh: (a) the whole
# process timed by hyperfine (-N), (b) the time of the call the program prints.
# Target: resumable at least 0.9x the whole download's throughput, judged on the medians of (a).
# A first untimed run of each checks that both destinations are byte-identical to the source (sha256);
# every resumable run must leave its repository directory empty.
#
# Usage: bench/resume.sh
#   BENCH_RESUME_ROUNDS (5) timed rounds; BENCH_RESUME_SAVE_LIMIT (unset: the default 1 MiB) sets
#   "InterSaveByteLimit" in bytes, to see what the appends cost; BENCH_DOWNLOAD_PIN=0 lets the
#   scheduler place client, wineserver and server (see bench/download.sh); see also bench-lib.sh.
#   The source file is generated once and kept in $BENCH_DATA/resume.
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

ROUNDS=${BENCH_RESUME_ROUNDS:-5}
TARGET=0.9
SIZE=$((256 * 1024 * 1024))
WORK=$BENCH_DATA/resume
SERVER_ROOT=$WORK/server
NAMESPACE=rs
SOURCE=$SERVER_ROOT/$NAMESPACE/random-256m.bin
AGENT_DIR=$WORK/agent
OUT=$WORK/out
RESULTS=$BENCH_RESULTS/resume

bench_windows_line
bench_build_windows
bench_stage_windows_programs

mkdir -p "$SERVER_ROOT/$NAMESPACE" "$OUT" "$RESULTS" "$AGENT_DIR"
if [ ! -f "$SOURCE" ] || [ "$(stat -c %s "$SOURCE")" != "$SIZE" ]; then
  bench_log "resume: generating $SOURCE"
  head -c "$SIZE" /dev/urandom >"$SOURCE.part"
  mv "$SOURCE.part" "$SOURCE"
fi
rm -rf "$RESULTS"/*.json "$RESULTS"/*.txt "$SERVER_ROOT/$NAMESPACE/requests.log" "$AGENT_DIR/DownloadRepository" \
  "$AGENT_DIR/logs"

set_download_mode() {
  bench_reg_add "$BENCH_AGENT_KEY\\Settings" /v DownloadMode /t REG_DWORD /d "$1"
}
cleanup() {
  "$BENCH_ROOT/tests/server/stop.sh" "$SERVER_ROOT"
  rm -f "$OUT"/*
  # The other download benchmarks refuse to run with DownloadMode 1 left in the prefix.
  wine reg delete "$BENCH_AGENT_KEY\\Settings" /v DownloadMode /f /reg:32 >/dev/null 2>&1 || true
  bench_wine_stop
}
bench_wine_start
trap cleanup EXIT
"$BENCH_ROOT/tests/server/start.sh" "$SERVER_ROOT" >/dev/null
port=$(sed -n 's/^http=//p' "$SERVER_ROOT/ports.txt")

pin=()
if [ "${BENCH_DOWNLOAD_PIN:-1}" = 1 ] && [ "$(nproc)" -ge 2 ]; then
  bench_pin_wineserver 0 || bench_log "resume: no wineserver of the prefix found to pin"
  taskset -a -p -c "$(($(nproc) - 1))" "$(cat "$SERVER_ROOT/server.pid")" >/dev/null
  pin=(taskset -c 0)
fi

# The resumable download's settings as a first download on a computer finds them: no metadata key
# (it is created with the default save limit), the installation directory set.
wine reg delete "$BENCH_AGENT_KEY\\FileMetaData" /f /reg:32 >/dev/null 2>&1 || true
if [ -n "${BENCH_RESUME_SAVE_LIMIT:-}" ]; then
  bench_reg_add "$BENCH_AGENT_KEY\\FileMetaData" /v InterSaveByteLimit /t REG_DWORD /d "$BENCH_RESUME_SAVE_LIMIT"
fi
save_limit=${BENCH_RESUME_SAVE_LIMIT:-1048576}
bench_set_install_dir "$AGENT_DIR"

out=$OUT/file.bin
out_windows=$(winepath -w "$out")
command="$BENCH_WINE $BENCH_BIN/vxbench_download.exe whole 127.0.0.1 $port /$NAMESPACE/random-256m.bin '$out_windows'"
declare -A modes=([whole]=0 [resumable]=1)

# One run in one mode: hyperfine's JSON for (a), the program's output for (b).
run_once() {
  local name=$1 label=$2
  set_download_mode "${modes[$name]}"
  rm -f "$out"
  bench_run_once "$RESULTS/$label" "$name" "$command" "${pin[@]}" || return 1
  if [ "$name" = resumable ] && [ -n "$(ls -A "$AGENT_DIR/DownloadRepository" 2>/dev/null)" ]; then
    echo "the resumable run $label left files in $AGENT_DIR/DownloadRepository" >&2
    return 1
  fi
}

bench_log "resume: checking both modes against the source (sha256)"
source_sum=$(sha256sum <"$SOURCE" | cut -d' ' -f1)
for name in whole resumable; do
  run_once "$name" "check-$name"
  sum=$(sha256sum <"$out" | cut -d' ' -f1)
  if [ "$sum" != "$source_sum" ]; then
    echo "the $name download differs from the source: source $source_sum, $name $sum" >&2
    exit 1
  fi
done
# The resumable check run must have gone the resumable way: a ranged GET after the first GET.
if ! grep -q '^Range: bytes=0-' "$SERVER_ROOT/$NAMESPACE/requests.log"; then
  echo "DownloadMode 1 made no ranged request: the resumable download did not run" >&2
  exit 1
fi
rm -f "$RESULTS"/check-*

for round in $(seq 1 "$ROUNDS"); do
  bench_log "resume: round $round of $ROUNDS"
  for name in whole resumable; do
    run_once "$name" "$name-$round"
  done
done
successes=$(grep -c $'\t'"/$NAMESPACE/random-256m.bin" "$AGENT_DIR/logs/downloadSuccessAccess.log" || true)

echo "Resumable (save limit $save_limit bytes) against whole download of 256 MiB from the local test server," \
  "under Wine (warm wineserver)"
echo "  resumable runs logged as successful in downloadSuccessAccess.log: $successes of $((ROUNDS + 1))"
python3 "$BENCH_ROOT/bench/transfer_summary.py" --size "$SIZE" --results "$RESULTS" --reference whole \
  --target "resumable=$TARGET" --beyond "resumable:whole:resumable beyond whole" whole resumable
