// Win32 settings file: the private-profile functions, which keep the rules the core relies on.
#include "platform/settings_file.h"

#include <windows.h>

#include "platform/win32/utf.h"

namespace platform {

int ReadIniFileInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue) {
  return static_cast<int>(GetPrivateProfileIntW(Widen(section).c_str(), Widen(key).c_str(),
                                                defaultValue, Widen(path).c_str()));
}

bool WriteIniFileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  return WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(),
                                    Widen(value).c_str(), Widen(path).c_str()) != 0;
}

bool PrepareFolder(const std::string& path) {
  std::wstring wide = Widen(path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryW(wide.c_str(), nullptr)) return false;
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    return true;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace platform
