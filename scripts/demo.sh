#!/usr/bin/env bash
# The handler's main job on an embedded demo agent, under Wine in a private prefix:
#  - the registry holds the agent's configuration (installation directory, log level, management
#    server, customer and product, resource identifier; no distribution server, no proxy),
#  - the agent's patch-installation access log holds one line that is evidence of the erroneous
#    deployment (patch 500100, deployed by "APD Deploy", on 22-05-14),
#  - no SQL Server 2014 tools are installed,
# so the handler loads the configuration (the log shows its summary block, standard output the host's
# adapters), runs the two uninstall commands through Wine's real MsiExec.exe, which answers 1605
# (unknown product) for both, and exits with 1605. Shows standard output, the exit code as Windows
# reports it, and the process log.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/install-deps.sh >/dev/null
if [ ! -f build/windows/build.ninja ]; then cmake --preset windows >/dev/null; fi
cmake --build --preset windows --target vxprereqhandler >/dev/null

demo="$root/build/demo"
agent="$demo/agent"
rm -rf "$agent"
mkdir -p "$agent/logs"
cat >"$agent/logs/vxpatchinstallaccess.log" <<'LOG'
2022-05-12 09:14:03 | WS-0142 | KB5011487 | Monthly Rollup         | Installed | exit 0
2022-05-13 22:01:55 | WS-0142 | KB5013942 | Patch test group       | Deferred  | exit 3010
2022-05-14 02:30:11 | WS-0142 | KB500100  | APD Deploy (automatic) | Installed | exit 0
2022-05-18 11:47:26 | WS-0142 | KB5014032 | Monthly Rollup         | Installed | exit 0
LOG

windows_path() { echo "Z:$1" | tr '/' '\\'; }
exe="$(windows_path "$root/build/windows/src/handler/vxprereqhandler.exe")"
printf '@echo off\r\n"%s"\r\necho Exit code: %%ERRORLEVEL%%\r\n' "$exe" >"$demo/run.bat"

. scripts/wine-env.sh "$demo/wineprefix"
trap wine_session_stop EXIT
wine_session_start
key='HKLM\Software\Norvane\Quorvant\VXAgent'
wine reg add "$key" /v VXAgentInstallDir /t REG_SZ /d "$(windows_path "$agent/")" /f /reg:32 >/dev/null
wine reg add "$key" /v VXAgentLogLevel /t REG_DWORD /d 2 /f /reg:32 >/dev/null
# The demo agent's configuration: subkey ("-" for the agent's own key), value name, text.
while read -r subkey name value; do
  target="$key"
  [ "$subkey" = - ] || target="$key$subkey"
  wine reg add "$target" /v "$name" /t REG_SZ /d "$value" /f /reg:32 >/dev/null
done <<'VALUES'
\ServerInfo VXServerName mgmt.example.test
\ServerInfo VXServerFlatName MGMT
\ServerInfo VXServerIPAddress 192.0.2.10
\ServerInfo VXServerSecIPAddress 192.0.2.11
\ServerInfo VXServerInstalledTime 1700000000
\ServerInfo VXLastAccessName mgmt.example.test
\ServerInfo VXServerPort 80
\ServerInfo VXServerProtocol https
- EnableDistributionServer no
- ProxyEnabled no
- VXAgentVersion 7.1.2
- AgentServiceName VXAgentService
- MSPName Demo-MSP
- CustomerName Demo-Customer
- CustomerId DEMO-01
- VXProductCode KORB
- RemoteOfficeName Head-Office
- RemoteOfficeID 1
- InstallSource console
- InstallMode 2
\SystemDetails VXAgentResourceID RES-DEMO-0001
VALUES

echo "== vxprereqhandler.exe (standard output, then its exit code)"
output="$(wine cmd /c "$(windows_path "$demo/run.bat")" 2>/dev/null | tr -d '\r' || true)"
echo "$output"
echo
echo "== process log: $agent/logs/vxprereqhandler.log"
tr -d '\r' <"$agent/logs/vxprereqhandler.log"
grep -q '^Exit code: 1605$' <<<"$output"
