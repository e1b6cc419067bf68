#!/usr/bin/env bash
# Stops the test server of DIR (SIGTERM, SIGKILL after 5 s) and removes its pid file. Succeeds
# also when no server runs.
set -u
if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
pid_file="$1/server.pid"
[ -f "$pid_file" ] || exit 0
pid=$(head -n 1 "$pid_file")

# Only a live test server (not a reused pid, not a zombie: its command line is empty) is signalled.
is_server() {
  [[ "$pid" =~ ^[0-9]+$ ]] && [ -r "/proc/$pid/cmdline" ] &&
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "test_server\.py"
}

if is_server; then
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 50); do
    is_server || break
    sleep 0.1
  done
  if is_server; then
    echo "test server $pid ignored SIGTERM; killing it" >&2
    kill -KILL "$pid" 2>/dev/null
  fi
fi
rm -f "$pid_file"
exit 0
