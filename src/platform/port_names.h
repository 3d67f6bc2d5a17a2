// The port name rule for both systems as pure functions, so tests check either on any host.
#pragma once

#include <string>

namespace platform {

enum class PortNameStyle { kWindows, kLinux };

// The style of this build (defined by the backend's serial.cpp).
PortNameStyle NativePortNameStyle();

std::string PortNameFromNumber(int n, PortNameStyle style);
int PortNumberFromName(const std::string& name, PortNameStyle style);

}  // namespace platform
