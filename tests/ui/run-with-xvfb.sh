#!/bin/sh
# Runs a command (a Windows GUI test under wine) with a private virtual X display.
# Usage: run-with-xvfb.sh COMMAND [ARGS...]
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-xvfb.XXXXXX") || exit 1
# -displayfd lets Xvfb pick a free display number, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$dir/display" >"$dir/log" 2>&1 &
xpid=$!
i=0
while [ ! -s "$dir/display" ] && [ $i -lt 100 ]; do
  sleep 0.1
  i=$((i + 1))
done
if [ ! -s "$dir/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$dir/log" >&2
  kill "$xpid" 2>/dev/null
  rm -rf "$dir"
  exit 1
fi
DISPLAY=":$(head -n 1 "$dir/display")"
export DISPLAY
"$@"
rc=$?
kill "$xpid" 2>/dev/null
wait "$xpid" 2>/dev/null
rm -rf "$dir"
exit $rc
