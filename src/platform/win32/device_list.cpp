// Win32 device listing: SetupAPI over all present devices, class name, first hardware id and
// the "PortName" value of the device's hardware key.
#include "platform/device_list.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include "platform/win32/utf.h"

namespace platform {
namespace {

// GUID_DEVINTERFACE_COMPORT; its header drags in kernel types, so the value is spelt out here.
const GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// A zero-terminated text property into a zeroed 1024-byte buffer; false when it cannot be read.
bool TextProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::string* text) {
  wchar_t buffer[512] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                         nullptr))
    return false;
  buffer[511] = 0;  // a multi-text property: only its first text counts
  *text = Narrow(buffer);
  return true;
}

bool PortName(HDEVINFO set, SP_DEVINFO_DATA* device, std::string* name) {
  HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return false;
  wchar_t buffer[128] = {};
  DWORD size = 255;
  DWORD type = 0;
  bool ok = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!ok) return false;
  buffer[127] = 0;
  *name = Narrow(buffer);
  return true;
}

}  // namespace

std::vector<DeviceRecord> ListDevices() {
  std::vector<DeviceRecord> devices;
  HDEVINFO set =
      SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA device;
  for (DWORD index = 0;; ++index) {
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
    DeviceRecord record;
    TextProperty(set, &device, SPDRP_CLASS, &record.className);
    // Only serial ports can carry a port name; opening every device's key would be wasted.
    if (record.className != "Ports") {
      devices.push_back(record);
      continue;
    }
    record.hasHardwareId = TextProperty(set, &device, SPDRP_HARDWAREID, &record.hardwareId);
    if (record.hasHardwareId) record.hasPortName = PortName(set, &device, &record.portName);
    devices.push_back(record);
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

}  // namespace platform
