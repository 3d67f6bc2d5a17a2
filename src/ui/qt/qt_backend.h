// The Qt 6 Widgets backend of the dialog framework: real windows, tray icon and message boxes on a
// Linux desktop. Portable header (no Qt types); the implementation needs Qt.
#pragma once

#include <memory>
#include <string>

#include "ui/backend.h"

namespace ui::qt {

// Builds the backend on the calling thread, which becomes the loop thread (the process's main
// thread: Qt wants its GUI there). Returns null, after one line on standard error saying why,
// when no platform can open a display (see ChooseQtPlatform): no display named, an X display
// that does not answer, a Wayland socket that takes no connection, a plugin not installed.
// Never aborts the process for a missing display.
std::unique_ptr<Backend> CreateQtBackend();

// Builds the backend on a platform already found to open (ChooseQtPlatform's choice), without
// asking the display again: what the program's Qt module does once the program has checked.
std::unique_ptr<Backend> CreateQtBackendOn(const std::string& platform);

}  // namespace ui::qt
