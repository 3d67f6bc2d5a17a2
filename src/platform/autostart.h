// Starting the program with the user's session. Windows: the value under
// HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run. Linux: $XDG_CONFIG_HOME/autostart/<name>
// .desktop whose Exec is the command, escaped as desktop entries escape a quoted argument.
// Called on the window's thread; quick file/registry calls.
#pragma once

#include <string>

namespace platform {

enum class AutostartState {
  kUnavailable,  // the Run key (or the config folder) cannot be opened
  kAbsent,       // not registered, or the stored data does not fit 260 characters (zero included)
  kPresent,      // registered, whatever command it holds
};

AutostartState QueryAutostart(const std::string& name);

// Stores command (already quoted by the caller: one executable path in double quotes) under
// name. Linux: the entry also names the executable as TryExec and, when given, the icon
// (an icon theme name); Windows has no place for an icon there. true on success.
bool AddAutostart(const std::string& name, const std::string& command,
                  const std::string& iconName = std::string());

// Removes the registration. true on success.
bool RemoveAutostart(const std::string& name);

}  // namespace platform
