#!/bin/bash
# Runs the Windows serial test exe under wine with the pty peer that plays its COM ports.
# Usage: run_with_peer.sh TEST.exe [gtest args]; WINEPREFIX (and WINEDEBUG) come from the test.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$WINEPREFIX/dosdevices"
work="$(mktemp -d)"
python3 "$here/serial_peer.py" "$work/port" &
peer=$!
trap 'kill "$peer" 2>/dev/null; wait "$peer" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  kill -0 "$peer" 2>/dev/null || { echo "serial peer did not start" >&2; exit 1; }
  sleep 0.05
done
[ -s "$work/port" ] || { echo "serial peer gave no port" >&2; exit 1; }
OVRA7_SERIAL_PEER="$(cat "$work/port")" WINEPREFIX="$WINEPREFIX" wine "$@"
