// POSIX device listing from sysfs: every tty that has a device behind it, with the USB ids of
// the nearest ancestor that carries them. Only generic Linux sysfs code belongs here.
#include "platform/device_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/port_names.h"
#include "platform/serial.h"

namespace platform {
namespace {

std::string SysfsRoot() {
  const char* root = std::getenv("OVRA7_SYSFS_ROOT");
  std::string r = (root && *root) ? root : "/sys";
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (!realpath(path.c_str(), buffer)) return std::string();
  return buffer;
}

// The first line of a small attribute file, blanks trimmed; false when unreadable or empty.
bool ReadAttribute(const std::string& path, std::string* value) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[64];
  size_t n = std::fread(buffer, 1, sizeof buffer, f);
  std::fclose(f);
  std::string text(buffer, n);
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (text.empty()) return false;
  *value = text;
  return true;
}

// Walks from the tty's device up to the sysfs root for the first folder with both USB ids.
bool UsbHardwareId(const std::string& root, std::string device, std::string* id) {
  while (device.size() > root.size() && device.compare(0, root.size(), root) == 0) {
    std::string vendor, product;
    if (ReadAttribute(device + "/idVendor", &vendor) &&
        ReadAttribute(device + "/idProduct", &product)) {
      *id = "USB\\VID_" + vendor + "&PID_" + product;
      return true;
    }
    size_t slash = device.rfind('/');
    if (slash == std::string::npos || slash == 0) break;
    device.resize(slash);
  }
  return false;
}

}  // namespace

std::vector<DeviceRecord> ListDevices() {
  std::vector<DeviceRecord> devices;
  std::string root = RealPath(SysfsRoot());
  if (root.empty()) return devices;
  std::string ttyDir = root + "/class/tty";
  DIR* dir = opendir(ttyDir.c_str());
  if (!dir) return devices;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    // Virtual terminals and ptys have no device link: they cannot be a reader.
    std::string device = RealPath(ttyDir + "/" + name + "/device");
    if (device.empty()) continue;
    DeviceRecord record;
    record.className = "Ports";
    record.hasHardwareId = UsbHardwareId(root, device, &record.hardwareId);
    record.hasPortName = true;
    record.portName = name;
    devices.push_back(record);
  }
  closedir(dir);
  // readdir has no useful order; the port number order is what a user expects to see.
  std::sort(devices.begin(), devices.end(), [](const DeviceRecord& a, const DeviceRecord& b) {
    int na = PortNumberFromName(a.portName), nb = PortNumberFromName(b.portName);
    if (na != nb) return static_cast<unsigned>(na) < static_cast<unsigned>(nb);
    return a.portName < b.portName;
  });
  return devices;
}

}  // namespace platform
