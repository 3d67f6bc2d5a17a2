// The flashing dialog against devices and moments that used to cost a reader its firmware or
// the program its patience: a device whose functional descriptor forbids the download, a boot
// loader that acknowledges a stray CLRSTATUS, option bytes that cannot be read, a device that
// stops answering, an unplug in the middle, a close during the leave, a console where the
// device never shows up, and a library that forgets an operation.
#include <cstdio>

#include "dfu/dfuse/stdfuprt.h"
#include "support/flash_statuses.h"
#include "support/virtual_clock.h"
#include "upgrade_dialog_fixture.h"

namespace dfutest {
namespace {

const char kUpgradeAgain[] = "升级失败，请重新升级读卡器";
const char kLaunchFailed[] = "启动升级失败";

bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// Flash contents as the device holds them.
std::vector<uint8_t> FlashOf(testsupport::SimDfuDevice& device, size_t size) {
  std::vector<uint8_t> flash;
  device.Read(kFlash, static_cast<uint32_t>(size), &flash);
  return flash;
}

TEST_F(UpgradeDialogTest, ADeviceThatCannotTakeADownloadIsNeverErased) {
  const struct {
    uint8_t attributes;
    uint16_t transferSize;
    const char* log;
  } cases[] = {
      {0x0A, 2048, "attributes 0x0A, wTransferSize 2048"},  // no download bit
      {0x0B, 0, "attributes 0x0B, wTransferSize 0"},
      {0x0B, 4, "attributes 0x0B, wTransferSize 4"},  // shorter than a DfuSe command
  };
  const std::vector<uint8_t> old = testsupport::Pattern(0x8000, 5);
  const std::string path = WritePackage(testsupport::Pattern(20000, 6));
  for (const auto& c : cases) {
    testsupport::SimUsbBus bus;
    testsupport::SimDfuOptions o;
    o.attributes = c.attributes;
    o.transferSize = c.transferSize;
    auto device = bus.Add(o);
    device->Fill(kFlash, old);  // the reader's firmware today
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade(path);
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(DriveToEnd(d)) << c.log;
    EXPECT_EQ(d.lastStatus(), kLaunchFailed) << c.log;
    EXPECT_EQ(device->sectorErases(), 0u) << c.log;
    EXPECT_TRUE(FlashOf(*device, old.size()) == old) << c.log;
    EXPECT_TRUE(log_.Has("The device cannot take a download (" + std::string(c.log) +
                         "): nothing erased"))
        << log_.Text();
    EXPECT_FALSE(d.flashCompleted());
    EXPECT_EQ(bus.openDevices(), 0);
  }
  EXPECT_FALSE(log_.Has("Launch Upgrade success"));
  EXPECT_TRUE(BoxTexts().empty());
}

// Some DfuSe boot loaders acknowledge a CLRSTATUS in any state and stay where they are; DFU 1.1
// returns dfuDNLOAD-IDLE and dfuUPLOAD-IDLE to dfuIDLE with ABORT. The default simulated device
// is the other kind: a stray CLRSTATUS stalls and puts it in dfuERROR (the whole-flash suites).
TEST_F(UpgradeDialogTest, BootLoaderThatAcknowledgesAStrayClearStatusIsProbedAndFlashed) {
  testsupport::SimDfuOptions o;
  o.clearsStatusAnywhere = true;
  auto device = bus_.Add(o);
  const std::vector<uint8_t> package = testsupport::Pattern(30000, 8);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(package));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.lastStatus(), testsupport::kFlashDone);
  EXPECT_EQ(StatusLines(), testsupport::SuccessfulFlashStatuses());
  EXPECT_TRUE(d.optionBytesPresent);
  EXPECT_FALSE(d.m_OptionBytesUnread);
  EXPECT_EQ(d.m_DevTargets[0].sectors.substr(0, 43),
            "Sector 000\t0x08000000\t0x08003FFF\t16 Kb\tRWE\n");
  EXPECT_TRUE(FlashOf(*device, package.size()) == package);
  EXPECT_TRUE(device->left());
  EXPECT_TRUE(d.flashCompleted());
  EXPECT_FALSE(log_.Has("Upgrade data does not fit"));
}

TEST_F(UpgradeDialogTest, OptionBytesThatCannotBeReadAreLoggedAsSuchAndNothingIsErased) {
  testsupport::SimDfuOptions o;
  o.stallsEverything = true;  // no class request is ever taken
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(3000, 2)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.lastStatus(), kLaunchFailed);
  EXPECT_TRUE(d.m_OptionBytesUnread);
  EXPECT_TRUE(log_.Has("Unable to read the option bytes (0x12345004): every sector is taken as "
                       "protected"));
  EXPECT_TRUE(log_.Has("The option bytes could not be read, so no sector counts as writeable: "
                       "nothing erased"));
  EXPECT_FALSE(log_.Has("Upgrade data does not fit"));
  EXPECT_EQ(device->sectorErases(), 0u);
}

