# Sourced: the wine prefix of a Windows build folder, started once and kept warm by a persistent
# wineserver so that each test process starts in milliseconds instead of seconds.
# Usage: source scripts/wine-env.sh; ovra7_wine_up build/windows; ...; ovra7_wine_down
# (The GUI suites keep prefixes of their own, started and ended by tests/support/wine_prefix.py.)
ovra7_wine_up() {
  export WINEPREFIX="$(cd "$1" && pwd)/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A server left by an earlier run (or one that was interrupted) goes first: a persistent server
  # starts only alone. -k returns before the server is gone; -w waits for that.
  ovra7_wine_down
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 || true
    # wineboot leaves its own server running.
    ovra7_wine_down
  fi
  if ! wineserver -p </dev/null >/dev/null 2>&1; then
    echo "wine-env: no persistent wineserver for $WINEPREFIX; tests will start slowly" >&2
  fi
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
ovra7_wine_down() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
}
