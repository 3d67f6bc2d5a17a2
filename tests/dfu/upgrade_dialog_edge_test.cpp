// The flashing dialog where things go wrong: packages that do not fit, operations that fail or
// cannot start, closing in the middle, and a console with nobody to close the dialog (more in
// upgrade_dialog_faults_test.cpp).
#include "dfu/dfuse/stdfuprt.h"
#include "upgrade_dialog_fixture.h"

namespace dfutest {
namespace {

const char kUpgrading[] = "正在升级，请保持读卡器连接";
const char kWarning[] = "在程序升级成功或失败前，请勿关闭本对话框！";

// A dialog whose launches of one operation fail, as a library that cannot start a thread would.
class FailingLaunchDialog : public DFUpgradeDialog {
 public:
  explicit FailingLaunchDialog(uint32_t failing) : failing_(failing) {}
  int launches = 0;

 protected:
  uint32_t LaunchOperation(OperationContext* context, DfuOperationHandle* handle) override {
    ++launches;
    if (context->operation == failing_) return STDFUPRT_BADPARAMETER;
    return DFUpgradeDialog::LaunchOperation(context, handle);
  }

 private:
  uint32_t failing_;
};

TEST_F(UpgradeDialogTest, PackagesThatCannotBeFlashedEndTheSequenceWithTheirText) {
  auto device = bus_.Add();
  struct Case {
    std::string path;
    const char* status;
  } cases[] = {
      {packages_.file("missing.dfu"), "升级文件校验失败"},
      {[&] {
         DfuFileData other;
         other.idVendor = 0x0425;
         other.idProduct = 0x8159;
         other.images.push_back(testsupport::OneElementImage(0, kFlash, {1, 2, 3}));
         std::string p = packages_.file("other.dfu");
         testsupport::WritePackage(p, other);
         return p;
       }(),
       "升级文件与当前设备不匹配，无法升级"},
      // No image for target 0: loads and matches, but the erase cannot start.
      {[&] {
         DfuFileData file;
         file.idVendor = 0x0483;
         file.idProduct = 0xDF11;
         file.images.push_back(testsupport::OneElementImage(1, 0x1FFFF800, {1, 2}));
         std::string p = packages_.file("options.dfu");
         testsupport::WritePackage(p, file);
         return p;
       }(),
       "启动升级失败"},
  };
  for (const Case& c : cases) {
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade(c.path);
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(DriveToEnd(d)) << c.status;
    EXPECT_EQ(d.lastStatus(), c.status);
    host_.AdvanceTime(5000);
    for (int id = 1; id <= 7; ++id) EXPECT_FALSE(host_.IsTimerRunning(d, id) && id != 6) << id;
  }
  EXPECT_TRUE(log_.Has("Unable to find data for that device/target from the file ..."));
  EXPECT_EQ(device->sectorErases(), 0u);
  EXPECT_EQ(bus_.openDevices(), 0);
}

TEST_F(UpgradeDialogTest, AnElementOnAWriteProtectedSectorErasesNothing) {
  testsupport::SimDfuOptions o;
  o.writeProtection = 0xFFFFFFFD;  // bit 1: sectors 4 to 7 (0x08010000 on) are protected
  auto device = bus_.Add(o);
  const std::vector<uint8_t> old = testsupport::Pattern(0x10000, 77);
  device->Fill(kFlash, old);  // the reader's firmware today
  // 64 KiB + 16 bytes: the last bytes fall on protected sector 4.
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(0x10010, 8)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.lastStatus(), "启动升级失败");
  EXPECT_EQ(device->sectorErases(), 0u);
  std::vector<uint8_t> flash;
  ASSERT_TRUE(device->Read(kFlash, 0x10000, &flash));
  EXPECT_TRUE(flash == old) << "the reader's firmware was touched";
  EXPECT_TRUE(log_.Has("Upgrade data does not fit the device's memory"));
  EXPECT_FALSE(log_.Has("Launch Upgrade success"));
}

TEST_F(UpgradeDialogTest, DownloadThatCannotStartAfterTheEraseAsksForANewUpgrade) {
  auto device = bus_.Add();
  const std::string path = WritePackage(testsupport::Pattern(9000, 4));
  FailingLaunchDialog d(kOperationDownload);
  d.SetHasDFUDevice(1);
  d.StartUpgrade(path);
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.ShowWindow(true));
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.launches, 2);
  EXPECT_EQ(d.lastStatus(), "升级失败，请重新升级读卡器");
  EXPECT_TRUE(log_.Has("Launch download failed, error 0x12345001"));
  EXPECT_GT(device->sectorErases(), 0u);
  EXPECT_EQ(d.m_OperationHandle, 0u);
  EXPECT_EQ(d.m_SourceImage, nullptr);
  host_.AdvanceTime(5000);
  EXPECT_EQ(d.lastStatus(), "升级失败，请重新升级读卡器");
  EXPECT_TRUE(host_.PressClose(d));  // nothing runs: closing is allowed
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(bus_.openDevices(), 0);
  std::FILE* still = std::fopen(path.c_str(), "rb");  // the package stays for another try
  EXPECT_NE(still, nullptr);
  if (still) std::fclose(still);
}

