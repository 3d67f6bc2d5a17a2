#!/bin/sh
# Runs a command (a Windows GUI test under wine) with a private virtual X display.
# Usage: run-with-xvfb.sh COMMAND [ARGS...]   (for wine: run-with-xvfb.sh wine prog.exe ...)
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
# Under wine: the GUI program gets a virtual desktop of its own on this display. The default
# desktop is shared by every process of the wineserver, and one started by a console test without
# a display (any exe that loads user32) would leave this program with no window system. Windows
# outside a virtual desktop are left unmanaged, so wine does not wait for a window manager.
if [ -n "${WINEPREFIX:-}" ]; then
  for arg in "$@"; do
    case "$arg" in
      *.exe|*.EXE) exe=$(basename "$arg") ;;
    esac
  done
  if [ -n "${exe:-}" ]; then
    desktop="ovra7-${exe%.*}"
    WINEDEBUG=-all wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\Explorer" /v Desktop \
      /t REG_SZ /d "$desktop" /f >/dev/null 2>&1
    WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop" \
      /t REG_SZ /d 1024x600 /f >/dev/null 2>&1
  fi
  WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1
  # Chinese texts drawn with an installed CJK font (fonts-wqy-microhei), for screenshots.
  WINEDEBUG=-all wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
  WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei' \
    /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
fi
"$@"
rc=$?
kill "$xpid" 2>/dev/null
wait "$xpid" 2>/dev/null
rm -rf "$dir"
exit $rc
