// Builds the backend asked for from those this target has (see CMakeLists.txt): linked in, or
// (Qt) a module loaded only when a window is to open. Portable: which backends exist is decided
// by the build, not by #ifdef on the OS.
#include "ui/backend.h"
#include "ui/headless/headless_host.h"
#if OVRA7_UI_HAVE_WIN32
#include "ui/win32/win32_backend.h"
#endif
#if OVRA7_UI_HAVE_QT_MODULE
#include "ui/qt_module_loader.h"
#endif

namespace ui {

std::unique_ptr<Backend> CreateBackend(BackendKind kind) {
  switch (kind) {
    case BackendKind::kHeadless:
      return std::make_unique<headless::HeadlessHost>(headless::ClockMode::kReal);
    case BackendKind::kNative:
#if OVRA7_UI_HAVE_WIN32
      return win32::CreateWin32Backend();
#elif OVRA7_UI_HAVE_QT_MODULE
      return LoadQtBackend(QtModuleCandidates());
#else
      return nullptr;
#endif
    case BackendKind::kWin32:
#if OVRA7_UI_HAVE_WIN32
      return win32::CreateWin32Backend();
#else
      return nullptr;
#endif
    case BackendKind::kQt:
#if OVRA7_UI_HAVE_QT_MODULE
      return LoadQtBackend(QtModuleCandidates());
#else
      return nullptr;
#endif
  }
  return nullptr;
}

}  // namespace ui
