#!/usr/bin/env bash
# Builds Ovra7 Server for this machine and starts it.
# Until the tray application exists this starts the relay against the reader simulator: a pty
# pair stands in for the reader's serial port and tools/reader-sim answers as the reader.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux
exec build/linux/tools/relay-demo "$@"