TEST_F(UpgradeDialogTest, ClosingIsRefusedWhileEraseOrDownloadRunsAndAcceptedAfter) {
  testsupport::SimDfuOptions o;
  o.holdAfterErases = 1;
  o.holdAfterBytes = 4096;
  o.transferSize = 1024;
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(20000, 6)));
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
    EXPECT_NE(d.GetProgressText(ids::kProgress).find("Download Phase"), std::string::npos);
    EXPECT_TRUE(host_.PressClose(dialog));
    EXPECT_TRUE(dialog.IsVisible());
    EXPECT_EQ(d.lastStatus(), kUpgrading);
    device->Release();
    ASSERT_TRUE(Drive([&] { return device->left(); }));
    EXPECT_TRUE(host_.PressClose(dialog));  // accepted once the flash is written
  });
  EXPECT_EQ(d.DoModal(), ui::kIdCancel);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>(4, kWarning));
  for (const auto& box : host_.message_boxes()) EXPECT_EQ(box.caption, "Ovra7Server");
  EXPECT_TRUE(device->left());
  EXPECT_EQ(bus_.openDevices(), 0);
}

TEST_F(UpgradeDialogTest, ClosingDuringTheReadBackStopsItAndReleasesEverything) {
  testsupport::SimDfuOptions o;
  o.holdAfterReads = 4096;  // between the package's two elements
  auto device = bus_.Add(o);
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  file.images.push_back(testsupport::OneElementImage(0, kFlash, testsupport::Pattern(4096, 1)));
  DfuElementData second;
  second.address = kFlash + 0x4000;
  second.data = testsupport::Pattern(4096, 2);
  file.images[0].elements.push_back(second);
  const std::string path = packages_.file("two.dfu");
  ASSERT_TRUE(testsupport::WritePackage(path, file));
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(path);
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.ShowWindow(true));
  ASSERT_TRUE(DriveIntoHold(*device));
  host_.AdvanceTime(600);
  EXPECT_EQ(d.lastStatus(), "正在校验升级，请稍后");
  EXPECT_NE(d.GetProgressText(ids::kProgress).find("Uploading"), std::string::npos);
  EXPECT_TRUE(host_.PressClose(d));
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(BoxTexts().empty());
  d.DestroyWindow();  // stops the read back (the device still holds it) and releases all
  EXPECT_EQ(d.m_OperationHandle, 0u);
  EXPECT_EQ(d.m_SourceImage, nullptr);
  EXPECT_EQ(d.m_Mapping, nullptr);
  EXPECT_EQ(bus_.openDevices(), 0);
  const uint64_t transfers = device->controlTransfers();
  host_.AdvanceTime(5000);
  EXPECT_EQ(device->controlTransfers(), transfers);
  EXPECT_FALSE(device->left());
}

TEST_F(UpgradeDialogTest, UnsupportedFeatureIsToldOnceAndTheBarStops) {
  testsupport::SimDfuOptions o;
  o.dfuseCommands = false;  // no DfuSe command list: the erase lacks its commands
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(3000, 2)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  const size_t records = host_.progress_records().size();
  const std::string bar = d.GetProgressText(ids::kProgress);
  host_.AdvanceTime(10000);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"This feature is not supported by this firmware."});
  EXPECT_EQ(d.lastStatus(), "升级失败，请重新升级读卡器");
  EXPECT_TRUE(log_.Has("error 0x1234500D"));
  EXPECT_EQ(device->sectorErases(), 0u);
  EXPECT_EQ(host_.progress_records().size(), records);
  EXPECT_EQ(d.GetProgressText(ids::kProgress), bar);
  EXPECT_EQ(d.m_OperationHandle, 0u);
  EXPECT_EQ(d.m_SourceImage, nullptr);
  EXPECT_EQ(bus_.openDevices(), 0);
}

TEST_F(UpgradeDialogTest, DeviceThatMapsNoTargetIsRefusedAtSelection) {
  testsupport::SimDfuOptions o;
  o.layouts.clear();
  auto device = bus_.Add(o);
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(WritePackage(testsupport::Pattern(100, 2)));
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(DriveToEnd(d));
  EXPECT_EQ(d.lastStatus(), "DFU设备打开失败");
  EXPECT_TRUE(log_.Has("Select Device failed"));
  EXPECT_FALSE(log_.Has("Launch Upgrade success"));
  EXPECT_EQ(d.m_TargetCount, 0u);
  EXPECT_EQ(device->sectorErases(), 0u);
}

TEST_F(UpgradeDialogTest, OnAConsoleTheDialogEndsByItselfWithItsLastStatus) {
  host_.SetUserPresent(false);
  auto device = bus_.Add();
  const std::string good = WritePackage(testsupport::Pattern(6000, 3));
  {
    DFUpgradeDialog d;
    d.SetHasDFUDevice(1);
    d.StartUpgrade(good);
    host_.SetModalDriver([&](ui::Dialog&) { EXPECT_TRUE(DriveToEnd(d)); });
    EXPECT_EQ(d.DoModal(), ui::kIdOk);
    EXPECT_EQ(d.lastStatus(), "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器");
  }
  EXPECT_TRUE(device->left());
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(bus_.openDevices(), 0);
  // A failure ends it just the same.
  DFUpgradeDialog d;
  d.SetHasDFUDevice(1);
  d.StartUpgrade(packages_.file("missing.dfu"));
  host_.SetModalDriver([&](ui::Dialog&) { EXPECT_TRUE(DriveToEnd(d)); });
  EXPECT_EQ(d.DoModal(), ui::kIdOk);
  EXPECT_EQ(d.lastStatus(), "升级文件校验失败");
}

}  // namespace
}  // namespace dfutest
