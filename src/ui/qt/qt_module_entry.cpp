// The Qt module's entry point. The module holds the Qt backend and the program's icons only;
// the dialog framework it draws comes from the program that loads it (which exports its
// symbols), so there is one copy of the framework's state in the process.
#include "ui/qt/qt_module_entry.h"

#include "ui/qt/qt_backend.h"

extern "C" __attribute__((visibility("default"))) ui::Backend* ovra7_qt_module_open_v1(
    const char* platform) {
  if (!platform) return nullptr;
  return ui::qt::CreateQtBackendOn(platform).release();
}
