// Package loading, matching against the selected device, image lookup and the choice of the
// newest matching package from the cache.
#include <gtest/gtest.h>

#include <filesystem>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/package_cache_folder.h"
#include "log_capture.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"
#include "support/temp_folder.h"

using testsupport::OneElementImage;
using testsupport::Pattern;
using testsupport::WritePackage;

namespace fs = std::filesystem;

namespace {

DfuFileData Package(uint16_t vid, uint16_t pid) {
  DfuFileData f;
  f.idVendor = vid;
  f.idProduct = pid;
  f.images.push_back(OneElementImage(0, 0x08000000, Pattern(64, pid)));
  return f;
}

void SetAge(const std::string& path, int secondsAgo) {
  fs::last_write_time(fs::u8path(path),
                      fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

}  // namespace

TEST(DfuPackage, LoadKeepsIdsAndMatchComparesThemWithTheDevice) {
  testsupport::TempFolder folder;
  const std::string path = folder.file("reader.dfu");
  ASSERT_TRUE(WritePackage(path, Package(0x0483, 0xA19B)));
  dfutest::LogCapture log;

  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.LoadDfuFile(path));
  EXPECT_TRUE(log.Has("File correctly loaded."));
  EXPECT_EQ("0483", dialog.m_FileVid);
  EXPECT_EQ("A19B", dialog.m_FilePid);
  EXPECT_FALSE(dialog.MatchDevice());  // no device selected yet

  dialog.m_DeviceVid = "0483";
  dialog.m_DevicePid = "A19B";
  EXPECT_TRUE(dialog.MatchDevice());
  dialog.m_DevicePid = "8159";
  EXPECT_FALSE(dialog.MatchDevice());

  // No images at all still loads; a damaged file does not, and says why.
  DfuFileData empty;
  ASSERT_TRUE(WritePackage(folder.file("empty.dfu"), empty));
  EXPECT_TRUE(dialog.LoadDfuFile(folder.file("empty.dfu")));
  ASSERT_TRUE(testsupport::WriteBytes(folder.file("bad.dfu"), {1, 2, 3}));
  EXPECT_FALSE(dialog.LoadDfuFile(folder.file("bad.dfu")));
  EXPECT_TRUE(log.Has("This file doesn't have a correct format..."));
}

TEST(DfuPackage, SelectedDeviceMatchesAPackageWithItsIds) {
  testsupport::SimUsbBus bus;
  testsupport::SimDfuOptions o;
  o.productId = 0xA19B;
  bus.Add(o);
  testsupport::TempFolder folder;
  ASSERT_TRUE(WritePackage(folder.file("a.dfu"), Package(0x0483, 0xA19B)));
  ASSERT_TRUE(WritePackage(folder.file("b.dfu"), Package(0x0483, 0x8159)));
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  ASSERT_TRUE(dialog.LoadDfuFile(folder.file("a.dfu")));
  EXPECT_TRUE(dialog.MatchDevice());
  ASSERT_TRUE(dialog.LoadDfuFile(folder.file("b.dfu")));
  EXPECT_FALSE(dialog.MatchDevice());
}

TEST(DfuPackage, ImageLookupTakesTheFirstImageOfTheTarget) {
  testsupport::TempFolder folder;
  DfuFileData f;
  f.images.push_back(OneElementImage(1, 0x1FFFF800, Pattern(16, 1)));
  f.images.push_back(OneElementImage(0, 0x08004000, Pattern(16, 2)));
  f.images.push_back(OneElementImage(0, 0x08008000, Pattern(16, 3)));
  ASSERT_TRUE(WritePackage(folder.file("p.dfu"), f));
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  dialog.StartUpgrade(folder.file("p.dfu"));
  DfuImageHandle image = nullptr;
  ASSERT_TRUE(dialog.FindUpgradeImage(0, &image));
  DfuElement e;
  STDFUFILES_GetImageElement(image, 0, &e);
  EXPECT_EQ(0x08004000u, e.dwAddress);
  STDFUFILES_DestroyImage(&image);

  EXPECT_FALSE(dialog.FindVerifyImage(2, &image));
  EXPECT_EQ(nullptr, image);
  EXPECT_TRUE(log.Has("Unable to find data for that target in the dfu file..."));
  EXPECT_FALSE(log.Has("Unable to find data for that device/target from the file ..."));

  dialog.StartUpgrade(folder.file("missing.dfu"));
  EXPECT_FALSE(dialog.FindUpgradeImage(0, &image));
  EXPECT_TRUE(log.Has("error: " + std::to_string(static_cast<int>(STDFUFILES_FILEOPENERROR))));
  EXPECT_TRUE(log.Has("Unable to find data for that device/target from the file ..."));
  EXPECT_TRUE(log.Has("StartUpgrade path: "));
}

TEST(DfuPackage, CacheChoiceTakesTheNewestMatchingPackage) {
  testsupport::TempFolder cache;
  struct Restore {
    ~Restore() { SetDfuPackageCacheFolderForTesting(""); }
  } restore;
  SetDfuPackageCacheFolderForTesting(cache.dir());
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  dialog.m_DeviceVid = "0483";
  dialog.m_DevicePid = "A19B";

  EXPECT_FALSE(dialog.autoSelectDfuFile());  // empty cache
  EXPECT_EQ("", dialog.m_UpgradeFilePath);

  ASSERT_TRUE(WritePackage(cache.file("old_1.dfu"), Package(0x0483, 0xA19B)));
  ASSERT_TRUE(WritePackage(cache.file("new_2.dfu"), Package(0x0483, 0xA19B)));
  ASSERT_TRUE(WritePackage(cache.file("other_3.dfu"), Package(0x0483, 0x8159)));
  ASSERT_TRUE(WritePackage(cache.file("plain_4.bin"), Package(0x0483, 0xA19B)));
  ASSERT_TRUE(testsupport::WriteBytes(cache.file("broken_5.dfu"), {0x44, 0x66}));
  fs::create_directory(fs::u8path(cache.file("folder.dfu")));  // the newest entry of all
  SetAge(cache.file("old_1.dfu"), 500);
  SetAge(cache.file("new_2.dfu"), 400);
  SetAge(cache.file("other_3.dfu"), 300);  // newer, but for another device
  SetAge(cache.file("plain_4.bin"), 10);   // newest, but not a .dfu
  SetAge(cache.file("broken_5.dfu"), 20);

  ASSERT_TRUE(dialog.autoSelectDfuFile());
  EXPECT_EQ(cache.file("new_2.dfu"), dialog.m_UpgradeFilePath);
  const std::string text = log.Text();
  // Checked newest first: the broken file, then the other device's, then the match.
  size_t broken = text.find("Check File: " + cache.file("broken_5.dfu") + " time: ");
  size_t other = text.find("Check File: " + cache.file("other_3.dfu"));
  size_t chosen = text.find("Check File: " + cache.file("new_2.dfu"));
  ASSERT_NE(std::string::npos, broken);
  ASSERT_NE(std::string::npos, other);
  ASSERT_NE(std::string::npos, chosen);
  EXPECT_LT(broken, other);
  EXPECT_LT(other, chosen);
  EXPECT_EQ(std::string::npos, text.find("old_1.dfu"));
  EXPECT_EQ(std::string::npos, text.find("plain_4.bin"));
  EXPECT_EQ(std::string::npos, text.find("folder.dfu"));

  DFUpgradeDialog stranger;
  stranger.m_DeviceVid = "1234";
  stranger.m_DevicePid = "5678";
  EXPECT_FALSE(stranger.autoSelectDfuFile());
  EXPECT_EQ("", stranger.m_UpgradeFilePath);
}

TEST(DfuPackage, CacheFolderLiesUnderTheApplicationData) {
  const std::string folder = DfuPackageCacheFolder();
  ASSERT_FALSE(folder.empty());
  const std::string tail =
      std::string("OvraNetService") + platform::PathSeparator() + "DFU" + platform::PathSeparator();
  ASSERT_GE(folder.size(), tail.size());
  EXPECT_EQ(tail, folder.substr(folder.size() - tail.size()));
}
