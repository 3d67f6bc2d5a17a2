// The reader port rule and the port list. Portable.
#include "app/port_discovery.h"

namespace app {

const char* const kAutomaticPortText = "自动";

bool IsReaderHardwareId(const std::string& hardwareId) {
  // The id is bounded the way the system's 1024-byte property buffer bounds it.
  std::string id = hardwareId.substr(0, 1023);
  for (char& c : id)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  auto has = [&id](const char* part) { return id.find(part) != std::string::npos; };
  return (has("VID_0425") && has("PID_8159")) || (has("VID_0400") && has("PID_C35A"));
}

bool IsReaderDevice(const platform::DeviceRecord& device) {
  return device.className == "Ports" && device.hasHardwareId &&
         IsReaderHardwareId(device.hardwareId) && device.hasPortName && !device.portName.empty();
}

std::vector<std::string> BuildPortList(const std::vector<platform::DeviceRecord>& devices) {
  std::vector<std::string> ports{kAutomaticPortText};
  for (const auto& device : devices)
    if (IsReaderDevice(device)) ports.push_back(device.portName);
  return ports;
}

std::vector<std::string> DiscoverReaderPorts() { return BuildPortList(platform::ListDevices()); }

}  // namespace app
