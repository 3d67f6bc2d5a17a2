// Shared set-up of the upgrade-flow suites: the main window fixture plus a simulated USB bus for
// the DFU device, a simulated reader behind the USB command channel, the loopback HTTP server
// for packages, and helpers that play the reader's side of a download and drive the dialog.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/reader_usb.h"
#include "reader_upgrade_side.h"
#include "support/drive_host.h"
#include "support/sim_dfu_device.h"
#include "support/sim_hid_reader.h"
#include "window_fixture.h"

namespace apptest {

// Every status line the flashing dialog can show: what the console saw of them, in order.
inline bool IsDialogStatus(const std::string& line) {
  static const std::vector<std::string> texts = {
      "开始升级读卡器，请等待升级完成", "正在查找DFU设备", "升级文件校验失败",
      "升级文件校验成功，正在查找DFU设备", "找到DFU设备，正在打开", "DFU设备打开失败",
      "正在查找匹配的升级包", "找到匹配的升级包,开始升级", "未找到匹配的升级包",
      "DFU设备打开成功，开始升级", "升级文件与当前设备不匹配，无法升级",
      "正在升级，请保持读卡器连接", "启动升级失败", "升级成功", "正在校验升级，请稍后",
      "校验成功", "升级完成，但重启读卡器失败", "升级失败，请重新升级读卡器",
      "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器"};
  return std::find(texts.begin(), texts.end(), line) != texts.end();
}

class UpgradeFlowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    platform::SetReaderUsbHostForTesting(&usbReader_);
    // Packages cached by an earlier test must not be chosen in this one.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(PackageCacheFolder()), ignored);
  }
  void TearDown() override {
    WindowTest::TearDown();
    platform::SetReaderUsbHostForTesting(nullptr);
  }

  int OrderAndPoll(testsupport::SimulatedReader& reader, const Bytes& file) {
    return apptest::OrderAndPoll(reader, http_, file);
  }

  // Fires the windows' timers on the virtual clock (posts from other threads are delivered on
  // the way) until `done`, giving the worker threads a moment between ticks. False when `done`
  // did not come within a generous real-time bound.
  bool Drive(const std::function<bool()>& done, int boundMs = 90000) {
    return testsupport::DriveHost(host_, done, boundMs);
  }

  std::vector<std::string> DialogStatusLines() const {
    std::vector<std::string> lines;
    for (const std::string& a : host_.announcements())
      if (IsDialogStatus(a)) lines.push_back(a);
    return lines;
  }
  // A package in the cache; the bytes it flashes.
  Bytes CachePackage(size_t size, uint32_t seed) {
    const Bytes firmware = testsupport::Pattern(size, seed);
    std::filesystem::create_directories(std::filesystem::u8path(PackageCacheFolder()));
    EXPECT_TRUE(testsupport::WriteBytes(
        PackageCacheFolder() + platform::PathSeparator() + "c.dfu", PackageFile(firmware)));
    return firmware;
  }
  static Bytes FlashOf(testsupport::SimDfuDevice& device, size_t size) {
    Bytes flash;
    device.Read(0x08000000, static_cast<uint32_t>(size), &flash);
    return flash;
  }
  // The dialog's window while it runs, or null.
  ui::Dialog* FlashingDialog() const { return host_.FindDialog("DFU升级"); }

  testsupport::LoopbackHttpServer http_;
  testsupport::SimUsbBus bus_;
  testsupport::SimHidReader usbReader_;
};

}  // namespace apptest
