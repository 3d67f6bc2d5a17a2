// Packages in the dialog: loading, image lookup by target, and the choice of the newest
// matching package from the cache.
#include <gtest/gtest.h>

#include <filesystem>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/package_cache_folder.h"
#include "log_capture.h"
#include "support/dfu_packages.h"
#include "support/temp_folder.h"

using testsupport::OneElementImage;
using testsupport::Pattern;
using testsupport::WritePackage;

namespace fs = std::filesystem;

namespace {

DfuFileData Package(uint16_t pid) {
  DfuFileData f;
  f.idVendor = 0x0483;
  f.idProduct = pid;
  f.images.push_back(OneElementImage(0, 0x08000000, Pattern(64, pid)));
  return f;
}

}  // namespace

// The ids kept for the match; a package without images still loads, a damaged one says why.
// The image of a target is its first one in the file; a target without one, or a file gone
// since, is logged as such.
TEST(DfuPackage, LoadKeepsIdsAndImageLookupTakesTheTargetsFirstImage) {
  testsupport::TempFolder folder;
  DfuFileData f = Package(0xA19B);
  f.images[0] = OneElementImage(1, 0x1FFFF800, Pattern(16, 1));
  f.images.push_back(OneElementImage(0, 0x08004000, Pattern(16, 2)));
  f.images.push_back(OneElementImage(0, 0x08008000, Pattern(16, 3)));
  ASSERT_TRUE(WritePackage(folder.file("p.dfu"), f));
  ASSERT_TRUE(WritePackage(folder.file("empty.dfu"), DfuFileData()));
  ASSERT_TRUE(testsupport::WriteBytes(folder.file("bad.dfu"), {1, 2, 3}));
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  EXPECT_TRUE(dialog.LoadDfuFile(folder.file("empty.dfu")));
  EXPECT_FALSE(dialog.LoadDfuFile(folder.file("bad.dfu")));
  EXPECT_TRUE(log.Has("This file doesn't have a correct format..."));
  ASSERT_TRUE(dialog.LoadDfuFile(folder.file("p.dfu")));
  EXPECT_TRUE(log.Has("File correctly loaded."));
  EXPECT_EQ("0483", dialog.m_FileVid);
  EXPECT_EQ("A19B", dialog.m_FilePid);
  EXPECT_FALSE(dialog.MatchDevice());  // no device selected yet

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
}

// Newest first, .dfu files only, checked until one matches the device.
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

  const struct {
    const char* name;
    uint16_t pid;  // 0: not a package
    int age;
  } files[] = {{"old_1.dfu", 0xA19B, 500},
               {"new_2.dfu", 0xA19B, 400},
               {"other_3.dfu", 0x8159, 300},  // newer, but for another device
               {"plain_4.bin", 0xA19B, 10},   // newest, but not a .dfu
               {"broken_5.dfu", 0, 20}};
  for (const auto& f : files) {
    if (f.pid)
      ASSERT_TRUE(WritePackage(cache.file(f.name), Package(f.pid)));
    else
      ASSERT_TRUE(testsupport::WriteBytes(cache.file(f.name), {0x44, 0x66}));
    fs::last_write_time(fs::u8path(cache.file(f.name)),
                        fs::file_time_type::clock::now() - std::chrono::seconds(f.age));
  }
  fs::create_directory(fs::u8path(cache.file("folder.dfu")));  // the newest entry of all
  ASSERT_TRUE(dialog.autoSelectDfuFile());
  EXPECT_EQ(cache.file("new_2.dfu"), dialog.m_UpgradeFilePath);
  EXPECT_TRUE(log.InOrder({"Check File: " + cache.file("broken_5.dfu") + " time: ",
                           "Check File: " + cache.file("other_3.dfu"),
                           "Check File: " + cache.file("new_2.dfu")}));
  for (const char* unseen : {"old_1.dfu", "plain_4.bin", "folder.dfu"})
    EXPECT_FALSE(log.Has(unseen)) << unseen;

  DFUpgradeDialog stranger;
  stranger.m_DeviceVid = "1234";
  stranger.m_DevicePid = "5678";
  EXPECT_FALSE(stranger.autoSelectDfuFile());
  EXPECT_EQ("", stranger.m_UpgradeFilePath);
}

TEST(DfuPackage, CacheFolderLiesUnderTheApplicationData) {
  const std::string folder = DfuPackageCacheFolder();
  const std::string tail =
      std::string("OvraNetService") + platform::PathSeparator() + "DFU" + platform::PathSeparator();
  ASSERT_GE(folder.size(), tail.size());
  EXPECT_EQ(tail, folder.substr(folder.size() - tail.size()));
}
