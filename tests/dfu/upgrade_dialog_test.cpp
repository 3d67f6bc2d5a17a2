// The flashing dialog on the simulated device: how each fault ends the sequence, what a flash
// shows beyond the whole road (tests/app), closing at each moment, the console without a user,
// and the reader's enter-DFU command.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "dfu/dfuse/stdfuprt.h"
#include "support/virtual_clock.h"
#include "upgrade_dialog_fixture.h"
#include "with_option.h"

namespace dfutest {
namespace {

const char* const kDone = testsupport::kFlashDone;
const char kUpgradeAgain[] = "升级失败，请重新升级读卡器";
const char kLaunchFailed[] = "启动升级失败";
const char kVerifying[] = "正在校验升级，请稍后";
const char kFirstText[] = "开始升级读卡器，请等待升级完成";

// A dialog whose library refuses to launch one operation, or forgets a download it launched.
class ScriptedDialog : public DFUpgradeDialog {
 public:
  uint32_t refused = 0xFF;
  bool forgetsDownload = false;

 protected:
  uint32_t LaunchOperation(OperationContext* context, DfuOperationHandle* handle) override {
    if (context->operation == refused) return STDFUPRT_BADPARAMETER;
    if (forgetsDownload && context->operation == kOperationDownload) {
      *handle = 0x5EED;
      return STDFU_NOERROR;
    }
    return DFUpgradeDialog::LaunchOperation(context, handle);
  }
};

bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

std::vector<uint8_t> FlashOf(testsupport::SimDfuDevice& device, size_t size) {
  std::vector<uint8_t> flash;
  device.Read(kFlash, static_cast<uint32_t>(size), &flash);
  return flash;
}

// Percent of a phase line ("... (45%)..." or "... 45%...").
int PercentOf(const std::string& line) {
  size_t end = line.rfind('%'), start = end;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(line[start - 1]))) --start;
  return end == std::string::npos || start == end ? -1 : std::stoi(line.substr(start, end - start));
}

std::string PhaseOf(const std::string& line) {
  for (const char* phase : {"Erase Phase", "Download Phase", "Uploading", "Leaving DFU mode"})
    if (line.find(phase) != std::string::npos) return phase;
  return line.empty() ? "" : "other";
}

enum Flash { kUntouched, kErased, kWritten };
// What else goes wrong: the package, or the library or the device during the flash.
enum Twist {
  kNone,
  kNoPath,
  kMissing,
  kOtherIds,
  kNoTargetZero,
  kPastProtection,
  kUnplugInHold,
  kDownloadRefused,
  kDownloadForgotten
};

struct Case {
  const char* name;
  testsupport::SimDfuOptions device;
  Twist twist;
  Flash flash;
  const char* status;
  const char* logs;  // lines expected in the log, '|' between them
  const char* box;
};

class UpgradeDialogFaultsTest : public UpgradeDialogTest {
 protected:
  // The bar since `records`: each phase in turn, rising from its start to 100, the position
  // following the line's percent (an empty line is 0); the console's phase lines since `steps`
  // at most once per ten-percent step.
  void ExpectEachPhaseRising(size_t records, size_t steps) {
    std::vector<std::string> phases;
    int last = -1, pos = 0;  // a new dialog's bar starts empty
    std::string text;
    for (size_t i = records; i < host_.progress_records().size(); ++i) {
      const ui::headless::ProgressRecord& r = host_.progress_records()[i];
      EXPECT_EQ(r.id, ids::kProgress);
      EXPECT_TRUE(r.pos == pos || r.pos == (r.text.empty() ? 0 : PercentOf(r.text))) << r.text;
      pos = r.pos;
      if (r.text == text || PhaseOf(r.text).empty()) continue;
      text = r.text;
      if (phases.empty() || phases.back() != PhaseOf(text)) last = -1;
      if (phases.empty() || phases.back() != PhaseOf(text)) phases.push_back(PhaseOf(text));
      EXPECT_GE(PercentOf(text), last) << text;
      last = PercentOf(text);
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"Erase Phase", "Download Phase", "Uploading",
                                                "Leaving DFU mode"}));
    const std::vector<std::string> all = Announced(true);
    ASSERT_GT(all.size(), steps);
    EXPECT_EQ(all.back(), "Leaving DFU mode 100%...");
    for (size_t i = steps + 1; i < all.size(); ++i) {
      if (PhaseOf(all[i]) != PhaseOf(all[i - 1])) continue;
      EXPECT_GT(PercentOf(all[i]) / 10, PercentOf(all[i - 1]) / 10) << all[i - 1] << ", " << all[i];
    }
  }
};

