// The two ways into flashing and where they stop: a reader that refuses the enter-DFU command
// (the package stays cached and the next start offers it), the start-up check only when no
// reader runs, the question answered No, and the control socket's "upgrade" with its results.
#include <atomic>
#include <thread>

#include "platform/control_protocol.h"
#include "upgrade_flow_fixture.h"

namespace apptest {
namespace {

const char kDone[] = "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器";
const char kQuestion[] = "检查到有设备需要升级，是否升级?";

TEST_F(UpgradeFlowTest, RefusedEnterDfuKeepsThePackageCachedAndTheNextStartOffersIt) {
  ASSERT_TRUE(http_.available()) << "run through ctest: the HTTP servers wrap this test";
  testsupport::ReaderConfig config = ReachableConfig();
  config.status[0x0F] = 1;  // the reader refuses to enter DFU mode
  auto& reader = AddReader(3, config);
  MakeWindow();
  window_->service().downloader()->setTempDirForTesting(folder_.dir());
  const Bytes firmware = testsupport::Pattern(12000, 31);
  const Bytes file = PackageFile(firmware);
  ASSERT_EQ(OrderAndPoll(reader, file), 0);
  ASSERT_TRUE(Drive([&] { return !host_.message_boxes().empty(); }));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Notify Device Enter DFU Mode failed"});
  EXPECT_EQ(host_.message_boxes()[0].caption, "Ovra7Server");
  EXPECT_EQ(host_.message_boxes()[0].buttons, ui::MessageBoxButtons::kOk);
  EXPECT_EQ(Count(reader, 0x0F), 1u);
  EXPECT_TRUE(DialogStatusLines().empty());  // no dialog
  EXPECT_EQ(LogCount("StartUpgrade path: " + std::string()), 0);
  ASSERT_TRUE(std::filesystem::exists(std::filesystem::u8path(CachedPath(file))));

  // The program ends; the reader is later found waiting in DFU mode, and no reader port.
  window_.reset();
  readers_.clear();
  listed_.clear();
  host_.ClearMessageBoxes();
  auto device = bus_.Add();
  host_.ScriptMessageBoxAnswer(ui::MessageBoxResult::kYes);
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    ASSERT_TRUE(Drive([&] { return device->left(); }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  MakeWindow();
  EXPECT_FALSE(window_->readerOnline());
  EXPECT_EQ(host_.TimerPeriod(*window_, app::kUpgradeCheckTimer), 2000);
  ASSERT_TRUE(Drive([&] { return !host_.IsTimerRunning(*window_, app::kUpgradeCheckTimer) &&
                                 host_.FindDialog("DFU升级") == nullptr; }));
  ASSERT_EQ(host_.message_boxes().size(), 1u);
  EXPECT_EQ(host_.message_boxes()[0].text, kQuestion);
  EXPECT_EQ(host_.message_boxes()[0].caption, "提示");
  EXPECT_EQ(host_.message_boxes()[0].buttons, ui::MessageBoxButtons::kYesNo);
  EXPECT_TRUE(window_->IsVisible());
  std::vector<std::string> lines = DialogStatusLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), kDone);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "找到匹配的升级包,开始升级"), lines.end());
  EXPECT_TRUE(FlashOf(*device, firmware.size()) == firmware);
  EXPECT_EQ(LogCount("StartUpgrade path: "), 1);
}

TEST_F(UpgradeFlowTest, StartWithARunningReaderNeverChecksAndANoAnswerFlashesNothing) {
  auto device = bus_.Add();
  AddReader(2);
  MakeWindow();
  ASSERT_TRUE(window_->readerOnline());
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kUpgradeCheckTimer));
  host_.AdvanceTime(30000);
  EXPECT_TRUE(host_.message_boxes().empty());
  EXPECT_TRUE(DialogStatusLines().empty());
  EXPECT_FALSE(window_->IsVisible());

  // Without a reader the check runs once; the question answered No (as on a console) ends it.
  window_.reset();
  readers_.clear();
  listed_.clear();
  MakeWindow();
  host_.AdvanceTime(2000);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kQuestion});
  EXPECT_EQ(host_.message_boxes()[0].answer, ui::MessageBoxResult::kNo);
  host_.AdvanceTime(30000);
  EXPECT_EQ(BoxTexts().size(), 1u);
  EXPECT_TRUE(DialogStatusLines().empty());
  EXPECT_EQ(device->sectorErases(), 0u);
  EXPECT_EQ(bus_.openDevices(), 0);
}

TEST_F(UpgradeFlowTest, UpgradeRequestFromAnotherThreadFlashesWithoutAskingAndReportsTheEnd) {
  MakeWindow();
  host_.AdvanceTime(2000);  // the start-up check: no DFU device, nothing shown
  EXPECT_TRUE(host_.message_boxes().empty());

  // No device: answered at once, no dialog.
  std::string status = "unchanged";
  EXPECT_EQ(window_->RunPendingUpgrade(&status), platform::kUpgradeNoDevice);
  EXPECT_EQ(status, "");

  // A device and a cached package: the request blocks its thread until the dialog has ended.
  const Bytes firmware = CachePackage(8000, 41);
  auto device = bus_.Add();
  long busy = -1;
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    std::string inner;
    busy = window_->RunPendingUpgrade(&inner);  // a second request meanwhile
    // The tray menu's exit is refused while the dialog runs.
    host_.ScriptMenuChoice(ids::kTrayExit);
    EXPECT_TRUE(host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp));
    EXPECT_TRUE(window_->IsCreated());
    ASSERT_TRUE(Drive([&] { return device->left(); }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  std::atomic<long> result{-1};
  std::string remote;
  std::thread client([&] {
    window_->RequestUpgrade([&](long r, const std::string& line) {
      remote = line;
      result = r;
    });
  });
  client.join();  // the request is queued: the thread does not wait for the flash
  ASSERT_TRUE(Drive([&] { return result.load() != -1; }));
  EXPECT_EQ(result.load(), platform::kUpgradeCompleted);
  EXPECT_EQ(remote, kDone);
  EXPECT_EQ(busy, platform::kUpgradeBusy);
  // Nobody was asked; only the refused exit was told.
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"在程序升级成功或失败前，请勿关闭本对话框！"});
  host_.DispatchPosted();
  EXPECT_TRUE(window_->IsCreated());  // the exit did not happen
  EXPECT_TRUE(FlashOf(*device, firmware.size()) == firmware);

  // A dialog that ends otherwise reports 1 with its own last line.
  std::filesystem::remove_all(std::filesystem::u8path(PackageCacheFolder()));
  bus_.Add();
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    ASSERT_TRUE(Drive([&] { return static_cast<DFUpgradeDialog&>(dialog).sequenceEnded(); }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  EXPECT_EQ(window_->RunPendingUpgrade(&status), platform::kUpgradeFailed);
  EXPECT_EQ(status, "未找到匹配的升级包");
}

}  // namespace
}  // namespace apptest
