// POSIX per-user application-data folder (XDG base directories).
#include "platform/app_data.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string UserAppDataDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    struct passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (!home || !*home) return std::string();
  std::string dir(home);
  if (dir.back() == '/') dir.pop_back();
  return dir + "/.config";
}

}  // namespace platform
