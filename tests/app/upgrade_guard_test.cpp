// What keeps a flash from being cut short, and what keeps it from being started twice or from
// outside: an exit asked for during the download waits for the flash to end, the session's end
// is refused meanwhile, the control channel's "status" says a flash runs, the flash is taken
// before the question, private messages that would carry pointers do nothing from outside, and
// a reader that could not be told to leave DFU mode is not a completed upgrade.
#include "platform/control_protocol.h"
#include "support/flash_statuses.h"
#include "upgrade_flow_fixture.h"

namespace apptest {
namespace {

using UpgradeGuardTest = UpgradeFlowTest;

// SIGTERM, Ctrl+C, the installer and the session's end all arrive as WM_EXIT_REQUEST.
TEST_F(UpgradeGuardTest, ExitDuringTheDownloadWaitsUntilTheFlashHasEnded) {
  MakeWindow();
  host_.AdvanceTime(2000);  // the start-up check: no device yet
  const Bytes firmware = CachePackage(40000, 51);
  testsupport::SimDfuOptions o;
  o.transferSize = 1024;
  o.holdAfterBytes = 8192;  // the download stops here until released
  auto device = bus_.Add(o);
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    auto& flashing = static_cast<DFUpgradeDialog&>(dialog);
    ASSERT_TRUE(Drive([&] { return device->holding(); }));
    host_.AdvanceTime(600);
    ASSERT_NE(flashing.GetProgressText(1043).find("Download Phase"), std::string::npos);
    window_->PostMessage(app::WM_EXIT_REQUEST, app::kExitWithoutQuestion, 0);
    host_.DispatchPosted();
    EXPECT_TRUE(window_->exitPending());
    EXPECT_TRUE(window_->IsCreated());
    EXPECT_TRUE(flashing.IsCreated());
    // The session's end is refused while the flash runs; the channel says a flash runs.
    EXPECT_FALSE(window_->DeliverQueryEndSession());
    EXPECT_EQ(window_->SendMessage(app::WM_SERVICE_CONTROL, 3, 0), platform::kStatusFlashing);
    device->Release();
    // The dialog ends by itself once the leave has run: nobody closes it.
    ASSERT_TRUE(Drive([&] { return flashing.sequenceEnded(); }));
  });
  std::string status;
  EXPECT_EQ(window_->RunPendingUpgrade(&status), platform::kUpgradeCompleted);
  EXPECT_EQ(status, testsupport::kFlashDone);
  EXPECT_TRUE(device->left());
  EXPECT_TRUE(FlashOf(*device, firmware.size()) == firmware);
  EXPECT_EQ(DialogStatusLines(),
            (std::vector<std::string>{"开始升级读卡器，请等待升级完成", "正在查找DFU设备",
                                      "找到DFU设备，正在打开", "正在查找匹配的升级包",
                                      "找到匹配的升级包,开始升级", "正在升级，请保持读卡器连接",
                                      "升级成功", "正在校验升级，请稍后", "校验成功",
                                      testsupport::kFlashDone}));
  const std::vector<std::string> order = {
      "session end and sleep", "exit requested while a flash runs: deferred until it has ended",
      "session end refused: a flash runs", "Verify successful !",
      "the flash has ended: the deferred exit is carried out", "StopService"};
  std::vector<std::string> lines = LogLines();
  size_t at = 0;
  for (const std::string& line : lines)
    if (at < order.size() && line.rfind(order[at], 0) == 0) ++at;
  EXPECT_EQ(at, order.size()) << "missing in order: " << (at < order.size() ? order[at] : "");
  host_.DispatchPosted();
  EXPECT_FALSE(window_->IsCreated());  // and then the program ended
  EXPECT_EQ(bus_.openDevices(), 0);
}

