// Shared set-up of the flashing dialog's suites: the dialog on the headless host with a virtual
// clock, a simulated DFU device on a simulated USB bus, a simulated reader behind the USB command
// channel, packages and the cache in a folder of the test's own, and the log captured.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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
#include "support/sim_dfu_device.h"
#include "support/sim_hid_reader.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_host.h"

namespace dfutest {

using ui::headless::ClockMode;
using ui::headless::HeadlessHost;
namespace ids = dfu::ids;

constexpr uint32_t kFlash = 0x08000000;

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

  // A package for the simulated device's ids with one element of `bytes` at `address`.
  std::string WritePackage(const std::vector<uint8_t>& bytes, uint32_t address = kFlash,
                           const std::string& name = "reader.dfu") {
    DfuFileData file;
    file.idVendor = 0x0483;
    file.idProduct = 0xDF11;
    file.images.push_back(testsupport::OneElementImage(0, address, bytes));
    std::string path = packages_.file(name);
    EXPECT_TRUE(testsupport::WritePackage(path, file));
    return path;
  }

  // Fires the dialog's timers one by one on the virtual clock until `done`, giving the
  // library's worker threads a moment between ticks. False when `done` did not come within a
  // generous real-time bound (a hang).
  bool Drive(const std::function<bool()>& done, int boundMs = 60000) {
    const uint64_t end = platform::NowMs() + static_cast<uint64_t>(boundMs);
    while (!done()) {
      if (platform::NowMs() > end) return false;
      int64_t next = host_.NextTimerInMs();
      host_.AdvanceTime(next <= 0 ? 10 : static_cast<uint64_t>(next));
      platform::SleepMs(1);
    }
    return true;
  }
  bool DriveToEnd(DFUpgradeDialog& d) {
    return Drive([&] { return d.sequenceEnded(); });
  }
  // Waits in real time (ticking the dialog) until the device's hold has been reached.
  bool DriveIntoHold(testsupport::SimDfuDevice& device) {
    return Drive([&] { return device.holding(); });
  }

  // Status lines as the console saw them, phase lines left out.
  std::vector<std::string> StatusLines() const {
    std::vector<std::string> lines;
    for (const std::string& a : host_.announcements())
      if (!IsPhaseLine(a)) lines.push_back(a);
    return lines;
  }
  std::vector<std::string> PhaseAnnouncements() const {
    std::vector<std::string> lines;
    for (const std::string& a : host_.announcements())
      if (IsPhaseLine(a)) lines.push_back(a);
    return lines;
  }
  static bool IsPhaseLine(const std::string& line) {
    return line.rfind("Target ", 0) == 0 || line.rfind("Leaving ", 0) == 0 ||
           line.rfind("Detaching ", 0) == 0;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : host_.message_boxes()) texts.push_back(box.text);
    return texts;
  }
  // Log lines in order, without their time stamps.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::string text = log_.Text();
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      size_t first = line.find(' ');
      size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
      lines.push_back(second == std::string::npos ? line : line.substr(second + 1));
      start = end + 1;
    }
    return lines;
  }
  // True when `expected` appear in the log in this order (other lines may come between).
  bool LogInOrder(const std::vector<std::string>& expected) const {
    std::vector<std::string> lines = LogLines();
    size_t at = 0;
    for (const std::string& line : lines)
      if (at < expected.size() && line == expected[at]) ++at;
    return at == expected.size();
  }

  testsupport::TempFolder packages_;
  testsupport::TempFolder cache_;
  LogCapture log_;
  HeadlessHost host_{ClockMode::kVirtual};
  ui::ScopedBackend scoped_{&host_};
  testsupport::SimUsbBus bus_;
  testsupport::SimHidReader reader_;
};

}  // namespace dfutest
