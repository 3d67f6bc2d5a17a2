// The flashing dialog's sequence on the simulated device: a whole flash with every status line,
// log line, phase line and byte count; the read-back comparison; the reader's enter-DFU command.
#include <cctype>

#include "support/flash_statuses.h"
#include "upgrade_dialog_fixture.h"

namespace dfutest {
namespace {

const char* const kDone = testsupport::kFlashDone;

// Percent of a phase line ("... (45%)..." or "... 45%...").
int PercentOf(const std::string& line) {
  size_t end = line.rfind('%');
  size_t start = end;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(line[start - 1]))) --start;
  return end == std::string::npos || start == end ? -1 : std::stoi(line.substr(start, end - start));
}

std::string PhaseOf(const std::string& line) {
  for (const char* phase : {"Erase Phase", "Download Phase", "Uploading", "Leaving DFU mode"})
    if (line.find(phase) != std::string::npos) return phase;
  return line.empty() ? "" : "other";
}

TEST_F(UpgradeDialogTest, FlashesVerifiesAndLeavesWithEveryLineInOrderAndStaysOpenUntilClosed) {
  auto device = bus_.Add();
  const std::vector<uint8_t> package = testsupport::Pattern(70000, 7);
  const std::string path = WritePackage(package);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(path);
  ASSERT_TRUE(d.Create());
  EXPECT_EQ(d.dialog_template().resource_id, 136);
  EXPECT_EQ(d.dialog_template().caption, "DFU升级");
  EXPECT_EQ(d.GetItemText(ids::kWarning), "在程序升级成功或失败前，请勿关闭本对话框！");
  EXPECT_EQ(d.GetItemText(ids::kStatus), "开始升级读卡器，请等待升级完成");
  EXPECT_EQ(host_.TimerPeriod(d, 1), 500);

  ASSERT_TRUE(Drive([&] { return d.lastStatus() == kDone && device->left(); }));
  // The leave operation runs to its end on the next polls, then nothing is running.
  ASSERT_TRUE(Drive([&] { return d.GetProgressText(ids::kProgress) == "Leaving DFU mode 100%..."; }));
  EXPECT_TRUE(d.sequenceEnded());

  std::vector<uint8_t> flash;
  ASSERT_TRUE(device->Read(kFlash, static_cast<uint32_t>(package.size()), &flash));
  EXPECT_TRUE(flash == package) << "the device's flash differs from the package";
  EXPECT_EQ(reader_.hidOpens, 0) << "the enter-DFU command was sent to a reader already in DFU";
  EXPECT_EQ(reader_.vendorOpens, 0);

  EXPECT_EQ(StatusLines(), testsupport::SuccessfulFlashStatuses());
  EXPECT_TRUE(LogInOrder({"StartUpgrade path: " + path, "File correctly loaded.",
                          "Check DFU file success, m_HasDFUDevice = 1", "Find DFU Device success",
                          "Select DFU Device success", "Launch Upgrade success",
                          "Upgrade successful !", "Verify successful !"}))
      << log_.Text();

  // The bar: each phase rises from its start to 100 in the order erase, download, read back,
  // leave; the read back and the leave start again from an empty bar at 0.
  std::vector<std::string> phases;
  int last = -1, pos = 0;
  std::string text;
  for (const auto& r : host_.progress_records()) {
    EXPECT_EQ(r.id, ids::kProgress);
    if (r.pos != pos) {
      // The position always follows the line's percent; an empty line starts again at 0.
      EXPECT_EQ(r.pos, r.text.empty() ? 0 : PercentOf(r.text)) << r.text;
      pos = r.pos;
    }
    if (r.text == text) continue;
    text = r.text;
    std::string phase = PhaseOf(r.text);
    if (phase.empty()) continue;
    if (phases.empty() || phases.back() != phase) {
      phases.push_back(phase);
      last = -1;
    }
    EXPECT_GE(PercentOf(r.text), last) << r.text;
    last = PercentOf(r.text);
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"Erase Phase", "Download Phase", "Uploading",
                                              "Leaving DFU mode"}));
  EXPECT_EQ(d.GetProgressPos(ids::kProgress), 100);
  // The upload's last line counts every byte read back.
  EXPECT_EQ(d.GetItemText(ids::kTransfer), "68 KB(70000 Bytes) of 68 KB(70000 Bytes)");

  // The console sees each phase, once per ten-percent step at most.
  std::vector<std::string> steps = PhaseAnnouncements();
  ASSERT_FALSE(steps.empty());
  for (size_t i = 1; i < steps.size(); ++i) {
    if (PhaseOf(steps[i]) != PhaseOf(steps[i - 1])) continue;
    EXPECT_GT(PercentOf(steps[i]) / 10, PercentOf(steps[i - 1]) / 10)
        << steps[i - 1] << " then " << steps[i];
  }
  EXPECT_EQ(steps.back(), "Leaving DFU mode 100%...");

  // Nothing more happens, but the dialog stays until the user closes it.
  const size_t records = host_.progress_records().size();
  host_.AdvanceTime(60000);
  EXPECT_TRUE(d.IsCreated());
  EXPECT_EQ(d.lastStatus(), kDone);
  EXPECT_EQ(host_.progress_records().size(), records);
  for (int id : {1, 2, 3, 4, 5, 7}) EXPECT_FALSE(host_.IsTimerRunning(d, id)) << id;
  EXPECT_TRUE(BoxTexts().empty());
  d.DestroyWindow();
  EXPECT_EQ(bus_.openDevices(), 0);
}

