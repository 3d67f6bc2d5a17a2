// The reader rule fed with device lists as the two systems report them.
#include "app/port_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::DeviceRecord;

namespace {

DeviceRecord Device(const std::string& cls, const std::string& id, const std::string& port) {
  DeviceRecord d;
  d.className = cls;
  d.hasHardwareId = !id.empty();
  d.hardwareId = id;
  d.hasPortName = !port.empty();
  d.portName = port;
  return d;
}

}  // namespace

TEST(PortDiscovery, MatchesBothReaderIdsInAnyCaseOnlyInThePortsClass) {
  EXPECT_TRUE(app::IsReaderHardwareId("USB\\VID_0425&PID_8159&REV_0100"));
  EXPECT_TRUE(app::IsReaderHardwareId("usb\\vid_0425&pid_8159"));
  EXPECT_TRUE(app::IsReaderHardwareId("USB\\VID_0400&PID_c35a"));
  EXPECT_FALSE(app::IsReaderHardwareId("USB\\VID_0425&PID_8158"));
  EXPECT_FALSE(app::IsReaderHardwareId("USB\\VID_0400&PID_8159"));  // pairs do not mix
  EXPECT_FALSE(app::IsReaderHardwareId(""));

  EXPECT_TRUE(app::IsReaderDevice(Device("Ports", "USB\\VID_0425&PID_8159", "COM3")));
  EXPECT_FALSE(app::IsReaderDevice(Device("ports", "USB\\VID_0425&PID_8159", "COM3")));
  EXPECT_FALSE(app::IsReaderDevice(Device("Modem", "USB\\VID_0425&PID_8159", "COM3")));
  EXPECT_FALSE(app::IsReaderDevice(Device("Ports", "USB\\VID_0425&PID_8159", "")));
}

TEST(PortDiscovery, RecordedWindowsDeviceListGivesReadersInEnumerationOrder) {
  // As SetupAPI reported a machine with two readers, a foreign serial adapter and a mouse.
  std::vector<DeviceRecord> devices = {
      Device("HIDClass", "HID\\VID_046D&PID_C077", ""),
      Device("Ports", "USB\\VID_0425&PID_8159&REV_0200", "COM7"),
      Device("Ports", "USB\\VID_067B&PID_2303", "COM4"),
      Device("Mouse", "USB\\VID_0425&PID_8159", ""),
      Device("Ports", "usb\\vid_0400&pid_c35a", "COM3"),
      Device("Ports", "ACPI\\PNP0501", "COM1"),
  };
  std::vector<std::string> expected = {"自动", "COM7", "COM3"};
  EXPECT_EQ(expected, app::BuildPortList(devices));
  EXPECT_EQ(std::vector<std::string>{"自动"}, app::BuildPortList({}));
}
