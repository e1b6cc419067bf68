#!/usr/bin/env bash
# Resume soak: the kill test (tests/transport/resume_kill_test.cpp,
# ResumeKill.KillsAtRandomMomentsAndResumes) with 200 kills instead of its usual 24, under Wine
# against the local test server. One download of a 3 MiB file (paced by the server to 6 MiB/s,
# "InterSaveByteLimit" 64 KiB) is started again and again by a helper process: rounds of one to
# three runs terminated (TerminateProcess) at a random moment, then a run that must finish. After
# every kill the next run must ask for the range the metadata recorded; every finished destination
# must be byte-identical to the version of the file served at the end of its round, with no partial
# file and no metadata left. About one round in four the server replaces the file by its other
# version (same length, a newer Last-Modified) at a random request of the round. The test prints its
# journal (each kill moment, what it left, each round that saw a replacement) and a summary: rounds,
# kills, resumptions (runs that asked for a range past byte 0), rounds that saw a replacement.
# Target: every one of the kills followed by a correct resumption or restart, every finished
# download identical and clean (the test passes).
#
# Usage: bench/resume-soak.sh
#   BENCH_SOAK_KILLS (200) kills; BENCH_SOAK_SEED (random) the kill moments' seed, printed so that a
#   run can be replayed; see also bench-lib.sh. The test's registry keys live in the benchmarks'
#   Wine prefix: the test clears HKLM\Software\Norvane before and after (the other benchmarks set
#   what they need themselves).
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

KILLS=${BENCH_SOAK_KILLS:-200}
SEED=${BENCH_SOAK_SEED:-$((RANDOM * 32768 + RANDOM))}
WORK=$BENCH_DATA/resume-soak
SERVER_ROOT=$WORK/server
TEST_PROGRAM=$BENCH_WIN_BUILD/tests/transport/transport_resume_kill_test.exe
JOURNAL=$BENCH_RESULTS/resume-soak.txt

bench_windows_line
bench_build_windows
mkdir -p "$SERVER_ROOT" "$BENCH_RESULTS"

cleanup() {
  "$BENCH_ROOT/tests/server/stop.sh" "$SERVER_ROOT"
  bench_wine_stop
}
bench_wine_start
trap cleanup EXIT
"$BENCH_ROOT/tests/server/start.sh" "$SERVER_ROOT" >/dev/null

bench_log "resume-soak: $KILLS kills, seed $SEED (journal in $JOURNAL)"
started=$(date +%s.%N)
status=0
VX_TEST_SERVER_ROOT=$SERVER_ROOT VX_RESUME_KILLS=$KILLS VX_RESUME_KILL_SEED=$SEED \
  wine "$TEST_PROGRAM" --gtest_filter=ResumeKill.KillsAtRandomMomentsAndResumes >"$JOURNAL" 2>&1 || status=$?
ended=$(date +%s.%N)
tr -d '\r' <"$JOURNAL" >"$JOURNAL.tmp" && mv "$JOURNAL.tmp" "$JOURNAL"

summary=$(grep -m1 'summary: seed' "$JOURNAL" || true)
if [ -z "$summary" ]; then
  echo "the kill test printed no summary (exit $status); its output is in $JOURNAL" >&2
  tail -n 40 "$JOURNAL" >&2
  exit 1
fi
field() { sed -n "s/.* $1 \([0-9.]*\).*/\1/p" <<<"$summary"; }
passed=MISSED
if [ "$status" = 0 ] && grep -q '^\[  PASSED  \] 1 test' "$JOURNAL"; then passed=MET; fi

echo "Resume soak: one download killed and resumed again and again, under Wine (seed $SEED)"
echo "  kills $(field kills) (wanted $KILLS) in $(field rounds) rounds; runs after a kill that resumed past byte 0:" \
  "$(field resumptions)"
echo "  rounds that saw the server replace the file: $(field replacements)"
echo "  wall time $(python3 -c "print(f'{$ended - $started:.1f}')") s (the test's own count: $(field seconds) s)"
# What each kill left: a partial file its metadata agrees with (the next run resumes), one longer
# than its record (killed after writing an append and before its record: the next run cuts it back
# and resumes), one shorter or missing (the next run starts over), or nothing recorded yet.
python3 - "$JOURNAL" <<'EOF'
import re, sys
outcomes = {"resumable": 0, "cut back and resumed": 0, "start over": 0, "nothing recorded": 0}
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    found = re.search(r"killed at \d+ ms; .*recorded (\S+), partial file ([^,\s]+)", line)
    if not found:
        continue
    recorded, on_disk = found.group(1).rstrip(","), found.group(2)
    if recorded in ("none", "0"):
        outcomes["nothing recorded"] += 1
    elif recorded == on_disk:
        outcomes["resumable"] += 1
    elif on_disk != "none" and int(on_disk) > int(recorded):
        outcomes["cut back and resumed"] += 1
    else:
        outcomes["start over"] += 1
print("  what the kills left: " + ", ".join(f"{name} {count}" for name, count in outcomes.items()))
EOF
echo "  every finished download byte-identical to one version of the file, no partial file or metadata" \
  "left, every resumption from the recorded size: $passed"
if [ "$passed" != MET ]; then
  grep -B2 -A6 'Failure' "$JOURNAL" | head -n 60 >&2 || true
fi
