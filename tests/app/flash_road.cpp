// The road of an upgrade: what the headless, Win32 and Qt suites share.
#include "flash_road.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <utility>

#include "app/main_window_template.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/port_names.h"
#include "platform/reader_usb.h"
#include "reader_upgrade_side.h"
#include "simulated_environment.h"
#include "support/dfu_packages.h"
#include "support/flash_statuses.h"
#include "support/log_lines.h"
#include "ui/backend.h"

namespace apptest {

namespace {

constexpr int kReaderPort = 3;
const char* const kDone = testsupport::kFlashDone;
const char kDownloadHalf[] = "Target 00: Upgrading - Download Phase (50%)...";
const char kLeft[] = "Leaving DFU mode 100%...";
const uint8_t kPing[] = {'p', 'i', 'n', 'g'};

}  // namespace

FlashRoad::FlashRoad(FlashWindowSystem windowSystem) : windowSystem_(std::move(windowSystem)) {}

FlashRoad::~FlashRoad() {
  // The window's service and relay go before the reader ends they use.
  window_.reset();
  readers_.clear();
  platform::SetReaderUsbHostForTesting(nullptr);
  LogEnabled = 0;
  ovra7log::SetLogDirForTesting("");
}

testsupport::SimulatedReader* FlashRoad::PlugReader() {
  testsupport::CableTimeouts quick;
  quick.intervalMs = 50;
  quick.perByteMs = 0;
  quick.constantMs = 100;
  testsupport::ReaderConfig config;
  config.platformHost = "127.0.0.1";
  config.platformPort = server_.port();
  readers_.push_back(std::make_unique<testsupport::SimulatedReader>(
      ports_.Add(kReaderPort, quick).ReaderEnd(), config));
  listed_.push_back(platform::PortNameFromNumber(kReaderPort));
  return readers_.back().get();
}

void FlashRoad::Start() {
  ASSERT_TRUE(http_.available()) << "run through ctest: the HTTP servers wrap this test";
  ovra7log::SetLogDirForTesting(folder_.dir());
  platform::SetReaderUsbHostForTesting(&usbReader_);
  testsupport::SimulatedReader* reader = first_ = PlugReader();

  window_ = std::make_unique<app::COvra7ServerDlg>(
      SimulatedEnvironment(folder_.file("OvraNetService"), ports_, listed_));
  LogEnabled = 1;
  ASSERT_TRUE(window_->Create());
  ASSERT_TRUE(window_->readerOnline());
  window_->service().downloader()->setTempDirForTesting(folder_.dir());

  // The reader's side before the loop runs: the connection, the notice, the order and its polls
  // are served by the relay thread alone.
  const size_t received = server_.Received().size();
  ASSERT_TRUE(reader->SendConnectRequest());
  ASSERT_TRUE(reader->WaitFrames(0x0A, 1, 10000));
  ASSERT_TRUE(reader->SendRelay(kPing, sizeof kPing));
  ASSERT_TRUE(server_.WaitReceived(received + sizeof kPing, 10000));
  const Bytes notice = {0x01, 0x3F, 0x02, ':', 'U', 'p', 'g', 'r', 'a', 'd', 'e', ':', 0x03};
  ASSERT_TRUE(server_.Send(notice));
  ASSERT_TRUE(reader->WaitRelayed(notice.size(), 10000));
  ASSERT_EQ(reader->Relayed(), notice);
  firmware_ = testsupport::Pattern(65536, 17);
  ASSERT_EQ(OrderAndPoll(*reader, http_, PackageFile(firmware_)), 0);
  char temp[kPackagePathBufferSize];
  ASSERT_TRUE(window_->service().downloader()->makeTempPath(temp, sizeof temp));
  tempPath_ = temp;
  startMs_ = platform::NowMs();
}

void FlashRoad::Tick() {
  if (platform::NowMs() - startMs_ > 180000) {
    timedOut_ = ended_ = true;
    if (device_) device_->Release();
    ui::PostQuit(1);
    return;
  }
  FlashDialogView view;
  if (!windowSystem_.read(&view)) {
    if (sawDialog_ && !ended_) {  // the dialog has been closed
      ended_ = true;
      ui::PostQuit(0);
    }
    return;
  }
  if (!sawDialog_) {
    // The reader acknowledged the enter-DFU command and restarts: its port goes, and the DFU
    // device appears a few searches later, held half way through the download.
    sawDialog_ = true;
    ports_.Get(kReaderPort)->Unplug();
    listed_.clear();
    window_->PostDeviceChange(ui::kDeviceRemoveComplete);  // as the system tells the window
    testsupport::SimDfuOptions o;
    o.writePollMs = windowSystem_.writePollMs;
    o.holdAfterBytes = 32768;
    device_ = bus_.AddAfterListings(o, 3);
  }
  if (statuses_.empty() || statuses_.back() != view.status) statuses_.push_back(view.status);
  positions_.push_back(view.position);
  // The device holds half way through the download; the dialog's next poll shows it.
  if (device_->holding()) ++heldTicks_;
  if (!shotDownload_ && device_->holding() && (view.bar == kDownloadHalf || heldTicks_ > 200)) {
    shotDownload_ = windowSystem_.shoot("download");
    atDownload_ = view;
    device_->Release();
  }
  if (device_->left() && !back_) {
    back_ = PlugReader();
    window_->PostDeviceChange(ui::kDeviceArrival);
  }
  if (back_ && window_->readerOnline() && view.status == kDone && view.bar == kLeft && !shotEnd_) {
    shotEnd_ = windowSystem_.shoot("end");
    atEnd_ = view;
    windowSystem_.close();  // the user closes it
  }
}

void FlashRoad::Check() {
  EXPECT_FALSE(timedOut_);
  EXPECT_TRUE(sawDialog_);
  EXPECT_TRUE(shotDownload_);
  EXPECT_TRUE(shotEnd_);
  ASSERT_NE(device_, nullptr);
  std::vector<uint8_t> flash;
  ASSERT_TRUE(device_->Read(0x08000000, static_cast<uint32_t>(firmware_.size()), &flash));
  EXPECT_TRUE(flash == firmware_) << "the reader's flash differs from the package";
  EXPECT_EQ(first_->CountFrames(0x0F), 1u);  // told to enter DFU mode over the serial link
  EXPECT_EQ(usbReader_.hidOpens, 0);         // and never through the USB command as well
  EXPECT_TRUE(window_->IsVisible());         // shown for the dialog
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(CachedPath(PackageFile(firmware_)))));
  EXPECT_EQ(atDownload_.warning, "在程序升级成功或失败前，请勿关闭本对话框！");
  // The bar carries the phase line as its window text; the byte count sits beside it.
  EXPECT_EQ(atDownload_.bar, kDownloadHalf);
  EXPECT_EQ(atDownload_.bytes, "32 KB(32768 Bytes) of 64 KB(65536 Bytes)");
  EXPECT_EQ(atEnd_.bar, kLeft);
  EXPECT_EQ(atEnd_.position, 100);
  EXPECT_EQ(atEnd_.bytes, "64 KB(65536 Bytes) of 64 KB(65536 Bytes)");
  // What the ticks saw of the status line follows the dialog's order.
  const std::vector<std::string>& order = testsupport::SuccessfulFlashStatuses();
  size_t at = 0;
  for (const std::string& s : statuses_) {
    while (at < order.size() && order[at] != s) ++at;
    EXPECT_LT(at, order.size()) << s << " out of order";
  }
  ASSERT_FALSE(statuses_.empty());
  EXPECT_EQ(statuses_.back(), kDone);
  for (int p : positions_) {
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100);
  }
  const std::vector<std::string> logged = {
      "Call enter dfu callback", "OnUpgradeFileDownloadFinished " + tempPath_,
      "StartUpgrade path: " + tempPath_, "File correctly loaded.",
      "Check DFU file success, m_HasDFUDevice = 1", "Find DFU Device success",
      "Select DFU Device success", "Launch Upgrade success", "Upgrade successful !",
      "Verify successful !"};
  at = 0;
  for (const std::string& line : testsupport::LogLines())
    if (at < logged.size() && line == logged[at]) ++at;
  EXPECT_EQ(at, logged.size()) << "missing from the log in order: " << logged[std::min(at, logged.size() - 1)];
  // The relay runs again, both ways, on the reader's port.
  ASSERT_NE(back_, nullptr);
  EXPECT_TRUE(window_->readerOnline());
  EXPECT_EQ(window_->GetItemText(app::ids::kPortLabel),
            "当前使用的端口：" + platform::PortNameFromNumber(kReaderPort));
  const size_t before = server_.Received().size();
  ASSERT_TRUE(back_->SendConnectRequest());
  ASSERT_TRUE(back_->WaitFrames(0x0A, 1, 10000));
  ASSERT_TRUE(back_->SendRelay(kPing, sizeof kPing));
  EXPECT_TRUE(server_.WaitReceived(before + sizeof kPing, 10000));
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_TRUE(server_.Send(hello));
  ASSERT_TRUE(back_->WaitRelayed(hello.size(), 10000));
  EXPECT_EQ(back_->Relayed(), hello);
  EXPECT_EQ(bus_.openDevices(), 0);
}

}  // namespace apptest