// Every way a flash ends: the status it leaves, its log lines and boxes, and what the reader's
// flash holds then. A failure releases the device, the mapping and the images, stops the bar,
// lets the user close the dialog and keeps the package for another try.
TEST_F(UpgradeDialogFaultsTest, EachFaultEndsTheSequenceWithItsTextAndReleasesEverything) {
  using O = testsupport::SimDfuOptions;
  const Case cases[] = {
      {"no download bit", With(&O::attributes, 0x0A), kNone, kUntouched, kLaunchFailed,
       "The device cannot take a download (attributes 0x0A, wTransferSize 2048): nothing erased",
       nullptr},
      {"no transfer size", With(&O::transferSize, 0), kNone, kUntouched, kLaunchFailed,
       "(attributes 0x0B, wTransferSize 0): nothing erased", nullptr},
      {"transfer shorter than a command", With(&O::transferSize, 4), kNone, kUntouched,
       kLaunchFailed, "(attributes 0x0B, wTransferSize 4): nothing erased", nullptr},
      {"option bytes unreadable", With(&O::stallsEverything, true), kNone, kUntouched,
       kLaunchFailed,
       "Unable to read the option bytes (0x12345004): every sector is taken as protected|The "
       "option bytes could not be read, so no sector counts as writeable: nothing erased",
       nullptr},
      {"element on a protected sector", With(&O::writeProtection, 0xFFFFFFFD), kPastProtection,
       kUntouched, kLaunchFailed, "Upgrade data does not fit the device's memory", nullptr},
      {"no DfuSe commands", With(&O::dfuseCommands, false), kNone, kUntouched, kUpgradeAgain,
       "error 0x1234500D", "This feature is not supported by this firmware."},
      {"no target mapped", With(&O::layouts, std::vector<std::string>()), kNone, kUntouched,
       "DFU设备打开失败", "Select Device failed", nullptr},
      {"missing package", O(), kMissing, kUntouched, "升级文件校验失败", "", nullptr},
      {"other device's package", O(), kOtherIds, kUntouched, "升级文件与当前设备不匹配，无法升级",
       "", nullptr},
      {"no image for target 0", O(), kNoTargetZero, kUntouched, kLaunchFailed,
       "Unable to find data for that device/target from the file ...", nullptr},
      {"nothing in the cache", O(), kNoPath, kUntouched, "未找到匹配的升级包",
       "Auto select DFU file failed", nullptr},
      {"unplug in the erase", With(&O::holdAfterErases, 1), kUnplugInHold, kErased, kUpgradeAgain,
       "Operation 3 failed at |error 0x12345008", nullptr},
      {"download cannot start", O(), kDownloadRefused, kErased, kUpgradeAgain,
       "Launch download failed, error 0x12345001", nullptr},
      {"download the library forgot", O(), kDownloadForgotten, kErased, kUpgradeAgain,
       "Operation 4: status unavailable (0x1234500E)", nullptr},
      {"read back differs in the last byte", With(&O::brokenCell, kFlash + 19999), kNone, kErased,
       kVerifying, "Verify successful, but data not matching...",
       "Matching not good. First Difference at address 0x08004E1F:\n"
       "File  byte  is  0x5A.\nRead byte is 0xFF."},
      {"flash", O(), kNone, kWritten, kDone, "Verify successful !", nullptr},
      // Some DfuSe boot loaders acknowledge a CLRSTATUS in any state (the option-bytes probe
      // sends one); DFU 1.1 stalls it, as the default simulated device does.
      {"stray CLRSTATUS acknowledged", With(&O::clearsStatusAnywhere, true), kNone, kWritten, kDone,
       "Verify successful !", nullptr},
  };
  std::vector<uint8_t> bytes = testsupport::Pattern(20000, 6);
  bytes.back() = 0x5A;
  const std::vector<uint8_t> old = testsupport::Pattern(0x8000, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::SimUsbBus bus;
    auto device = bus.Add(c.device);
    device->Fill(kFlash, old);  // the reader's firmware today
    std::string path;
    DfuFileData file = DevicePackage(bytes);
    if (c.twist == kOtherIds) file.idProduct = 0x8159;
    if (c.twist == kNoTargetZero) file.images[0].alternate = 1;
    if (c.twist == kPastProtection)  // 16 bytes on sector 4, protected by bit 1
      file = DevicePackage(testsupport::Pattern(0x10010, 8));
    if (c.twist != kNoPath) path = WritePackage(file, std::string(c.name) + ".dfu");
    if (c.twist == kMissing) std::remove(path.c_str());
    const size_t logFrom = log_.Text().size(), boxesFrom = host_.message_boxes().size(),
                 statusesFrom = Announced(false).size(), stepsFrom = Announced(true).size(),
                 recordsFrom = host_.progress_records().size();
    ScriptedDialog d;
    d.refused = c.twist == kDownloadRefused ? static_cast<uint32_t>(kOperationDownload) : 0xFFu;
    d.forgetsDownload = c.twist == kDownloadForgotten;
    ASSERT_NO_FATAL_FAILURE(Start(d, path));
    EXPECT_EQ(d.dialog_template().caption, "DFU升级");
    ASSERT_TRUE(d.ShowWindow(true));
    if (c.twist == kUnplugInHold) {
      ASSERT_TRUE(DriveIntoHold(*device));
      device->Unplug();
    }
    ASSERT_TRUE(DriveToEnd(d));
    EXPECT_EQ(d.lastStatus(), c.status);
    for (size_t at = 0, end = 0; *c.logs && end != std::string::npos; at = end + 1) {
      end = std::string(c.logs).find('|', at);
      const std::string line = std::string(c.logs).substr(at, end - at);
      EXPECT_TRUE(log_.Has(line, logFrom)) << line;
    }
    const std::vector<std::string> boxes = BoxTexts();
    EXPECT_EQ(std::vector<std::string>(boxes.begin() + boxesFrom, boxes.end()),
              c.box ? std::vector<std::string>{c.box} : std::vector<std::string>());
    if (c.flash == kUntouched) {
      EXPECT_EQ(device->sectorErases(), 0u);
      EXPECT_TRUE(c.device.layouts.empty() || FlashOf(*device, old.size()) == old)
          << "the reader's firmware was touched";
    } else {
      EXPECT_GT(device->sectorErases(), 0u);
    }
    EXPECT_EQ(c.flash == kWritten, FlashOf(*device, bytes.size()) == bytes);
    EXPECT_EQ(c.flash == kWritten, device->left());
    EXPECT_EQ(c.flash == kWritten, d.flashCompleted());
    if (c.flash == kWritten) {
      const std::vector<std::string> all = Announced(false);
      EXPECT_EQ(std::vector<std::string>(all.begin() + statusesFrom, all.end()),
                testsupport::SuccessfulFlashStatuses());
      ExpectEachPhaseRising(recordsFrom, stepsFrom);
      EXPECT_EQ(d.GetProgressText(ids::kProgress), "Leaving DFU mode 100%...");
      EXPECT_EQ(d.GetProgressPos(ids::kProgress), 100);
      EXPECT_EQ(d.GetItemText(ids::kTransfer), "19 KB(20000 Bytes) of 19 KB(20000 Bytes)");
    }
    EXPECT_EQ(d.m_OperationHandle, 0u);
    EXPECT_EQ(d.m_SourceImage, nullptr);
    EXPECT_TRUE(c.status != std::string(kUpgradeAgain) || d.m_Mapping == nullptr);
    EXPECT_EQ(bus.openDevices(), 0);
    // Nothing runs on (the idle poll aside): the status and the bar stay, and the user may
    // close the dialog.
    const size_t records = host_.progress_records().size();
    host_.AdvanceTime(10000);
    EXPECT_EQ(d.lastStatus(), c.status);
    EXPECT_EQ(host_.progress_records().size(), records);
    for (int id : {1, 2, 3, 4, 5, 7}) EXPECT_FALSE(host_.IsTimerRunning(d, id)) << id;
    EXPECT_TRUE(d.IsVisible());
    EXPECT_TRUE(host_.PressClose(d));
    EXPECT_FALSE(d.IsVisible());
    EXPECT_EQ(c.twist != kMissing && c.twist != kNoPath, FileExists(path));
  }
}

