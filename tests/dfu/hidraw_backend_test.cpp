// The Linux hidraw backend over a fake sysfs and device folder: paths carry the ids in lower
// case so the portable matching rule holds, and the node behind a path opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dfu/reader_usb_port.h"
#include "platform/reader_usb.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

TEST(HidrawBackend, ListsNodesWithTheirIdsAndOpensThem) {
  testsupport::TempFolder root;
  const fs::path sys = root.path() / "sys", dev = root.path() / "dev";
  const struct {
    const char* node;
    const char* id;
  } nodes[] = {{"hidraw0", "HID_ID=0003:0000046D:0000C52B"},
               {"hidraw3", "HID_ID=0003:00000425:00008159"}};
  fs::create_directories(dev);
  for (const auto& n : nodes) {
    fs::create_directories(sys / "class/hidraw" / n.node / "device");
    std::ofstream(sys / "class/hidraw" / n.node / "device/uevent") << "DRIVER=hid-generic\n"
                                                                   << n.id << "\nHID_NAME=reader\n";
    std::ofstream(dev / n.node) << "";
  }
  setenv("OVRA7_SYSFS_ROOT", sys.c_str(), 1);
  setenv("OVRA7_DEV_DIR", dev.c_str(), 1);
  std::vector<std::string> paths;
  ASSERT_TRUE(platform::SystemReaderUsbHost().ListHidPaths(&paths));
  std::sort(paths.begin(), paths.end());
  ASSERT_EQ(2u, paths.size());
  EXPECT_EQ("hid#vid_0425&pid_8159#" + (dev / "hidraw3").string(), paths[0]);
  EXPECT_EQ("hid#vid_046d&pid_c52b#" + (dev / "hidraw0").string(), paths[1]);
  EXPECT_NE(nullptr, platform::SystemReaderUsbHost().OpenHid(paths[0]));
  EXPECT_EQ(nullptr, platform::SystemReaderUsbHost().OpenHid("hid#vid_0425&pid_8159#/nonexistent"));
  std::string vendor;
  EXPECT_FALSE(platform::SystemReaderUsbHost().FirstVendorPath(&vendor));  // no vendor route
  unsetenv("OVRA7_SYSFS_ROOT");
  unsetenv("OVRA7_DEV_DIR");
}
