# Sourced by the scripts: Wine settings for a private prefix, no installer dialogs, no debug noise.
# Usage: . scripts/wine-env.sh <prefix directory>
export WINEPREFIX="$1"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Starts one persistent wineserver for the prefix and warms it up, so that every Windows program
# started afterwards skips Wine's session start-up. The first use creates the prefix (~15 s).
wine_session_start() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1 || true
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
