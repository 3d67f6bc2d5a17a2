# Sourced: the wine prefix of a Windows build folder, started once and kept warm by a persistent
# wineserver so that each test process starts in milliseconds instead of seconds.
# Usage: source scripts/wine-env.sh; ovra7_wine_up build/windows; ...; ovra7_wine_down
ovra7_wine_up() {
  export WINEPREFIX="$(cd "$1" && pwd)/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
  fi
  # wineboot (or an earlier run) may leave a server running; a persistent one starts only alone.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
ovra7_wine_down() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
}
