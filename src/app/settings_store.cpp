// Settings file keys and defaults. Portable.
#include "app/settings_store.h"

#include "platform/paths.h"
#include "platform/settings_file.h"

namespace app {

void SettingsStore::Prepare(const std::string& folder) {
  if (!folder.empty()) platform::PrepareFolder(folder);
  path_ = folder.empty() ? std::string() : folder + platform::PathSeparator() + "setting.ini";
  // A path the file functions refuse is unusable; a longer one is never cut into another.
  if (!platform::PathFitsSystemLimit(path_)) path_.clear();
}

int SettingsStore::ReadInt(const char* section, const char* key, int defaultValue) const {
  if (path_.empty()) return defaultValue;
  return platform::ReadIniFileInt(path_, section, key, defaultValue);
}

bool SettingsStore::WriteInt(const char* section, const char* key, int value) const {
  if (path_.empty()) return false;
  return platform::WriteIniFileString(path_, section, key, std::to_string(value));
}

Settings SettingsStore::Load() const {
  Settings s;
  s.port = ReadInt(keys::kComSection, keys::kPortRead, 0);
  s.networkMode = ReadInt(keys::kConnectSection, keys::kType, 0);
  s.autoStart = ReadInt(keys::kSettingSection, keys::kAutoStart, 1);
  s.log = ReadInt(keys::kSetSection, keys::kLog, 0);
  s.usbHeartBeat = ReadInt(keys::kHeartBeatSection, keys::kUsb, 600);
  s.cat1HeartBeat = ReadInt(keys::kHeartBeatSection, keys::kCat1, 600);
  return s;
}

}  // namespace app
