# Sourced: the wine prefix of a Windows build folder, started once and kept warm by a persistent
# wineserver so that each test process starts in milliseconds instead of seconds.
# Usage: source scripts/wine-env.sh build/windows
ovra7_wine_up() {
  export WINEPREFIX="$(cd "$1" && pwd)/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 || true
}
ovra7_wine_down() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
}