// Held half way through the download: the byte count truncates to whole KB; closing is refused
// with the warning while the erase or the download runs, and accepted once the flash is written.
TEST_F(UpgradeDialogTest, ClosingIsRefusedWhileEraseOrDownloadRunsAndAcceptedAfter) {
  testsupport::SimDfuOptions o;
  o.holdAfterErases = 1;
  o.transferSize = 1750;  // 40 blocks: the hold after 20 of them is exactly half way
  o.holdAfterBytes = 35000;
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(70000, 3)));
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    ASSERT_TRUE(DriveIntoHold(*device));
    host_.AdvanceTime(600);
    EXPECT_NE(d.GetProgressText(ids::kProgress).find("Erase Phase"), std::string::npos);
    EXPECT_TRUE(host_.PressClose(dialog));
    EXPECT_TRUE(host_.PressEscape(dialog));
    EXPECT_TRUE(host_.PressEnter(dialog));
    EXPECT_TRUE(dialog.IsVisible());
    device->Release();
    ASSERT_TRUE(DriveIntoHold(*device));
    host_.AdvanceTime(600);
    EXPECT_EQ(d.GetProgressText(ids::kProgress), "Target 00: Upgrading - Download Phase (50%)...");
    EXPECT_EQ(d.GetProgressPos(ids::kProgress), 50);
    EXPECT_EQ(d.GetItemText(ids::kTransfer), "34 KB(35000 Bytes) of 68 KB(70000 Bytes)");
    EXPECT_TRUE(host_.PressClose(dialog));
    EXPECT_TRUE(dialog.IsVisible());
    EXPECT_EQ(d.lastStatus(), "正在升级，请保持读卡器连接");
    device->Release();
    ASSERT_TRUE(Drive([&] { return device->left(); }));
    EXPECT_TRUE(host_.PressClose(dialog));
  });
  EXPECT_EQ(d.DoModal(), ui::kIdCancel);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>(4, "在程序升级成功或失败前，请勿关闭本对话框！"));
  for (const auto& b : host_.message_boxes()) EXPECT_EQ(b.caption, "Ovra7Server");
  EXPECT_TRUE(device->left());
  EXPECT_EQ(bus_.openDevices(), 0);
}

