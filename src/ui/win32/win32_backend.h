// The Win32 backend of the dialog framework: real dialogs, tray icon and message boxes.
// Portable header (no Windows types); the implementation is Windows-only.
#pragma once

#include <memory>

#include "ui/backend.h"

namespace ui::win32 {

// Makes the process DPI-aware and loads the common controls (version 6 when the executable
// carries the manifest in ui/win32/ovra7_ui.manifest). Call on the loop thread.
std::unique_ptr<Backend> CreateWin32Backend();

}  // namespace ui::win32
