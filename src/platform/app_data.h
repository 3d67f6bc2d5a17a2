// The per-user application-data folder, under which the settings folder "OvraNetService" and
// the package cache "OvraNetService/DFU" lie.
#pragma once

#include <string>

namespace platform {

// Windows: SHGetFolderPathW(CSIDL_APPDATA), current path. Linux: $XDG_CONFIG_HOME, default
// $HOME/.config. UTF-8, without a trailing separator; "" when it cannot be had.
std::string UserAppDataDir();

// The program's folder "OvraNetService" under UserAppDataDir(): the settings file lies in it and
// the package cache below it. Both the window and the downloader take it from here, so they
// can never disagree. "" when the per-user folder is unknown; no file access.
std::string ProgramDataFolder();

}  // namespace platform
