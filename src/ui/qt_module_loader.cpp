// The program's side of the Qt module (see qt_module_loader.h).
#include "ui/qt_module_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>

#include "ui/qt/qt_module_entry.h"
#include "ui/qt/qt_platform_probe.h"

namespace ui {

namespace {

std::unique_ptr<Backend> Headless(const std::string& why) {
  std::fprintf(stderr, "ovra7server: no window (%s); running headless\n", why.c_str());
  return nullptr;
}

std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return "";
  std::string text(path, static_cast<size_t>(n));
  size_t slash = text.rfind('/');
  return slash == std::string::npos ? "" : text.substr(0, slash);
}

}  // namespace

std::vector<std::string> QtModuleCandidates() {
  std::string folder = ProgramFolder();
  if (folder.empty()) return {};
  return {folder + "/../lib/ovra7server/" + kQtModuleFileName,
          folder + "/" + kQtModuleFileName};
}

std::unique_ptr<Backend> LoadQtBackend(const std::vector<std::string>& candidates) {
  qt::PlatformChoice choice = qt::ChooseQtPlatform();
  if (choice.platform.empty()) return Headless(choice.why_not);
  const std::string* found = nullptr;
  for (const std::string& candidate : candidates) {
    if (::access(candidate.c_str(), F_OK) == 0) {
      found = &candidate;
      break;
    }
  }
  if (!found) {
    return Headless(std::string("the window module ") + kQtModuleFileName +
                    " is not installed (package ovra7server-desktop)");
  }
  // Local: the module's own symbols serve it alone; it finds the framework in the program.
  void* module = ::dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* error = ::dlerror();
    return Headless("the window module cannot be loaded: " +
                    std::string(error ? error : *found));
  }
  auto open = reinterpret_cast<QtModuleOpenFunction>(::dlsym(module, kQtModuleEntryName));
  if (!open) {
    ::dlclose(module);
    return Headless("the window module " + *found + " is of another version (no " +
                    kQtModuleEntryName + ")");
  }
  std::unique_ptr<Backend> backend(open(choice.platform.c_str()));
  if (!backend) return Headless("the window module could not start Qt");
  return backend;  // the module stays loaded: the backend's code and Qt live in it
}

}  // namespace ui
