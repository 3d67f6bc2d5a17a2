// The settings file "setting.ini" in the folder "OvraNetService" of the per-user application
// data: its keys, defaults and the one-key-at-a-time writes. Portable; window's thread only.
#pragma once

#include <string>

namespace app {

// Section and key names, spelled as they are written. Reading ignores case.
namespace keys {
constexpr const char* kComSection = "COM";
constexpr const char* kPortRead = "port";
constexpr const char* kPortWritten = "PORT";
constexpr const char* kConnectSection = "CONNECT";
constexpr const char* kType = "TYPE";
constexpr const char* kSettingSection = "SETTING";
constexpr const char* kAutoStart = "AutoStart";
constexpr const char* kSetSection = "Set";
constexpr const char* kLog = "Log";
constexpr const char* kHeartBeatSection = "HeartBeat";
constexpr const char* kUsb = "Usb";
constexpr const char* kCat1 = "Cat1";
}  // namespace keys

// What the file holds, defaults filled in for anything missing. Values are not range-checked.
struct Settings {
  int port = 0;         // 0 automatic, n the port numbered n
  int networkMode = 0;  // 0 automatic (USB first), 1 USB only, 2 Cat1 only
  int autoStart = 1;    // start the service when the window initialises
  int log = 0;          // the diagnostic log switch
  int usbHeartBeat = 600;
  int cat1HeartBeat = 600;
};

class SettingsStore {
 public:
  // Creates the folder when needed (Linux: with any missing parents, mode 0700) and remembers
  // folder/setting.ini. A folder that cannot be created, or a file path longer than the system
  // takes, is not an error: reads then give defaults and writes fail quietly.
  void Prepare(const std::string& folder);
  const std::string& path() const { return path_; }

  int ReadInt(const char* section, const char* key, int defaultValue) const;
  // Each write changes one key; the result is reported for the log and tests only.
  bool WriteInt(const char* section, const char* key, int value) const;

  // Reads every key in the order the program always has: port, mode, auto-start, log, USB and
  // Cat1 heartbeat.
  Settings Load() const;

 private:
  std::string path_;
};

}  // namespace app
