# Sourced by the scripts: Wine settings for a private prefix, no installer dialogs, no debug noise.
# Usage: . scripts/wine-env.sh <prefix directory> [32|64|auto]
# The second argument picks the Wine loader (default 32, the shipped program's; auto: 32 where the
# host can execute 32-bit programs, else 64); VX_WINE_BITS tells which was taken. Debian's
# /usr/bin/wine always takes the 32-bit loader when it is installed and does not fall back, so the
# loader is named here and `wine` below runs it; WINELOADER makes Wine start the programs those
# processes start with the same loader.
export WINEPREFIX="$1"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Exit status 0 when this host can execute Wine's 32-bit loader (a Linux i386 program). Some
# kernels offer no 32-bit user mode at all; the loader then fails with "Exec format error".
wine_host_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

VX_WINE_BITS="${2:-32}"
if [ "$VX_WINE_BITS" = auto ]; then
  if wine_host_runs_32bit; then VX_WINE_BITS=32; else VX_WINE_BITS=64; fi
fi
if [ "$VX_WINE_BITS" = 64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
else
  export WINELOADER=/usr/lib/wine/wine
fi

wine() { "$WINELOADER" "$@"; }

# Starts one persistent wineserver for the prefix and warms it up, so that every Windows program
# started afterwards skips Wine's session start-up. The first use creates the prefix (~15 s).
wine_session_start() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot --init >/dev/null 2>&1 || true
    wineserver -w
  fi
  # An already running server for this prefix (another session's) is used as it is.
  wineserver -p 2>/dev/null || true
  # The services this first process starts live on and would hold a captured pipe open.
  wine cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
}

wine_session_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
