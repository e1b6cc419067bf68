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
# It runs the 32-bit program (the one that ships) where the host can execute 32-bit programs, and the
# 64-bit build of the same code under Wine's 64-bit loader elsewhere; the first line says which.
# VX_WINDOWS_BUILDS=64 takes the 64-bit build on any host.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

# Says what is missing and how to get it, then stops.
missing() {
  echo "demo.sh: $1" >&2
  exit 1
}

mkdir -p build
if ! scripts/install-deps.sh >build/demo-install.log 2>&1; then
  cat build/demo-install.log >&2
  missing "installing what the demo needs failed (above). Run it as root on Debian 12 with Debian's package archive reachable: scripts/install-deps.sh"
fi
[ -x /usr/lib/wine/wine64 ] && /usr/lib/wine/wine64 --version >/dev/null 2>&1 ||
  missing "Wine's 64-bit loader /usr/lib/wine/wine64 is missing or cannot start. Install Debian's wine64 package: apt-get install wine64 (scripts/install-deps.sh does it)"

bits=auto
if [ "${VX_WINDOWS_BUILDS:-32 64}" = 64 ]; then bits=64; fi
. scripts/wine-env.sh "$root/build/demo/wineprefix" "$bits"
if [ "$VX_WINE_BITS" = 32 ]; then
  preset=windows
  echo "== vxprereqhandler.exe, the shipped 32-bit program, under Wine's 32-bit loader"
elif [ "$bits" = 64 ]; then
  preset=windows64
  echo "== vxprereqhandler.exe, the 64-bit build (VX_WINDOWS_BUILDS=64), under Wine's 64-bit loader"
else
  preset=windows64
  echo "== vxprereqhandler.exe, the 64-bit build under Wine's 64-bit loader: this host cannot run 32-bit programs (the shipped program is the 32-bit one)"
fi

if ! { [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset"; } >build/demo-build.log 2>&1 ||
   ! cmake --build --preset "$preset" --target vxprereqhandler >>build/demo-build.log 2>&1; then
  cat build/demo-build.log >&2
  missing "building vxprereqhandler.exe failed (above); scripts/install-deps.sh installs the compilers and libraries it needs"
fi

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
exe="$(windows_path "$root/build/$preset/src/handler/vxprereqhandler.exe")"
printf '@echo off\r\n"%s"\r\necho Exit code: %%ERRORLEVEL%%\r\n' "$exe" >"$demo/run.bat"

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

echo "== standard output, then the exit code"
output="$(wine cmd /c "$(windows_path "$demo/run.bat")" 2>/dev/null | tr -d '\r' || true)"
echo "$output"
echo
echo "== process log: $agent/logs/vxprereqhandler.log"
tr -d '\r' <"$agent/logs/vxprereqhandler.log"
grep -q '^Exit code: 1605$' <<<"$output"
