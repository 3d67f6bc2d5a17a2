// The flashing dialog on the headless host with a virtual clock, a simulated DFU device on a
// simulated bus, a simulated reader behind the USB command channel, packages and the cache in
// folders of the test's own, and the log captured.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dfu/dfu_dialog_template.h"
#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/package_cache_folder.h"
#include "log_capture.h"
#include "platform/clock.h"
#include "platform/reader_usb.h"
#include "support/dfu_packages.h"
#include "support/drive_host.h"
#include "support/flash_statuses.h"
#include "support/sim_dfu_device.h"
#include "support/sim_hid_reader.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_host.h"

namespace dfutest {

namespace ids = dfu::ids;
constexpr uint32_t kFlash = 0x08000000;

// A package for the simulated device's ids, one image for target 0 with `bytes` at `address`.
inline DfuFileData DevicePackage(const std::vector<uint8_t>& bytes, uint32_t address = kFlash) {
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  file.images.push_back(testsupport::OneElementImage(0, address, bytes));
  return file;
}

class UpgradeDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::SetReaderUsbHostForTesting(&reader_);
    SetDfuPackageCacheFolderForTesting(cache_.dir());
  }
  void TearDown() override {
    SetDfuPackageCacheFolderForTesting("");
    platform::SetReaderUsbHostForTesting(nullptr);
  }

  std::string WritePackage(const DfuFileData& file, const std::string& name = "reader.dfu") {
    std::string path = packages_.file(name);
    EXPECT_TRUE(testsupport::WritePackage(path, file));
    return path;
  }
  std::string WritePackage(const std::vector<uint8_t>& bytes) {
    return WritePackage(DevicePackage(bytes));
  }

  // Fires the dialog's timers on the virtual clock until `done`, giving the library's workers a
  // moment between ticks; false when `done` did not come within a generous real-time bound.
  bool Drive(const std::function<bool()>& done) {
    return testsupport::DriveHost(host_, done, 60000);
  }
  bool DriveToEnd(DFUpgradeDialog& d) {
    return Drive([&] { return d.sequenceEnded(); });
  }
  bool DriveIntoHold(testsupport::SimDfuDevice& device) {
    return Drive([&] { return device.holding(); });
  }

  // A dialog told whether the reader is in DFU mode already, started on `path` and created.
  void Start(DFUpgradeDialog& d, const std::string& path, int inDfu = 1) {
    d.SetHasDFUDevice(inDfu);
    d.StartUpgrade(path);
    ASSERT_TRUE(d.Create());
  }

  static bool IsPhaseLine(const std::string& line) {
    return line.rfind("Target ", 0) == 0 || line.rfind("Leaving ", 0) == 0 ||
           line.rfind("Detaching ", 0) == 0;
  }
  // The console's lines: status lines, or phase lines.
  std::vector<std::string> Announced(bool phases) const {
    std::vector<std::string> lines;
    for (const std::string& a : host_.announcements())
      if (IsPhaseLine(a) == phases) lines.push_back(a);
    return lines;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : host_.message_boxes()) texts.push_back(box.text);
    return texts;
  }

  testsupport::TempFolder packages_;
  testsupport::TempFolder cache_;
  LogCapture log_;
  ui::headless::HeadlessHost host_{ui::headless::ClockMode::kVirtual};
  ui::ScopedBackend scoped_{&host_};
  testsupport::SimUsbBus bus_;
  testsupport::SimHidReader reader_;
};

}  // namespace dfutest
