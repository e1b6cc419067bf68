# shellcheck shell=bash
# Sourced by the benchmark scripts: build directories, data directory, Wine set-up and helpers.
#
# Settings (environment):
#   BENCH_NATIVE_BUILD  host build, optimised (default build/bench-native-release)
#   BENCH_WIN_BUILD     32-bit Windows build (default build/bench-win)
#   BENCH_DATA          generated data, Wine prefix, staged programs, results (default build/bench-data)
#   BENCH_SKIP_BUILD=1  use the programs as already built

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_NATIVE_BUILD=${BENCH_NATIVE_BUILD:-$BENCH_ROOT/build/bench-native-release}
BENCH_WIN_BUILD=${BENCH_WIN_BUILD:-$BENCH_ROOT/build/bench-win}
BENCH_DATA=${BENCH_DATA:-$BENCH_ROOT/build/bench-data}
BENCH_BIN=$BENCH_DATA/bin
BENCH_RESULTS=$BENCH_DATA/results
BENCH_AGENT_KEY='HKLM\Software\Norvane\Quorvant\VXAgent'

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
    { [ -f "$BENCH_WIN_BUILD/build.ninja" ] || cmake --preset windows -B "$BENCH_WIN_BUILD" >/dev/null; } &&
    cmake --build "$BENCH_WIN_BUILD" -j2 --target vxprereqhandler vxtest_msiexec vxbench_empty_program \
      vxbench_empty_guarded vxbench_logger vxbench_select_rows vxbench_download transport_resume_kill_test \
      vxtest_resume_child >/dev/null)
}

# Copies the Windows programs into one directory: the handler finds the MsiExec.exe stand-in beside
# it before the system's, so a run that decides to uninstall measures the handler, not Windows Installer.
bench_stage_windows_programs() {
  mkdir -p "$BENCH_BIN"
  cp "$BENCH_WIN_BUILD/src/handler/vxprereqhandler.exe" "$BENCH_WIN_BUILD/tests/e2e/MsiExec.exe" \
    "$BENCH_WIN_BUILD/bench/vxbench_empty_program.exe" "$BENCH_WIN_BUILD/bench/vxbench_empty_guarded.exe" \
    "$BENCH_WIN_BUILD/bench/vxbench_logger.exe" "$BENCH_WIN_BUILD/bench/vxbench_download.exe" "$BENCH_BIN/"
}

# One persistent wineserver on the benchmarks' private prefix (created on first use).
bench_wine_start() {
  # shellcheck source=scripts/wine-env.sh
  . "$BENCH_ROOT/scripts/wine-env.sh" "$BENCH_DATA/wineprefix"
  bench_log "starting the Wine session on $WINEPREFIX"
  # Run outside errexit: "wineserver -p" fails when the session's server is already running.
  wine_session_start || true
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
  wine reg add "$BENCH_AGENT_KEY" /v VXAgentInstallDir /d "$windows_path" /f /reg:32 >/dev/null 2>&1
}

# bench_hyperfine NAME ROUNDS [hyperfine options and commands...]: several hyperfine runs of the
# same commands (the summary pools their times, so a spell of load from other work on the machine
# falls on every command alike rather than on one block of runs). Prints the JSON files.
bench_hyperfine() {
  local name=$1 rounds=$2
  shift 2
  mkdir -p "$BENCH_RESULTS"
  local round files=()
  for round in $(seq 1 "$rounds"); do
    local json="$BENCH_RESULTS/$name-round$round.json"
    bench_log "$name: hyperfine round $round of $rounds"
    hyperfine --style basic --export-json "$json" "$@" >&2 || return 1
    files+=("$json")
  done
  printf '%s\n' "${files[@]}"
}