// The device answers the descriptors and the mapping, then no status request any more. Each
// request waits out its time-out; the whole selection must end within its limit, on the window's
// thread, with no single wait longer than the request time-out.
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
  // Through the dialog: its own status line and log line, and the sequence ends.
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(3000, 2)));
  ASSERT_TRUE(d.Create());
  for (int i = 0; i < 20 && !d.sequenceEnded(); ++i) host_.AdvanceTime(500);
  EXPECT_TRUE(d.sequenceEnded());
  EXPECT_EQ(d.lastStatus(), "DFU设备无响应，请重新插拔读卡器");
  EXPECT_TRUE(log_.Has("DFU device does not answer: given up after 1"));
  EXPECT_TRUE(LogInOrder({"Find DFU Device success", "Select Device failed"}));
  EXPECT_EQ(device->sectorErases(), 0u);
  EXPECT_FALSE(d.flashCompleted());
}

// An unplug or a USB error in the middle: the dialog says the upgrade failed and must be run
// again, logs the library's result, releases the device, the mapping and the images, ends the
// sequence and leaves the package where it is.
TEST_F(UpgradeDialogTest, UnplugDuringTheEraseOrTheDownloadEndsWithUpgradeAgain) {
  const std::string path = WritePackage(testsupport::Pattern(40000, 3));
  for (const char* phase : {"erase", "download"}) {
    testsupport::SimUsbBus bus;
    testsupport::SimDfuOptions o;
    if (std::string(phase) == "erase")
      o.holdAfterErases = 1;
    else
      o.unplugAfterBytes = 8192;
    auto device = bus.Add(o);
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade(path);
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(d.ShowWindow(true));
    if (device->options().holdAfterErases >= 0) {
      ASSERT_TRUE(DriveIntoHold(*device));
      device->Unplug();
    }
    ASSERT_TRUE(DriveToEnd(d)) << phase;
    EXPECT_EQ(d.lastStatus(), kUpgradeAgain) << phase;
    const std::string op = std::string(phase) == "erase" ? "3" : "4";
    EXPECT_TRUE(log_.Has("Operation " + op + " failed at ")) << log_.Text();
    EXPECT_TRUE(log_.Has("error 0x12345008")) << log_.Text();  // the device is gone
    EXPECT_EQ(d.m_OperationHandle, 0u);
    EXPECT_EQ(d.m_SourceImage, nullptr);
    EXPECT_EQ(d.m_Mapping, nullptr);
    EXPECT_EQ(bus.openDevices(), 0);
    EXPECT_FALSE(d.flashCompleted());
    EXPECT_TRUE(host_.PressClose(d));  // nothing runs: closing is allowed
    EXPECT_FALSE(d.IsVisible());
    EXPECT_TRUE(FileExists(path));
  }
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(UpgradeDialogTest, ClosingAtTheFinalTextWaitsForTheLeaveToEnd) {
  const std::vector<uint8_t> package = testsupport::Pattern(6000, 4);
  testsupport::SimDfuOptions o;
  o.holdAfterReads = static_cast<int64_t>(package.size());  // the leave's first status is held
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(package));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.ShowWindow(true));
  ASSERT_TRUE(DriveIntoHold(*device));
  host_.AdvanceTime(600);
  ASSERT_EQ(d.lastStatus(), testsupport::kFlashDone);
  EXPECT_TRUE(host_.PressClose(d));
  EXPECT_TRUE(d.IsVisible());  // the leave runs: the close waits for it
  EXPECT_FALSE(device->left());
  device->Release();
  ASSERT_TRUE(Drive([&] { return !d.IsVisible(); }));
  EXPECT_TRUE(device->left());
  EXPECT_TRUE(d.flashCompleted());
  EXPECT_TRUE(BoxTexts().empty());
  d.DestroyWindow();
  EXPECT_EQ(bus_.openDevices(), 0);
}

TEST_F(UpgradeDialogTest, OnAConsoleTheSearchForTheDeviceEndsAfterItsLimit) {
  const std::string path = WritePackage(testsupport::Pattern(3000, 2));
  {
    // With a person at the window the search goes on: the reader may take its time.
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade(path);
    ASSERT_TRUE(d.Create());
    host_.AdvanceTime(120000);
    EXPECT_FALSE(d.sequenceEnded());
    EXPECT_TRUE(host_.IsTimerRunning(d, dfu::timers::kFindDevice));
  }
  host_.SetUserPresent(false);
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
  EXPECT_FALSE(d.flashCompleted());
}

// A dialog whose download the library does not know (as after a library that lost its record):
// the poll cannot follow it and must end the sequence rather than tick forever.
class ForgottenDownloadDialog : public DFUpgradeDialog {
 protected:
  uint32_t LaunchOperation(OperationContext* context, DfuOperationHandle* handle) override {
    if (context->operation != kOperationDownload)
      return DFUpgradeDialog::LaunchOperation(context, handle);
    *handle = 0x5EED;  // never launched: unknown to the library
    return STDFU_NOERROR;
  }
};

TEST_F(UpgradeDialogTest, AnOperationTheLibraryNoLongerKnowsEndsTheSequence) {
  bus_.Add();
  ForgottenDownloadDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(5000, 2)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.lastStatus(), kUpgradeAgain);
  EXPECT_TRUE(log_.Has("Operation 4: status unavailable (0x1234500E)")) << log_.Text();
  EXPECT_EQ(d.m_OperationHandle, 0u);
  EXPECT_EQ(d.m_Mapping, nullptr);
  EXPECT_EQ(bus_.openDevices(), 0);
  EXPECT_FALSE(d.flashCompleted());
}

}  // namespace
}  // namespace dfutest