// After the download: a close during the read back stops it at once and releases everything;
// a close during the leave waits for its end (stopped half way it may leave the reader in DFU
// mode), and a window destroyed meanwhile waits too, but only up to its limit.
TEST_F(UpgradeDialogTest, ClosingStopsTheReadBackAndWaitsForTheLeaveWithinALimit) {
  enum Moment { kReadBack, kLeaveClosed, kLeaveDestroyed };
  DfuFileData file = DevicePackage(testsupport::Pattern(4096, 1));
  DfuElementData second;
  second.address = kFlash + 0x4000;
  second.data = testsupport::Pattern(4096, 2);
  file.images[0].elements.push_back(second);
  const std::string path = WritePackage(file);
  for (Moment moment : {kReadBack, kLeaveClosed, kLeaveDestroyed}) {
    SCOPED_TRACE(moment);
    testsupport::SimDfuOptions o;
    // Held between the two elements, or at the leave's first status.
    o.holdAfterReads = moment == kReadBack ? 4096 : 8192;
    testsupport::SimUsbBus bus;
    auto device = bus.Add(o);
    DFUpgradeDialog d;
    ASSERT_NO_FATAL_FAILURE(Start(d, path));
    ASSERT_TRUE(d.ShowWindow(true));
    ASSERT_TRUE(DriveIntoHold(*device));
    host_.AdvanceTime(600);
    EXPECT_EQ(d.lastStatus(), moment == kReadBack ? kVerifying : kDone);
    if (moment == kReadBack) {
      EXPECT_NE(d.GetProgressText(ids::kProgress).find("Uploading"), std::string::npos);
      EXPECT_TRUE(host_.PressClose(d));
      EXPECT_FALSE(d.IsVisible());
      d.DestroyWindow();  // stops the read back, which the device still holds
    } else if (moment == kLeaveClosed) {
      EXPECT_TRUE(host_.PressClose(d));
      EXPECT_TRUE(d.IsVisible());
      EXPECT_FALSE(device->left());
      device->Release();
      ASSERT_TRUE(Drive([&] { return !d.IsVisible(); }));
      EXPECT_TRUE(d.flashCompleted());
      d.DestroyWindow();
    } else {
      testsupport::VirtualClock clock;  // the wait's limit passes at once
      auto destroyed = std::async(std::launch::async, [&] { d.DestroyWindow(); });
      if (destroyed.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "destroying the window waits for a held leave without end";
        std::abort();
      }
    }
    EXPECT_EQ(d.m_OperationHandle, 0u);
    EXPECT_EQ(d.m_SourceImage, nullptr);
    EXPECT_EQ(d.m_Mapping, nullptr);
    EXPECT_EQ(bus.openDevices(), 0);
    const uint64_t transfers = device->controlTransfers();
    host_.AdvanceTime(5000);
    EXPECT_EQ(device->controlTransfers(), transfers);
    EXPECT_EQ(moment == kLeaveClosed, device->left());
  }
  EXPECT_TRUE(BoxTexts().empty());
}

