# shellcheck shell=bash
# Sourced by the benchmark scripts: build directories, data directory, Wine set-up and helpers.
#
# The Windows programs run the way scripts/test.sh runs the Windows tests: the 32-bit build (the
# shipped program) where the host executes 32-bit programs, else the 64-bit build under Wine's
# 64-bit loader. Every figure measured under Wine comes from the build bench_windows_line names.
#
# Settings (environment):
#   BENCH_NATIVE_BUILD  host build, optimised (default build/bench-native-release)
#   BENCH_WIN_BITS      32 or 64: the Windows build and Wine loader (default: 32 where the host runs it)
#   BENCH_WIN_BUILD     that Windows build (default build/bench-win for 32, build/bench-win64 for 64)
#   BENCH_DATA          generated data, Wine prefix, staged programs, results (default build/bench-data)
#   BENCH_SKIP_BUILD=1  use the programs as already built

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_NATIVE_BUILD=${BENCH_NATIVE_BUILD:-$BENCH_ROOT/build/bench-native-release}
BENCH_DATA=${BENCH_DATA:-$BENCH_ROOT/build/bench-data}
BENCH_RESULTS=$BENCH_DATA/results
BENCH_AGENT_KEY='HKLM\Software\Norvane\Quorvant\VXAgent'

# Wine's settings for the benchmarks' private prefix and the loader of the chosen build: `wine`
# (a function) runs it in these scripts; $BENCH_WINE names it in commands that hyperfine starts.
BENCH_WIN_BITS_GIVEN=${BENCH_WIN_BITS:-}
case "$BENCH_WIN_BITS_GIVEN" in
  "" | 32 | 64) ;;
  *) echo "bench-lib.sh: BENCH_WIN_BITS takes 32 or 64, not '$BENCH_WIN_BITS_GIVEN'" >&2; exit 2 ;;
esac
# shellcheck source=scripts/wine-env.sh
. "$BENCH_ROOT/scripts/wine-env.sh" "$BENCH_DATA/wineprefix" "${BENCH_WIN_BITS_GIVEN:-auto}"
# Wine prefers its built-in msiexec.exe to the file in the system directory; the stand-in that
# bench_wine_start puts there is taken only with this override.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msiexec.exe=n"
BENCH_WIN_BITS=$VX_WINE_BITS
BENCH_WINE=$WINELOADER
# Debian's winepath starts /usr/bin/wine, which takes the 32-bit loader whether or not the host can
# run it; the scripts' winepath runs Wine's own winepath.exe with the chosen loader instead.
winepath() { bench_wine_tool winepath.exe "$@"; }
if [ "$BENCH_WIN_BITS" = 64 ]; then
  BENCH_WIN_PRESET=windows64
  BENCH_WIN_BUILD=${BENCH_WIN_BUILD:-$BENCH_ROOT/build/bench-win64}
  BENCH_WIN_OBJCOPY=x86_64-w64-mingw32-objcopy
else
  BENCH_WIN_PRESET=windows
  BENCH_WIN_BUILD=${BENCH_WIN_BUILD:-$BENCH_ROOT/build/bench-win}
  BENCH_WIN_OBJCOPY=i686-w64-mingw32-objcopy
fi
# The staged Windows programs, one directory per build.
BENCH_BIN=$BENCH_DATA/bin$BENCH_WIN_BITS
# The shipped form of the staged programs: stripped as scripts/release.sh strips the release build.
BENCH_SHIPPED_BIN=$BENCH_BIN/shipped

# One line naming the Windows build and the loader the figures under Wine come from.
bench_windows_line() {
  local why
  if [ -n "${BENCH_WIN_BITS_GIVEN:-}" ]; then
    why="chosen with BENCH_WIN_BITS=$BENCH_WIN_BITS_GIVEN"
  elif [ "$BENCH_WIN_BITS" = 64 ]; then
    why="this host cannot run 32-bit programs"
  else
    why="this host runs 32-bit programs"
  fi
  printf 'Windows build: %s-bit (preset %s, %s) under %s; %s\n' "$BENCH_WIN_BITS" "$BENCH_WIN_PRESET" \
    "${BENCH_WIN_BUILD#"$BENCH_ROOT"/}" "$BENCH_WINE" "$why"
}