// An exit asked for before anything was erased (the dialog is still looking for the device)
// does not wait for a device that may never come.
TEST_F(UpgradeGuardTest, ExitBeforeTheEraseEndsTheDialogAtOnce) {
  MakeWindow();
  host_.AdvanceTime(2000);
  CachePackage(4000, 52);
  auto device = bus_.Add();
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    EXPECT_TRUE(dialog.IsCreated());
    window_->PostMessage(app::WM_EXIT_REQUEST, app::kExitWithoutQuestion, 0);
    host_.DispatchPosted();
  });
  std::string status;
  EXPECT_EQ(window_->RunPendingUpgrade(&status), platform::kUpgradeFailed);
  EXPECT_EQ(device->sectorErases(), 0u);
  host_.DispatchPosted();
  EXPECT_FALSE(window_->IsCreated());
}

TEST_F(UpgradeGuardTest, TheFlashIsTakenBeforeTheQuestionIsAsked) {
  CachePackage(6000, 53);
  auto device = bus_.Add();
  long inner = -1;
  std::string innerStatus = "unchanged";
  host_.ScriptWhileMessageBoxOpen([&] { inner = window_->RunPendingUpgrade(&innerStatus); });
  host_.ScriptMessageBoxAnswer(ui::MessageBoxResult::kYes);
  int dialogs = 0;
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    ++dialogs;
    ASSERT_TRUE(Drive([&] { return device->left(); }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  MakeWindow();
  ASSERT_TRUE(Drive([&] { return !host_.IsTimerRunning(*window_, app::kUpgradeCheckTimer) &&
                                 FlashingDialog() == nullptr && device->left(); }));
  EXPECT_EQ(inner, platform::kUpgradeBusy);
  EXPECT_EQ(innerStatus, "");
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"检查到有设备需要升级，是否升级?"});
}

// On Windows any process of the session can send these numbers; the window's own threads queue
// what goes with them. Sent with nothing queued (and a junk parameter), they do nothing.
TEST_F(UpgradeGuardTest, PrivateMessagesFromOutsideFlashNothingAndFreeNothing) {
  auto& reader = AddReader(3);
  MakeWindow();
  ASSERT_TRUE(window_->service().IsRunning());
  CachePackage(4000, 54);
  auto device = bus_.Add();
  const intptr_t junk = 0x7FFF1234;
  EXPECT_TRUE(window_->PostMessage(app::WM_UPGRADE_FILE_READY, 0, junk));
  EXPECT_TRUE(window_->PostMessage(app::WM_UPGRADE_REQUEST, 0, junk));
  EXPECT_TRUE(window_->PostMessage(app::WM_POSTED_DESTROY, 0, 0));
  EXPECT_EQ(window_->SendMessage(app::WM_POWER_EVENT, ui::kPowerSuspend, junk), 1);
  host_.DispatchPosted();
  host_.AdvanceTime(5000);
  EXPECT_TRUE(window_->IsCreated());
  EXPECT_TRUE(window_->service().IsRunning());  // no suspend was handled
  EXPECT_EQ(FlashingDialog(), nullptr);
  EXPECT_TRUE(DialogStatusLines().empty());
  EXPECT_EQ(device->sectorErases(), 0u);
  EXPECT_EQ(Count(reader, 0x0F), 0u);  // and the reader was not told to enter DFU mode
  EXPECT_EQ(LogCount("OnUpgradeFileDownloadFinished: no package queued, ignored"), 1);
  // The integers another process may send still work.
  EXPECT_EQ(window_->SendMessage(app::WM_SERVICE_CONTROL, 1, 0), 1);
  EXPECT_FALSE(window_->service().IsRunning());
}

TEST_F(UpgradeGuardTest, AReaderThatCouldNotLeaveDfuModeIsNotACompletedUpgrade) {
  MakeWindow();
  host_.AdvanceTime(2000);
  const Bytes firmware = CachePackage(5000, 55);
  testsupport::SimDfuOptions o;
  o.refusesLeave = true;
  auto device = bus_.Add(o);
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    ASSERT_TRUE(Drive([&] { return static_cast<DFUpgradeDialog&>(dialog).sequenceEnded(); }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  std::string status;
  EXPECT_EQ(window_->RunPendingUpgrade(&status), platform::kUpgradeFailed);
  EXPECT_EQ(status, "升级完成，但重启读卡器失败");
  EXPECT_TRUE(FlashOf(*device, firmware.size()) == firmware);
  EXPECT_FALSE(device->left());
}

}  // namespace
}  // namespace apptest
