#!/usr/bin/env bash
# Configuration load: wall time of vxprereqhandler.exe's no-op run under Wine with a full agent
# configuration (management and distribution server, every agent setting and the resource
# identifier, so that no request goes to the network) against the same run with only the
# installation directory (the load stops at its first step). A third state also enables the proxy,
# whose loading runs the CryptoAPI provider check. Rounds alternate between the registry states so
# that a spell of load elsewhere falls on all. Target: the full configuration adds at most 50 ms
# (medians).
#
# Usage: bench/config-load.sh
#   BENCH_CONFIG_ROUNDS (6) x BENCH_CONFIG_RUNS (10) timed runs per state; see also bench-lib.sh
set -euo pipefail
# shellcheck source=bench/bench-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/bench-lib.sh"

AGENT_DIR=$BENCH_DATA/config-agent

bench_windows_line
bench_build_windows
bench_stage_windows_programs
mkdir -p "$AGENT_DIR/logs"
rm -f "$AGENT_DIR/logs/vxpatchinstallaccess.log" "$AGENT_DIR/logs/vxprereqhandler.log"

bench_wine_start
trap 'wine reg delete "$BENCH_AGENT_KEY" /f /reg:32 >/dev/null 2>&1; bench_wine_stop' EXIT

# The agent's keys as the no-configuration state: only the installation directory.
seed_none() {
  wine reg delete "$BENCH_AGENT_KEY" /f /reg:32 >/dev/null 2>&1 || true
  bench_set_install_dir "$AGENT_DIR"
}

seed_full() {
  seed_none
  local key=$BENCH_AGENT_KEY name value
  local -a root=(EnableDistributionServer=yes ProxyEnabled=no ProxyUserName=proxyuser
    ProxyPassword=c2VjcmV0UGFzcw== ProxyServerName=proxy.example.test:3128 "ProxyByPass=<local>"
    VXAgentVersion=7.1.2 AgentServiceName=VXAgentService MSPName=MSP CustomerName=Customer
    CustomerId=CUST-42 VXProductCode=RNHX RemoteOfficeName=Branch RemoteOfficeID=17 DataTransferRate_KBps=2048
    InstallSource=console InstallMode=2 EnableDSRoute=no EnableChecksum=yes)
  local -a server=(VXServerName=mgmt.example.test VXServerInstalledTime=1700000000 VXServerFlatName=MGMT
    VXServerIPAddress=192.0.2.10 VXServerSecIPAddress=192.0.2.11 VXLastAccessName=mgmt.example.test
    VXServerPort=80 VXServerSecurePort=443 VXServerProtocol=https DistributionServerName=ds.example.test
    DistributionServerFlatName=DS DistributionLastAccessName=ds.example.test DistributionServerPort=80
    DistributionServerIPAddress=198.51.100.5 DistributionServerSecIPAddress=198.51.100.6)
  for value in "${root[@]}"; do
    bench_reg_add "$key" /v "${value%%=*}" /d "${value#*=}"
  done
  for value in "${server[@]}"; do
    bench_reg_add "$key\\ServerInfo" /v "${value%%=*}" /d "${value#*=}"
  done
  bench_reg_add "$key" /v HTTPRequestTimeout /t REG_DWORD /d 60000
  bench_reg_add "$key\\SystemDetails" /v VXAgentResourceID /d RES-1001
}

seed_full_proxy() {
  seed_full
  bench_reg_add "$BENCH_AGENT_KEY" /v ProxyEnabled /d yes
}

check_no_op() {
  local output
  output=$(bench_wine_tool "$BENCH_BIN/vxprereqhandler.exe" | tr -d '\r' | tail -n 1)
  if [ "$output" != "Patch not installed by VX. No need to perform component uninstallation." ]; then
    echo "the handler did not take the no-op path: $output" >&2
    exit 1
  fi
}

seed_full_proxy
check_no_op
grep -q 'Proxy Server Name -> proxy.example.test:3128' "$AGENT_DIR/logs/vxprereqhandler.log" &&
grep -q 'The Agent Machine Resource Id is given by -> RES-1001' "$AGENT_DIR/logs/vxprereqhandler.log" || {
  echo "the full configuration was not loaded" >&2
  exit 1
}

results=()
for round in $(seq 1 "${BENCH_CONFIG_ROUNDS:-6}"); do
  for state in none full full_proxy; do
    "seed_$state"
    mapfile -t files < <(bench_hyperfine "config-$state-$round" 1 -N --warmup 2 \
      --runs "${BENCH_CONFIG_RUNS:-10}" -n "$state" "$BENCH_WINE $BENCH_BIN/vxprereqhandler.exe")
    [ "${#files[@]}" -gt 0 ] || exit 1
    results+=("${files[@]}")
  done
done

echo "Configuration load under Wine (warm wineserver)"
python3 "$BENCH_ROOT/bench/hyperfine_summary.py" --reference none --info full:none --added full=50 \
  --added full_proxy=50 "${results[@]}"
