#!/usr/bin/env bash
# Access-log scan: a 512 MiB patch-installation access log whose only evidence line is the last one,
# scanned in one hyperfine run (page cache warm) by
#   native   the handler's scanner in a host program reading the file with read()
#   wine     vxprereqhandler.exe under Wine, the whole run (start, registry, scan, log, and the two
#            uninstall launches, which start a stand-in MsiExec.exe that exits 0 at once)
#   rg       rg -i -F as a pipeline over the three term groups
#   grep     the same pipeline with grep -i -F
# Targets: native within 1.5x rg, wine within 3x rg (median times).
#
# Usage: bench/access-log-scan.sh
#   BENCH_KEEP_DATA=1 keeps the generated log; BENCH_SCAN_ROUNDS (3) x BENCH_SCAN_RUNS (4) timed runs
#   per command; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

SIZE_MIB=${BENCH_SCAN_SIZE_MIB:-512}
AGENT_DIR=$BENCH_DATA/scan-agent
LOG_FILE=$AGENT_DIR/logs/vxpatchinstallaccess.log
HANDLER_LOG=$AGENT_DIR/logs/vxprereqhandler.log

bench_windows_line
bench_build_native

if [ ! -f "$LOG_FILE" ]; then
  bench_log "generating a $SIZE_MIB MiB access log"
  python3 "$BENCH_ROOT/bench/generate_access_log.py" "$LOG_FILE" --size-mib "$SIZE_MIB"
fi

SCANNER="$BENCH_NATIVE_BUILD/bench/vxbench_access_log_scan"
RG="rg -i -F -e 500100 -e 30716 '$LOG_FILE' | rg -i -F -e 'APD Deploy' -e 'Patch test group' | rg -i -F -e 22-05-16 -e 22-05-15 -e 22-05-14 -e 22-05-13"
GREP="grep -i -F -e 500100 -e 30716 '$LOG_FILE' | grep -i -F -e 'APD Deploy' -e 'Patch test group' | grep -i -F -e 22-05-16 -e 22-05-15 -e 22-05-14 -e 22-05-13"
HANDLER="'$BENCH_WINE' '$BENCH_BIN/vxprereqhandler.exe'"

# Every contender must find the last line, and only it.
expected="patch=500100 deployment=\"APD Deploy\""
check() {
  local name=$1 output=$2
  if [ "$(printf '%s\n' "$output" | grep -c -F "$expected")" != 1 ]; then
    echo "$name did not find the evidence line: $output" >&2
    exit 1
  fi
}
check native "$("$SCANNER" "$LOG_FILE")"
check rg "$(bash -c "$RG")"
check grep "$(bash -c "$GREP")"

# The Windows program joins only once it has built and taken its path; the native figures are
# measured without it otherwise.
wine_status=0
start_handler() {
  bench_build_windows && bench_stage_windows_programs || return 1
  bench_wine_start
  trap bench_wine_stop EXIT
  bench_set_install_dir "$AGENT_DIR"
  rm -f "$HANDLER_LOG"
  local handler_output
  handler_output=$(bash -c "$HANDLER") || true
  case "$handler_output" in
    *"uninstallation error Code : 0"*) ;;
    *) echo "the handler did not decide to uninstall: $handler_output" >&2; return 1 ;;
  esac
  (check wine "$(grep -F 'InstallAccessLog :' "$HANDLER_LOG")")
}
contenders=(-n native "$SCANNER '$LOG_FILE'")
targets=(--target native=1.5)
if start_handler; then
  contenders+=(-n wine "$HANDLER")
  targets+=(--target wine=3 --info wine:native)
else
  echo "access-log scan: the Windows program could not run; native figures only" >&2
  wine_status=1
fi

mapfile -t results < <(bench_hyperfine access-log-scan "${BENCH_SCAN_ROUNDS:-3}" --warmup 1 \
  --runs "${BENCH_SCAN_RUNS:-4}" "${contenders[@]}" -n rg "$RG" -n grep "$GREP")
[ "${#results[@]}" -gt 0 ] || exit 1

echo "Access-log scan, $(stat -c %s "$LOG_FILE") bytes, evidence on the last line"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference rg "${targets[@]}" --info grep:rg "${results[@]}"

# The scan alone inside the handler under Wine: from the last line logged before the scan to the
# line that reports the evidence, over all runs (millisecond timestamps).
[ "$wine_status" != 0 ] || python3 - "$HANDLER_LOG" <<'EOF'
import re, statistics, sys
stamp = re.compile(r"^\[ \d+-\d+-\d+ (\d+):(\d+):(\d+):(\d+) \]")
def ms(line):
    h, m, s, f = map(int, stamp.match(line).groups())
    return ((h * 60 + m) * 60 + s) * 1000 + f
start, spans = None, []
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if "ErrorCode02 :" in line:
        start = ms(line)
    elif "InstallAccessLog :" in line and start is not None:
        spans.append((ms(line) - start) % 86400000)
        start = None
if spans:
    print(f"  scan phase inside the handler under Wine (from its log): median {statistics.median(spans)} ms, "
          f"min {min(spans)} ms, runs {len(spans)}")
EOF

if [ "${BENCH_KEEP_DATA:-0}" != 1 ]; then
  rm -f "$LOG_FILE"
  bench_log "deleted the generated log (BENCH_KEEP_DATA=1 keeps it)"
fi
exit "$wine_status"
