#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the native preset, both Windows presets
# and the fuzz targets of the portable parsers, and runs every test the host can run:
#  - the native suite (ASan, UBSan) and the fuzz targets,
#  - the 64-bit Windows suite under Wine's 64-bit loader, on every host,
#  - the 32-bit Windows suite (the shipped program) where the host can execute 32-bit programs;
#    elsewhere one line says it was skipped,
#  - the static analysis gate (clang-tidy, cppcheck) over the native and both Windows builds' units,
#    whatever VX_WINDOWS_BUILDS selects (it analyses, it runs nothing).
# Exits non-zero when anything that ran failed.
#
#   VX_WINDOWS_BUILDS="32 64"   the Windows builds to build and test (default both); "64" alone
#                               takes the path of a host without 32-bit support on any host.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

builds="${VX_WINDOWS_BUILDS:-32 64}"
want_32=0
want_64=0
for build in $builds; do
  case "$build" in
    32) want_32=1 ;;
    64) want_64=1 ;;
    *) echo "test.sh: VX_WINDOWS_BUILDS takes 32 and/or 64, not '$build'" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh

stages=()
stage_start=$SECONDS
# Records how long the stage that just ended took, for the summary at the end.
stage_done() {
  stages+=("$(printf '%-34s %4d s  %s' "$1" $((SECONDS - stage_start)) "$2")")
  stage_start=$SECONDS
}

presets=(native)
if [ "$want_32" = 1 ]; then presets+=(windows); fi
if [ "$want_64" = 1 ]; then presets+=(windows64); fi
presets+=(fuzz)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  stage_done "build $preset" "built"
done

# The names of the tests that CTest's log $1 lists as failed, one a line.
failed_tests() { sed -n '/The following tests FAILED:/,/^[^[:space:]]/s/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' "$1"; }
# The status CTest's log $1 lists for the failed test $2: Failed, SEGFAULT, Timeout, ...
failure_status() {
  sed -n '/The following tests FAILED:/,/^[^[:space:]]/p' "$1" | grep -F " - $2 (" | sed -n '1s/.*(\(.*\))$/\1/p'
}
# True when the failed test $2 printed nothing in CTest's log $1 (which shows a failed test's output
# under its result line): a test program prints its banner before anything else, so that process
# never reached its main.
printed_nothing() {
  awk -v name="$2" '
    index($0, ": " name " ") && /\*\*\*Failed/ { inside = 1; next }
    inside && (/^ *Start +[0-9]+: / || /^ *[0-9]+\/[0-9]+ Test +#/ || /^The following tests FAILED:/) { exit }
    inside && NF > 0 { printed = 1; exit }
    END { exit (inside && !printed) ? 0 : 1 }' "$1"
}
# True when every failure in CTest's log $1 is Wine's rather than a test's: a loader killed by a
# signal, or a process that ended before the test program's first line.
wine_failures_only() {
  local name names
  names=$(failed_tests "$1")
  [ -n "$names" ] || return 1
  while IFS= read -r name; do
    case "$(failure_status "$1" "$name")" in
      SEGFAULT | BUS_ERROR | ILLEGAL) ;;
      Failed) printed_nothing "$1" "$name" || return 1 ;;
      *) return 1 ;;
    esac
  done <<<"$names"
}

status=0
passed=0
failed=0
skipped=0
logs="$root/build/test-logs"
mkdir -p "$logs"
# Runs one CTest preset as a stage of its own; its result and counts go into the summary. With
# "wine" as $3: Wine very rarely ends a test process itself, its loader dying by a signal while the
# process exits (the Windows program's own faults Wine turns into exit codes) or the process ending
# before the program printed its first line; tests that failed only those ways run once more, named
# in the summary. A failed assertion, a time-out or a second such end fails the suite.
run_suite() {
  local label="$1" preset="$2" log="$logs/$2.log" result=passed total=0 failures=0 skips=0 crashed
  echo "== $label"
  if ! ctest --preset "$preset" 2>&1 | tee "$log"; then result=FAILED; fi
  read -r failures total < <(sed -n 's/.* tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$log" |
                             tail -n1) || true
  : "${total:=0}" "${failures:=0}"
  if [ "$result" = FAILED ] && [ "${3:-}" = wine ] && wine_failures_only "$log"; then
    crashed="$(failed_tests "$log" | paste -sd ' ')"
    echo "== $label: Wine ended $crashed before or after the test ran; once more"
    if ctest --preset "$preset" --rerun-failed 2>&1 | tee "$log.again"; then
      result="passed (once more after Wine ended it: $crashed)"
      failures=0
    fi
  fi
  if [ "$result" = FAILED ]; then status=1; fi
  skips=$(grep -c '(Skipped)$' "$log" || true)
  passed=$((passed + total - failures - skips))
  failed=$((failed + failures))
  skipped=$((skipped + skips))
  stage_done "$label" "$result: $((total - failures - skips)) passed, $failures failed, $skips skipped"
}

# The static analysis gate: any finding fails the suite. It reads the builds' compile databases
# (configuring a preset that was not built) and prints its own findings and wall time.
echo "== static analysis"
analysis_log="$logs/static-analysis.log"
if scripts/static-analysis.py 2>&1 | tee "$analysis_log"; then
  analysis_result=passed
else
  analysis_result=FAILED
  status=1
fi
stage_done "static analysis (tidy, cppcheck)" \
  "$analysis_result: $(sed -n 's/^static-analysis: \([0-9]* findings in [0-9]* units\); wall time \([0-9]* s\), \([0-9]* s\) of processor time.*/\1 (wall \2, processor \3)/p' "$analysis_log" | tail -n1)"

run_suite "native tests (ASan, UBSan)" native
run_suite "fuzz targets (bounded time)" fuzz

# One Windows suite in its build tree's own prefix, with one wineserver for the whole run.
run_windows_suite() {
  local bits="$1" preset="$2"
  . scripts/wine-env.sh "$root/build/$preset/wineprefix" "$bits"
  trap wine_session_stop EXIT
  wine_session_start
  run_suite "Windows tests, $bits-bit, under Wine" "$preset" wine
  wine_session_stop
  trap - EXIT
}

if [ "$want_64" = 1 ]; then run_windows_suite 64 windows64; fi

skip_line=""
if [ "$want_32" = 1 ]; then
  . scripts/wine-env.sh "$root/build/windows/wineprefix" 32
  if wine_host_runs_32bit; then
    run_windows_suite 32 windows
  elif [ "$want_64" = 1 ]; then
    skip_line="This host cannot run 32-bit programs: the 32-bit Windows suite was skipped; the 64-bit Windows suite ran."
  else
    skip_line="This host cannot run 32-bit programs, and VX_WINDOWS_BUILDS=32 selects no other Windows suite."
    status=1
  fi
elif [ "$want_64" = 1 ]; then
  skip_line="The 32-bit Windows suite was not selected (VX_WINDOWS_BUILDS=$builds): skipped; the 64-bit Windows suite ran."
fi

echo "== summary"
printf '%s\n' "${stages[@]}"
if [ -n "$skip_line" ]; then echo "$skip_line"; fi
echo "total: $passed passed, $failed failed, $skipped skipped"
exit "$status"
