#!/usr/bin/env bash
# Builds every target and runs every suite: Linux (g++), Windows (mingw-w64, under wine),
# and the Linux ASan+UBSan and TSan builds. Exits non-zero when any build or suite fails.
# Usage: scripts/test.sh [preset ...]   (default: linux windows linux-asan linux-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(linux windows linux-asan linux-tsan)
source scripts/wine-env.sh
# An interrupted run leaves no wine server behind (the next one would find it).
trap ovra7_wine_down EXIT
status=0
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: tests"
  if [ "$preset" = windows ]; then
    ovra7_wine_up build/windows
    ctest --preset windows || status=1
    ovra7_wine_down
  else
    ctest --preset "$preset" || status=1
  fi
done
exit $status
