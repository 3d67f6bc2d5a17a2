// The settings file and its folder: the OS boundary for reading and writing INI keys.
// Windows: the private-profile functions. Linux: our own reader and writer (platform/ini_text.h)
// with the same rules. Called on the window's thread; each call opens and closes the file.
#pragma once

#include <string>

namespace platform {

// The integer at the start of [section] key's value; defaultValue when the file, section or key
// is missing (see IniReadInt for the rules). Never fails.
int ReadIniFileInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue);

// Sets [section] key to value, creating the file when it does not exist and keeping every other
// key. false when the file could not be read or written (the old file is then left intact).
bool WriteIniFileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

// Creates the folder when it does not exist. Windows: one level, then the "normal" attributes
// (the application-data folder above it always exists). Linux: any missing parents too, each
// with mode 0700, since on a fresh account not even ~/.config (or $XDG_CONFIG_HOME) exists;
// folders that exist keep their mode. true when the folder exists afterwards.
bool PrepareFolder(const std::string& path);

}  // namespace platform
