// POSIX facts about the running program.
#include "platform/executable.h"

#include <unistd.h>

#include <climits>

#include "ovra7_version.h"

namespace platform {

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  // A link that fills the buffer may have been cut: no path rather than another one.
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string ProductVersionText() { return OVRA7_VERSION_TEXT; }

}  // namespace platform
