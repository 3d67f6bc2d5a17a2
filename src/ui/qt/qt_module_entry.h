// The one entry point of the Qt module (ovra7server-qt.so), shared by the module and the program
// that loads it. The name carries the interface's version: a module of another version does
// not have it, and the program then stays headless instead of calling into it.
#pragma once

namespace ui {
class Backend;
}

// Builds the Qt backend on the platform named (a QT_QPA_PLATFORM value the program checked can
// open); null when it cannot be built. The caller owns the result. The module's code (and Qt)
// must stay loaded while the backend exists.
extern "C" ui::Backend* ovra7_qt_module_open_v1(const char* platform);
using QtModuleOpenFunction = ui::Backend* (*)(const char* platform);
inline constexpr char kQtModuleEntryName[] = "ovra7_qt_module_open_v1";
inline constexpr char kQtModuleFileName[] = "ovra7server-qt.so";
