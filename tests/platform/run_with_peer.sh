#!/bin/bash
# Runs the serial test exe with the pty peer that plays its ports.
# Usage: run_with_peer.sh [--wine] TEST [gtest args]. Natively the ports are links in a device
# folder of the run's own ($OVRA7_DEV_DIR); under wine (WINEPREFIX from the test) they are the
# prefix's COM devices.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
run=()
if [ "${1:-}" = --wine ]; then
  shift
  : "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
  export WINEDEBUG="${WINEDEBUG:--all}"
  links="$WINEPREFIX/dosdevices" style=wine run=(wine)
else
  links="$work/dev" style=linux
  export OVRA7_DEV_DIR="$links"
fi
mkdir -p "$links"
python3 -S "$here/serial_peer.py" "$work/port" "$links" "$style" &
peer=$!
trap 'kill "$peer" 2>/dev/null; wait "$peer" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 250); do
  [ -s "$work/port" ] && break
  kill -0 "$peer" 2>/dev/null || { echo "serial peer did not start" >&2; exit 1; }
  sleep 0.02
done
[ -s "$work/port" ] || { echo "serial peer gave no port" >&2; exit 1; }
OVRA7_SERIAL_PEER="$(cat "$work/port")" "${run[@]}" "$@"