bench_log() { printf '== %s\n' "$*" >&2; }

bench_build_native() {
  [ "${BENCH_SKIP_BUILD:-0}" = 1 ] && return 0
  bench_log "building host benchmark programs in $BENCH_NATIVE_BUILD"
  (cd "$BENCH_ROOT" &&
    { [ -f "$BENCH_NATIVE_BUILD/build.ninja" ] ||
      cmake --preset native-release -B "$BENCH_NATIVE_BUILD" >/dev/null; } &&
    cmake --build "$BENCH_NATIVE_BUILD" -j2 --target vxbench_access_log_scan vxbench_logger \
      vxbench_select_rows vxbench_criteria_literal vxbench_xml_load >/dev/null)
}

bench_build_windows() {
  [ "${BENCH_SKIP_BUILD:-0}" = 1 ] && return 0
  bench_log "building Windows programs in $BENCH_WIN_BUILD"
  (cd "$BENCH_ROOT" &&
    { [ -f "$BENCH_WIN_BUILD/build.ninja" ] ||
      cmake --preset "$BENCH_WIN_PRESET" -B "$BENCH_WIN_BUILD" >/dev/null; } &&
    cmake --build "$BENCH_WIN_BUILD" -j2 --target vxprereqhandler vxtest_msiexec vxbench_empty_program \
      vxbench_empty_guarded vxbench_startup_floor vxbench_logger vxbench_select_rows vxbench_download transport_resume_kill_test \
      vxtest_resume_child >/dev/null)
}

# Copies the Windows programs into one directory; the start-up programs also go, in their shipped form,
# into $BENCH_SHIPPED_BIN. The handler starts the system directory's msiexec.exe by its full path, so
# bench_wine_start puts the MsiExec.exe stand-in (exit code 0 at once) there in the benchmarks' own
# prefix: a run that decides to uninstall measures the handler, not Wine's installer.
bench_stage_windows_programs() {
  mkdir -p "$BENCH_BIN" "$BENCH_SHIPPED_BIN"
  cp "$BENCH_WIN_BUILD/src/handler/vxprereqhandler.exe" "$BENCH_WIN_BUILD/tests/e2e/MsiExec.exe" \
    "$BENCH_WIN_BUILD/bench/vxbench_empty_program.exe" "$BENCH_WIN_BUILD/bench/vxbench_empty_guarded.exe" \
    "$BENCH_WIN_BUILD/bench/vxbench_startup_floor.exe" \
    "$BENCH_WIN_BUILD/bench/vxbench_logger.exe" "$BENCH_WIN_BUILD/bench/vxbench_download.exe" "$BENCH_BIN/"
  local program
  for program in vxprereqhandler.exe vxbench_empty_program.exe vxbench_startup_floor.exe; do
    bench_strip_as_shipped "$BENCH_BIN/$program" "$BENCH_SHIPPED_BIN/$program"
  done
}

# bench_strip_as_shipped PROGRAM COPY: COPY is PROGRAM as scripts/release.sh ships it, debug
# information split off into COPY.debug and named by the stripped file.
bench_strip_as_shipped() {
  local directory
  directory=$(dirname "$2")
  (cd "$directory" &&
    "$BENCH_WIN_OBJCOPY" --only-keep-debug "$1" "$(basename "$2").debug" &&
    "$BENCH_WIN_OBJCOPY" --strip-all --add-gnu-debuglink="$(basename "$2").debug" "$1" "$(basename "$2")")
}