TEST_F(UpgradeDialogTest, ByteCountLineIsTruncatingUnsigned32BitArithmetic) {
  testsupport::SimDfuOptions o;
  o.transferSize = 1750;  // 40 blocks: the hold after 20 of them is exactly half way
  o.holdAfterBytes = 35000;
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(70000, 3)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveIntoHold(*device));
  host_.AdvanceTime(600);  // two polls inside the hold
  EXPECT_EQ(d.GetProgressText(ids::kProgress), "Target 00: Upgrading - Download Phase (50%)...");
  EXPECT_EQ(d.GetProgressPos(ids::kProgress), 50);
  EXPECT_EQ(d.GetItemText(ids::kTransfer), "34 KB(35000 Bytes) of 68 KB(70000 Bytes)");
  device->Release();
  ASSERT_TRUE(Drive([&] { return d.lastStatus().rfind("升级完成", 0) == 0; }));
}

TEST_F(UpgradeDialogTest, ReadBackDifferingInItsLastByteNamesItAndNeverLeaves) {
  std::vector<uint8_t> package = testsupport::Pattern(5000, 9);
  package.back() = 0x5A;
  testsupport::SimDfuOptions o;
  o.brokenCell = kFlash + 4999;  // this flash byte never takes data
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(package));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "Matching not good. First Difference at address 0x08001387:\n"
                            "File  byte  is  0x5A.\nRead byte is 0xFF."}));
  EXPECT_TRUE(log_.Has("Verify successful, but data not matching..."));
  EXPECT_FALSE(log_.Has("Verify successful !"));
  EXPECT_EQ(d.lastStatus(), "正在校验升级，请稍后");
  host_.AdvanceTime(5000);
  EXPECT_FALSE(host_.IsTimerRunning(d, 7));
  EXPECT_FALSE(device->left());
  EXPECT_EQ(BoxTexts().size(), 1u);
}

TEST_F(UpgradeDialogTest, EnterDfuCommandGoesToTheReaderOnlyWhenItIsNotYetInDfuMode) {
  // The reader answers on the third poll; the DFU device then appears a few searches later.
  reader_.options.answerOnPoll = 3;
  auto device = bus_.AddAfterListings(testsupport::SimDfuOptions(), 4);
  const std::string path = WritePackage(testsupport::Pattern(3000, 1));
  DFUpgradeDialog d;
  d.SetHasDFUDevice(0);
  d.StartUpgrade(path);
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(Drive([&] { return d.lastStatus() == kDone && device->left(); }));
  EXPECT_EQ(reader_.hidOpens, 1);
  EXPECT_EQ(reader_.polls, 3);
  EXPECT_EQ(reader_.openHandles, 0);
  EXPECT_EQ(reader_.lastOutput.size(), 65u);
  EXPECT_EQ(std::vector<uint8_t>(reader_.lastOutput.begin() + 1, reader_.lastOutput.begin() + 8),
            (std::vector<uint8_t>{0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA}));
  EXPECT_TRUE(LogInOrder({"Check DFU file success, m_HasDFUDevice = 0", "Enter DFU Mode success",
                          "Find DFU Device success"}));
  EXPECT_TRUE(device->left());
}

TEST_F(UpgradeDialogTest, AReaderThatNeverAcknowledgesLeavesTheDialogAtItsFirstText) {
  reader_.options.answerOnPoll = 0;
  bus_.Add();
  {
    DFUpgradeDialog d;  // no path: the check keeps the first text
    d.SetHasDFUDevice(0);
    d.StartUpgrade("");
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(DriveToEnd(d));
    host_.AdvanceTime(10000);
    EXPECT_EQ(d.lastStatus(), "开始升级读卡器，请等待升级完成");
    EXPECT_EQ(d.GetItemText(ids::kStatus), "开始升级读卡器，请等待升级完成");
    for (int id = 1; id <= 7; ++id) EXPECT_FALSE(host_.IsTimerRunning(d, id)) << id;
  }
  EXPECT_EQ(reader_.polls, 5);  // five polls, then the command counts as failed
  EXPECT_EQ(reader_.openHandles, 0);
  DFUpgradeDialog d;  // with a path: the package check's text stays
  d.StartUpgrade(WritePackage(testsupport::Pattern(100, 2)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.lastStatus(), "升级文件校验成功，正在查找DFU设备");
  EXPECT_FALSE(log_.Has("Enter DFU Mode success"));
  EXPECT_FALSE(log_.Has("Find DFU Device success"));
}

TEST_F(UpgradeDialogTest, CachedPackageIsChosenWhenNoPathIsGivenAndItsAbsenceIsReported) {
  auto device = bus_.Add();
  {
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade("");
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(DriveToEnd(d));
    EXPECT_EQ(StatusLines(), (std::vector<std::string>{"开始升级读卡器，请等待升级完成",
                                                       "正在查找DFU设备", "找到DFU设备，正在打开",
                                                       "正在查找匹配的升级包", "未找到匹配的升级包"}));
    EXPECT_TRUE(log_.Has("Auto select DFU file failed"));
  }
  const std::vector<uint8_t> package = testsupport::Pattern(4096, 5);
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  file.images.push_back(testsupport::OneElementImage(0, kFlash, package));
  ASSERT_TRUE(testsupport::WritePackage(cache_.file("cached_ABC.dfu"), file));
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade("");
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(Drive([&] { return d.lastStatus() == kDone; }));
  EXPECT_EQ(d.m_UpgradeFilePath, cache_.file("cached_ABC.dfu"));
  std::vector<std::string> lines = StatusLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "找到匹配的升级包,开始升级"), lines.end());
  std::vector<uint8_t> flash;
  ASSERT_TRUE(device->Read(kFlash, 4096, &flash));
  EXPECT_TRUE(flash == package);
}

}  // namespace
}  // namespace dfutest