// The device answers the descriptors and the mapping, then no status request any more: each
// request waits out its time-out, and the selection ends within its limit.
TEST_F(UpgradeDialogTest, ADeviceThatStopsAnsweringIsGivenUpWithinTheSelectionLimit) {
  testsupport::VirtualClock clock;
  testsupport::SimDfuOptions o;
  o.silentStatusAfterCommands = 0;
  auto device = bus_.Add(o);
  {
    DFUpgradeDialog d;
    ASSERT_TRUE(d.FindDfuDevices());
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(d.SelectDevice());
    const uint64_t took = clock.NowMs() - start;
    EXPECT_GE(took, 10000u);  // the device did get its chances
    EXPECT_LE(took, static_cast<uint64_t>(DFUpgradeDialog::kSelectionLimitMs));
    EXPECT_LE(clock.longestSleepMs(), 5000);
    EXPECT_TRUE(d.m_DeviceSilent);
    EXPECT_EQ(d.m_Mapping, nullptr);
    EXPECT_EQ(bus_.openDevices(), 0);
  }
  DFUpgradeDialog d;
  ASSERT_NO_FATAL_FAILURE(Start(d, WritePackage(testsupport::Pattern(3000, 2))));
  for (int i = 0; i < 20 && !d.sequenceEnded(); ++i) host_.AdvanceTime(500);
  EXPECT_TRUE(d.sequenceEnded());
  EXPECT_EQ(d.lastStatus(), "DFU设备无响应，请重新插拔读卡器");
  EXPECT_TRUE(log_.Has("DFU device does not answer: given up after 1"));
  EXPECT_TRUE(log_.InOrder({"Find DFU Device success", "Select Device failed"}));
  EXPECT_EQ(device->sectorErases(), 0u);
}