# One persistent wineserver on the benchmarks' private prefix (created on first use).
bench_wine_start() {
  # shellcheck source=scripts/wine-env.sh
  . "$BENCH_ROOT/scripts/wine-env.sh" "$BENCH_DATA/wineprefix" "$BENCH_WIN_BITS"
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msiexec.exe=n"
  bench_log "starting the Wine session on $WINEPREFIX"
  # Run outside errexit: "wineserver -p" fails when the session's server is already running.
  wine_session_start || true
  # The system directory the handler sees: System32 for the 64-bit build, SysWOW64 for the 32-bit one.
  local system_dir=$WINEPREFIX/drive_c/windows/system32
  [ "$BENCH_WIN_BITS" = 64 ] || system_dir=$WINEPREFIX/drive_c/windows/syswow64
  if [ -f "$BENCH_BIN/MsiExec.exe" ] && [ -d "$system_dir" ]; then
    cp "$BENCH_BIN/MsiExec.exe" "$system_dir/msiexec.exe"
  fi
}

bench_wine_stop() { wine_session_stop; }

# bench_pin_wineserver CPUS: binds the benchmarks' wineserver (started by bench_wine_start) to CPUS.
# A Windows program under Wine makes a server round trip for every socket call; when the program
# and the server run on different CPUs of a virtual machine each trip waits for the other CPU to
# wake, which makes network-bound figures bimodal. 1 when no server of this prefix runs.
bench_pin_wineserver() {
  local suffix pid
  suffix=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  for pid in $(pgrep wineserver); do
    case "$(readlink "/proc/$pid/cwd")" in
      */"$suffix")
        taskset -a -p -c "$1" "$pid" >/dev/null
        return
        ;;
    esac
  done
  return 1
}

# Fails when the prefix's agent settings hold a "DownloadMode" of 1, which asks for a resumable
# download: the download benchmarks measure the whole and the rate-limited ones.
bench_check_download_mode() {
  if wine reg query "$BENCH_AGENT_KEY\\Settings" /v DownloadMode /reg:32 2>/dev/null | tr -d '\r' |
    grep -Eq 'REG_DWORD[[:space:]]+0x0*1$'; then
    echo "DownloadMode is 1 in the benchmark prefix ($BENCH_AGENT_KEY\\Settings); delete it first" >&2
    return 1
  fi
}

# Points the agent's installation directory (32-bit registry view) at a Unix directory.
bench_set_install_dir() {
  local windows_path
  windows_path=$(winepath -w "$1")
  case "$windows_path" in *\\) ;; *) windows_path="$windows_path\\" ;; esac
  bench_reg_add "$BENCH_AGENT_KEY" /v VXAgentInstallDir /d "$windows_path"
}

# Under Wine a run of any program now and then ends by a signal or with status 1 on the Linux side,
# the empty programs included (one that can only return 0 has ended with status 1), about once in a
# few hundred runs, and hyperfine then stops. The timed runs below are therefore run again when one
# ends that way (any other status fails the benchmark at once), up to BENCH_ROUND_ATTEMPTS times in
# all (default 3); every repeat is logged, with the command and hyperfine's message, and listed in
# $BENCH_REPEATED_RUNS, which bench/run-all.sh prints at the end. What fails every attempt fails
# the benchmark.
BENCH_REPEATED_RUNS=$BENCH_RESULTS/repeated-runs.txt

# bench_record_failed_run NAME ROUND ATTEMPT OUTPUT: lists a failed hyperfine run (the command from
# the last "Benchmark N:" line of its OUTPUT file, and its message) in $BENCH_REPEATED_RUNS and
# logs it; status 1 when that was the last attempt or the failure is not of the kind above.
bench_record_failed_run() {
  local failed_command message
  failed_command=$(grep -E '^Benchmark [0-9]+: ' "$4" | tail -n 1 | sed -E 's/^Benchmark [0-9]+: //')
  message=$(grep -m1 '^Error: ' "$4" | cut -d. -f1 | sed 's/^Error: //')
  printf '%s round %s attempt %s: a run of %s failed (%s)\n' "$1" "$2" "$3" "${failed_command:-?}" \
    "${message:-no message}" >>"$BENCH_REPEATED_RUNS"
  [ "$3" -lt "${BENCH_ROUND_ATTEMPTS:-3}" ] || return 1
  # Any other status is the program's own answer and fails at once.
  case "$message" in
    *"terminated by a signal"* | *"non-zero exit code: 1") ;;
    *) return 1 ;;
  esac
  bench_log "$1: a run of ${failed_command:-?} failed (${message:-no message}); it is run again"
}

