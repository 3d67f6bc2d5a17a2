// Placeholder until the serial backend lands: every open fails.
#include "platform/serial.h"

#include "platform/port_names.h"

namespace platform {

PortNameStyle NativePortNameStyle() { return PortNameStyle::kWindows; }

std::unique_ptr<SerialPort> OpenSerialPort(int, int) { return nullptr; }

std::string SerialDevicePath(int n) { return PortNameFromNumber(n); }

}  // namespace platform
