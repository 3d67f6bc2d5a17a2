// The Qt 6 Widgets backend of the dialog framework: real windows, tray icon and message boxes on a
// Linux desktop. Portable header (no Qt types); the implementation needs Qt.
#pragma once

#include <memory>

#include "ui/backend.h"

namespace ui::qt {

// Builds the backend on the calling thread, which becomes the loop thread (the process's main
// thread: Qt wants its GUI there). Returns null, after one line on standard error when a display
// was named but cannot be used, when there is no display to draw on: neither WAYLAND_DISPLAY nor
// DISPLAY set (nor QT_QPA_PLATFORM, which names a platform explicitly, e.g. offscreen), or the X
// display does not answer. Never aborts the process for a missing display.
std::unique_ptr<Backend> CreateQtBackend();

}  // namespace ui::qt
