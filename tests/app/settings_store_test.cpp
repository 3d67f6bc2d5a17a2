// The settings file through the platform backend: defaults, case-insensitive keys, one-key
// writes that keep the rest of the file.
#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "platform/settings_file.h"
#include "support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
  out << text;
}

}  // namespace

TEST(SettingsStore, NoFileGivesTheDefaultsAndTheFirstWriteCreatesIt) {
  testsupport::TempFolder temp;
  app::SettingsStore store;
  store.Prepare(temp.file("OvraNetService"));
  app::Settings s = store.Load();
  EXPECT_EQ(0, s.port);
  EXPECT_EQ(0, s.networkMode);
  EXPECT_EQ(1, s.autoStart);
  EXPECT_EQ(0, s.log);
  EXPECT_EQ(600, s.usbHeartBeat);
  EXPECT_EQ(600, s.cat1HeartBeat);
  EXPECT_TRUE(store.WriteInt("HeartBeat", "Usb", 120));
  EXPECT_EQ(120, store.Load().usbHeartBeat);
  EXPECT_EQ(600, store.Load().cat1HeartBeat);
}

TEST(SettingsStore, KeysMatchWithoutCaseAndAWriteKeepsTheOtherKeys) {
  testsupport::TempFolder temp;
  app::SettingsStore store;
  store.Prepare(temp.file("OvraNetService"));
  WriteAll(store.path(),
           "[COM]\r\nPORT=5\r\n[connect]\r\ntype=2\r\n[Set]\r\nLOG=1\r\n[Other]\r\nkeep=me\r\n");
  app::Settings s = store.Load();
  EXPECT_EQ(5, s.port);
  EXPECT_EQ(2, s.networkMode);
  EXPECT_EQ(1, s.log);
  EXPECT_TRUE(store.WriteInt("COM", "PORT", 9));
  EXPECT_EQ(9, store.Load().port);
  std::string text = ReadAll(store.path());
  EXPECT_NE(std::string::npos, text.find("keep=me"));
  EXPECT_NE(std::string::npos, text.find("type=2"));
  EXPECT_EQ(text.find("PORT"), text.rfind("PORT"));  // one entry, not two
}

TEST(SettingsStore, CorruptFileReadsWithoutCrashAndAMissingFolderFailsQuietly) {
  testsupport::TempFolder temp;
  app::SettingsStore store;
  store.Prepare(temp.file("OvraNetService"));
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 131) & 0xff));
  WriteAll(store.path(), junk + "\n[HeartBeat]\nUsb=30\n");
  EXPECT_EQ(30, store.Load().usbHeartBeat);  // out of range is not checked when read
  EXPECT_TRUE(store.WriteInt("SETTING", "AutoStart", 0));
  EXPECT_EQ(0, store.Load().autoStart);

  // A folder that cannot be made (a file stands where its parent should be).
  WriteAll(temp.file("blocker"), "x");
  app::SettingsStore lost;
  lost.Prepare(temp.file("blocker") + platform::PathSeparator() + "OvraNetService");
  EXPECT_FALSE(lost.WriteInt("COM", "PORT", 3));
  EXPECT_EQ(0, lost.Load().port);
}

// A user folder with Chinese characters: the limit counts characters as the system does, so a
// path of far more than 260 bytes but fewer characters keeps every setting.
TEST(SettingsStore, NonAsciiFolderIsUsableUpToTheSystemsLimit) {
  testsupport::TempFolder temp;
  std::string level;
  for (int i = 0; i < 40; ++i) level += "读";
  const std::string sep = platform::PathSeparator();
  const std::string folder = temp.file(level) + sep + level + sep + level;
  std::filesystem::create_directories(std::filesystem::u8path(folder));
  app::SettingsStore store;
  store.Prepare(folder);
  ASSERT_GT(store.path().size(), 360u);
  ASSERT_FALSE(store.path().empty());
  EXPECT_TRUE(store.WriteInt("HeartBeat", "Cat1", 120));
  EXPECT_EQ(120, store.Load().cat1HeartBeat);
}

TEST(SettingsStore, PathBeyondTheSystemsLimitIsRefusedNotCut) {
#ifdef _WIN32
  const size_t limit = 260;  // UTF-16 units with the terminator
#else
  const size_t limit = PATH_MAX;  // bytes with the terminator
#endif
  testsupport::TempFolder temp;
  const std::string base = temp.dir();  // ASCII: bytes and characters count alike
  const std::string file = platform::PathSeparator() + std::string("setting.ini");
  auto folderOf = [&](size_t pathLength) {
    return base + std::string(pathLength - base.size() - file.size(), 'f');
  };
  app::SettingsStore longest;
  longest.Prepare(folderOf(limit - 1));
  EXPECT_EQ(longest.path().size(), limit - 1);
  app::SettingsStore over;
  over.Prepare(folderOf(limit));
  EXPECT_EQ(over.path(), "");
  EXPECT_FALSE(over.WriteInt("COM", "PORT", 3));
  EXPECT_EQ(0, over.Load().port);
}
