// The program's per-user folder. Portable; the per-user folder itself is the system's.
#include "platform/app_data.h"

#include "platform/paths.h"

namespace platform {

std::string ProgramDataFolder() {
  std::string base = UserAppDataDir();
  if (base.empty()) return std::string();
  return base + PathSeparator() + "OvraNetService";
}

}  // namespace platform