// With nobody at the window the dialog ends by itself with its last status, also when the
// device never shows up; with a person there the search goes on.
TEST_F(UpgradeDialogTest, OnAConsoleTheDialogEndsByItselfAndTheSearchAfterItsLimit) {
  const std::string path = WritePackage(testsupport::Pattern(3000, 2));
  {
    DFUpgradeDialog d;
    ASSERT_NO_FATAL_FAILURE(Start(d, path));
    host_.AdvanceTime(120000);
    EXPECT_FALSE(d.sequenceEnded());
    EXPECT_TRUE(host_.IsTimerRunning(d, dfu::timers::kFindDevice));
  }
  host_.SetUserPresent(false);
  {
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade(path);
    const uint64_t start = host_.NowMs();
    host_.SetModalDriver([&](ui::Dialog&) { EXPECT_TRUE(DriveToEnd(d)); });
    EXPECT_EQ(d.DoModal(), ui::kIdOk);
    const uint64_t took = host_.NowMs() - start;
    EXPECT_GE(took, static_cast<uint64_t>(DFUpgradeDialog::kSearchLimitMs));
    EXPECT_LE(took, static_cast<uint64_t>(DFUpgradeDialog::kSearchLimitMs) + 2000);
    EXPECT_EQ(d.lastStatus(), "未找到DFU设备");
    EXPECT_TRUE(log_.Has("No DFU device found within 30 s"));
  }
  auto device = bus_.Add();
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(path);
  host_.SetModalDriver([&](ui::Dialog&) { EXPECT_TRUE(DriveToEnd(d)); });
  EXPECT_EQ(d.DoModal(), ui::kIdOk);
  EXPECT_EQ(d.lastStatus(), kDone);
  EXPECT_TRUE(device->left());
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(bus_.openDevices(), 0);
}

// The reader gets the enter-DFU command only when it is not in DFU mode yet; the DFU device
// appears a few searches after its acknowledgement.
TEST_F(UpgradeDialogTest, EnterDfuCommandGoesToTheReaderOnlyWhenItIsNotYetInDfuMode) {
  reader_.options.answerOnPoll = 3;
  auto device = bus_.AddAfterListings(testsupport::SimDfuOptions(), 4);
  DFUpgradeDialog d;
  ASSERT_NO_FATAL_FAILURE(Start(d, WritePackage(testsupport::Pattern(3000, 1)), 0));
  ASSERT_TRUE(Drive([&] { return d.lastStatus() == kDone && device->left(); }));
  EXPECT_EQ(reader_.hidOpens, 1);
  EXPECT_TRUE(log_.InOrder({"Check DFU file success, m_HasDFUDevice = 0", "Enter DFU Mode success",
                            "Find DFU Device success"}));
}

// A reader that never acknowledges: five polls, then the dialog stays at the text it had, the
// first one without a package, the package check's with one.
TEST_F(UpgradeDialogTest, AReaderThatNeverAcknowledgesLeavesTheDialogAtItsLastText) {
  reader_.options.answerOnPoll = 0;
  bus_.Add();
  const struct {
    std::string path;
    const char* status;
  } cases[] = {{"", kFirstText},
               {WritePackage(testsupport::Pattern(100, 2)), "升级文件校验成功，正在查找DFU设备"}};
  for (const auto& c : cases) {
    reader_.polls = 0;
    DFUpgradeDialog d;
    ASSERT_NO_FATAL_FAILURE(Start(d, c.path, 0));
    ASSERT_TRUE(DriveToEnd(d));
    host_.AdvanceTime(10000);
    EXPECT_EQ(d.lastStatus(), c.status);
    EXPECT_EQ(d.GetItemText(ids::kStatus), c.status);
    for (int id = 1; id <= 7; ++id) EXPECT_FALSE(host_.IsTimerRunning(d, id)) << id;
    EXPECT_EQ(reader_.polls, 5);
    EXPECT_EQ(reader_.openHandles, 0);
  }
  EXPECT_FALSE(log_.Has("Enter DFU Mode success"));
  EXPECT_FALSE(log_.Has("Find DFU Device success"));
}

}  // namespace
}  // namespace dfutest
