#!/bin/sh
# Runs a command (a Windows GUI test under wine) on a private virtual X display; under wine in a
# clean prefix whose processes all end with the run. See tests/support/xvfb_run.py.
# Usage: run-with-xvfb.sh [--size WxH] COMMAND [ARGS...]
exec python3 "$(dirname "$0")/../support/xvfb_run.py" "$@"
