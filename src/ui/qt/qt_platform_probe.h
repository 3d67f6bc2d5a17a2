// Which Qt platform the program can open, found before Qt is handed one: Qt ends the process
// (SIGABRT) when its platform cannot start, and this program has a headless mode to fall back to.
#pragma once

#include <string>

namespace ui::qt {

struct PlatformChoice {
  std::string platform;  // the QT_QPA_PLATFORM value to start Qt with; empty: none can open
  std::string why_not;   // when none can: why, in words for one line on standard error
};

// Reads QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY, XDG_RUNTIME_DIR and the plugin paths.
// A platform list the user named (QT_QPA_PLATFORM, e.g. "wayland;xcb") is checked entry by entry
// and the first that can open is chosen. Otherwise X11 (through XWayland too) comes first while
// DISPLAY answers, as the tray and window placement work fully there; then Wayland.
// Checked: the plugin file, the X server accepting a connection, the Wayland socket accepting one.
PlatformChoice ChooseQtPlatform();

}  // namespace ui::qt
