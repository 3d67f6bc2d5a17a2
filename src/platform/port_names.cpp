// Portable: the rule that maps port names to numbers lives here, so it holds on both systems.
// The name form depends on the target; PortNameStyle() says which one this build uses.
#include "platform/port_names.h"

#include <cstdlib>
#include <cstring>

#include "platform/serial.h"

namespace platform {

std::string PortNameFromNumber(int n, PortNameStyle style) {
  if (style == PortNameStyle::kWindows) return "COM" + std::to_string(n);
  if (n >= 1001) return "ttyUSB" + std::to_string(n - 1001);
  if (n >= 1) return "ttyACM" + std::to_string(n - 1);
  return std::string();
}

namespace {

// Leading decimal digits after prefix; -1 when name does not start with prefix or has no digits.
int DigitsAfter(const std::string& name, const char* prefix) {
  size_t len = std::strlen(prefix);
  if (name.compare(0, len, prefix) != 0 || name.size() == len) return -1;
  long value = 0;
  for (size_t i = len; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    value = value * 10 + (name[i] - '0');
    if (value > 100000) return -1;
  }
  return static_cast<int>(value);
}

}  // namespace

int PortNumberFromName(const std::string& name, PortNameStyle style) {
  if (style == PortNameStyle::kWindows) {
    // The name's first three characters are dropped and the rest read as a decimal number.
    if (name.size() < 3) return -1;
    return std::atoi(name.c_str() + 3);
  }
  int k = DigitsAfter(name, "ttyACM");
  if (k >= 0) return k + 1;
  k = DigitsAfter(name, "ttyUSB");
  if (k >= 0) return 1001 + k;
  return -1;
}

std::string PortNameFromNumber(int n) { return PortNameFromNumber(n, NativePortNameStyle()); }

int PortNumberFromName(const std::string& name) {
  return PortNumberFromName(name, NativePortNameStyle());
}

}  // namespace platform
