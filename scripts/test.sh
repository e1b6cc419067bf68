#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the Windows and the native presets (and
# the fuzz targets of the portable parsers) and runs every test.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
echo "== native tests (ASan, UBSan)"
ctest --preset native || status=1
echo "== fuzz targets (libFuzzer, bounded time)"
ctest --preset fuzz || status=1

. scripts/wine-env.sh "$root/build/windows/wineprefix"
trap wine_session_stop EXIT
wine_session_start
echo "== Windows tests under Wine"
ctest --preset windows || status=1

exit "$status"
