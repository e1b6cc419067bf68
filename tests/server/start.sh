#!/usr/bin/env bash
# Starts the test server for DIR in the background and returns once it listens (DIR/ports.txt).
# The server is detached from the caller's output so that CTest does not wait for it.
# VX_PYTHON3 names the interpreter (default: python3 from PATH).
set -u
if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1" || exit 1
root=$(cd "$1" && pwd)

# A server left behind by an interrupted run would keep the old ports.
"$here/stop.sh" "$root"
rm -f "$root/ports.txt" "$root/server.pid"

# A fresh self-signed certificate when there is none or it is older than a day (it lasts two).
if [ ! -s "$root/cert.pem" ] || [ ! -s "$root/key.pem" ] || [ -n "$(find "$root/cert.pem" -mmin +1440)" ]; then
  if ! openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=vx-test-server -days 2 \
      -keyout "$root/key.pem" -out "$root/cert.pem" >"$root/openssl.log" 2>&1; then
    cat "$root/openssl.log" >&2
    exit 1
  fi
fi

setsid "${VX_PYTHON3:-python3}" "$here/test_server.py" --root "$root" </dev/null >"$root/server.log" 2>&1 &
server=$!

for _ in $(seq 150); do
  if [ -s "$root/ports.txt" ]; then
    cat "$root/ports.txt"
    exit 0
  fi
  if ! kill -0 "$server" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
echo "test server did not start; its log:" >&2
cat "$root/server.log" >&2
"$here/stop.sh" "$root"
exit 1
