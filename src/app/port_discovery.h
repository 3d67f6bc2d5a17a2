// Which serial ports belong to a reader, and the port list built from them. Portable: the rule
// is fed by the platform's device list, so it holds (and is tested) the same on every system.
#pragma once

#include <string>
#include <vector>

#include "platform/device_list.h"

namespace app {

// Entry 0 of every port list: the automatic choice.
extern const char* const kAutomaticPortText;  // "自动"

// True when the hardware id, upper-cased, holds "VID_0425" and "PID_8159", or "VID_0400" and
// "PID_C35A", anywhere in the text.
bool IsReaderHardwareId(const std::string& hardwareId);

// A reader: class exactly "Ports" (case matters), a hardware id that passes the rule above and a
// port name that could be read.
bool IsReaderDevice(const platform::DeviceRecord& device);

// "自动" followed by the port names of the readers, in the devices' order.
std::vector<std::string> BuildPortList(const std::vector<platform::DeviceRecord>& devices);

// Lists the devices of this machine and builds the port list from them. Window's thread.
std::vector<std::string> DiscoverReaderPorts();

}  // namespace app
