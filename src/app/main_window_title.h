// The main window's title, by which a second start, the control commands on Windows and the
// installer find the running program (the installer's build reads it from this line).
// Portable data.
#pragma once

namespace app {

constexpr char kMainWindowTitle[] = "读卡器设置";

}  // namespace app