# bench_wine_tool PROGRAM [ARGUMENTS...]: runs a program under Wine whose output a benchmark reads
# (reg, winepath.exe, the checks before the timing, the programs that time themselves) and passes its
# standard output on; a run that fails is started again like the timed runs (a program's own failure
# fails every attempt), and every failed attempt is listed.
bench_wine_tool() {
  local attempt output status
  for attempt in $(seq 1 "${BENCH_ROUND_ATTEMPTS:-3}"); do
    if output=$(wine "$@" 2>/dev/null </dev/null); then
      [ -z "$output" ] || printf '%s\n' "$output"
      return 0
    else
      status=$?
    fi
    mkdir -p "$BENCH_RESULTS"
    printf 'wine %s attempt %s: ended with status %s\n' "$*" "$attempt" "$status" >>"$BENCH_REPEATED_RUNS"
  done
  echo "wine $* failed ${BENCH_ROUND_ATTEMPTS:-3} times (last status $status)" >&2
  return 1
}

# bench_reg_add KEY [reg add options]: sets a value in the 32-bit registry view, replacing it.
bench_reg_add() { bench_wine_tool reg add "$@" /f /reg:32 >/dev/null; }

# bench_run_once PATH NAME COMMAND [PREFIX...]: one run of COMMAND (named NAME) timed by hyperfine,
# under PREFIX (e.g. taskset) when given: its JSON in PATH.json, the program's output in PATH.txt.
bench_run_once() {
  local path=$1 name=$2 command=$3 attempt log
  shift 3
  mkdir -p "$BENCH_RESULTS"
  log=$(mktemp)
  for attempt in $(seq 1 "${BENCH_ROUND_ATTEMPTS:-3}"); do
    if "$@" hyperfine -N --style basic --runs 1 --output "$path.txt" --export-json "$path.json" \
      -n "$name" "$command" >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    if ! bench_record_failed_run "$(basename "$path")" 1 "$attempt" "$log"; then
      echo "$name failed:" >&2
      cat "$log" "$path.txt" >&2
      rm -f "$log"
      return 1
    fi
  done
}

# bench_hyperfine NAME ROUNDS [hyperfine options and commands...]: several hyperfine runs of the
# same commands (the summary pools their times, so a spell of load from other work on the machine
# falls on every command alike rather than on one block of runs). Prints the JSON files. A round
# that a failed run stopped is run again whole.
bench_hyperfine() {
  local name=$1 rounds=$2
  shift 2
  mkdir -p "$BENCH_RESULTS"
  local round attempt files=() output
  output=$(mktemp)
  for round in $(seq 1 "$rounds"); do
    local json="$BENCH_RESULTS/$name-round$round.json"
    for attempt in $(seq 1 "${BENCH_ROUND_ATTEMPTS:-3}"); do
      local label=""
      [ "$attempt" -eq 1 ] || label=" (attempt $attempt)"
      bench_log "$name: hyperfine round $round of $rounds$label"
      rm -f "$json"
      if hyperfine --style basic --export-json "$json" "$@" >"$output" 2>&1; then
        cat "$output" >&2
        break
      fi
      cat "$output" >&2
      if ! bench_record_failed_run "$name" "$round" "$attempt" "$output"; then
        rm -f "$output"
        return 1
      fi
    done
    files+=("$json")
  done
  rm -f "$output"
  printf '%s\n' "${files[@]}"
}
