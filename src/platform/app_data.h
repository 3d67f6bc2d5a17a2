// The per-user application-data folder, under which the settings folder "OvraNetService" and
// the package cache "OvraNetService/DFU" lie.
#pragma once

#include <string>

namespace platform {

// Windows: SHGetFolderPathW(CSIDL_APPDATA), current path. Linux: $XDG_CONFIG_HOME, default
// $HOME/.config. UTF-8, without a trailing separator; "" when it cannot be had.
std::string UserAppDataDir();

}  // namespace platform
