// The settings file through the platform backend: defaults, case-insensitive keys, one-key
// writes that keep the rest of the file.
#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/settings_file.h"
#include "support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
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

  app::SettingsStore lost;
  lost.Prepare(temp.file("no") + "/such/deeper/folder");
  EXPECT_FALSE(lost.WriteInt("COM", "PORT", 3));
  EXPECT_EQ(0, lost.Load().port);
}
