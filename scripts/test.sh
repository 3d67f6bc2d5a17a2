#!/usr/bin/env bash
# Builds every target and runs every suite: Linux (g++), Windows (mingw-w64, under wine),
# the Linux ASan+UBSan and TSan builds, and each fuzz target for 20 s on its seeds.
# Exits non-zero when any build, suite or fuzz target fails.
# Usage: scripts/test.sh [preset ...]   (default: linux windows linux-asan linux-tsan linux-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(linux windows linux-asan linux-tsan linux-fuzz)
source scripts/wine-env.sh
# An interrupted run leaves no wine server behind (the next one would find it).
trap ovra7_wine_down EXIT
status=0
for preset in "${presets[@]}"; do
  if [ "$preset" = linux-fuzz ]; then
    echo "=== $preset: each fuzz target on its seeds"
    scripts/fuzz.sh --regression 20 || status=1
    continue
  fi
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
