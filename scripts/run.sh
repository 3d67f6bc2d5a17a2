#!/usr/bin/env bash
# Builds Ovra7 Server for this machine and starts it: ovra7server with its window and tray icon on
# a desktop (DISPLAY or WAYLAND_DISPLAY set), headless on the console otherwise. Arguments go to
# the program, e.g. --headless or --control status.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target ovra7server
exec build/linux/src/app/posix/ovra7server "$@"
