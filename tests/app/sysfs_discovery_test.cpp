// Linux discovery against a fake sysfs tree laid out as the kernel does for USB CDC ports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/port_discovery.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

// /sys/devices/.../<usb device>/<interface>/tty/<name>, class/tty/<name> -> that folder, and the
// tty's device link -> the interface, as the kernel lays them out.
void AddUsbTty(const fs::path& root, const std::string& usbDevice, const std::string& vid,
               const std::string& pid, const std::string& name) {
  fs::path device = root / "devices/pci0000:00/0000:00:14.0/usb1" / usbDevice;
  Write(device / "idVendor", vid);
  Write(device / "idProduct", pid);
  fs::path interface = device / (usbDevice + ":1.0");
  fs::path tty = interface / "tty" / name;
  fs::create_directories(tty);
  fs::create_directory_symlink(fs::relative(interface, tty), tty / "device");
  fs::create_directories(root / "class/tty");
  fs::create_directory_symlink(fs::relative(tty, root / "class/tty"), root / "class/tty" / name);
}

using testsupport::ScopedEnv;

}  // namespace

TEST(SysfsDiscovery, FindsReadersOnAcm0AndAcm2ButNotOtherTtys) {
  testsupport::TempFolder temp;
  fs::path root = temp.path() / "sys";
  AddUsbTty(root, "1-2", "0425", "8159", "ttyACM2");
  AddUsbTty(root, "1-1", "0425", "8159", "ttyACM0");
  AddUsbTty(root, "1-3", "067b", "2303", "ttyUSB0");  // some other adapter
  AddUsbTty(root, "1-4", "0400", "c35a", "ttyACM1");  // lower-case product id
  AddUsbTty(root, "1-5", "0425", "8158", "ttyACM3");  // wrong product
  fs::create_directories(root / "class/tty/tty0");    // a console: no device link
  fs::create_directories(root / "devices/virtual/tty/ptmx");
  fs::create_directory_symlink("../../devices/virtual/tty/ptmx", root / "class/tty/ptmx");

  ScopedEnv env("OVRA7_SYSFS_ROOT", root.string());
  std::vector<platform::DeviceRecord> devices = platform::ListDevices();
  ASSERT_EQ(5u, devices.size());  // tty0 and ptmx have no device behind them
  EXPECT_EQ("ttyACM0", devices[0].portName);
  EXPECT_EQ("USB\\VID_0425&PID_8159", devices[0].hardwareId);
  EXPECT_EQ("USB\\VID_0400&PID_c35a", devices[1].hardwareId);
  std::vector<std::string> expected = {"自动", "ttyACM0", "ttyACM1", "ttyACM2"};
  EXPECT_EQ(expected, app::DiscoverReaderPorts());
}

TEST(SysfsDiscovery, MissingTreeGivesOnlyTheAutomaticEntry) {
  ScopedEnv env("OVRA7_SYSFS_ROOT", "/nonexistent/ovra7/sys");
  EXPECT_EQ(std::vector<std::string>{"自动"}, app::DiscoverReaderPorts());
}
