#!/usr/bin/env bash
# Builds Ovra7 Server for this machine and starts it: ovra7server --headless on Linux (no display
# needed until the Qt window exists). Arguments go to the program, e.g. --control status.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target ovra7server
if [ $# -eq 0 ]; then set -- --headless; fi
exec build/linux/src/app/posix/ovra7server "$@"
