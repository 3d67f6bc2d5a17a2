// POSIX start with the session: an XDG autostart entry in $XDG_CONFIG_HOME/autostart.
#include "platform/autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/app_data.h"
#include "platform/settings_file.h"

namespace platform {
namespace {

std::string AutostartDir() {
  std::string config = UserAppDataDir();
  return config.empty() ? std::string() : config + "/autostart";
}

std::string EntryPath(const std::string& name) { return AutostartDir() + "/" + name + ".desktop"; }

// A value as a desktop-file string: backslashes and line ends escaped, so that no value can
// end early or add keys of its own to the entry.
std::string DesktopString(const std::string& text) {
  std::string value;
  for (char c : text) {
    if (c == '\\') {
      value += "\\\\";
    } else if (c == '\n') {
      value += "\\n";
    } else if (c == '\r') {
      value += "\\r";
    } else {
      value += c;
    }
  }
  return value;
}

// The command the caller quoted as one argument ("path"), without its quotes.
std::string Unquoted(const std::string& command) {
  if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
    return command.substr(1, command.size() - 2);
  return command;
}

// The Exec value for a command the caller quoted as one argument. Inside a quoted argument the
// desktop's launcher reads ", `, $ and \ only behind a backslash and % as a field code; a path
// holding any of these would otherwise not start.
std::string ExecValue(const std::string& command) {
  std::string quoted = "\"";
  for (char c : Unquoted(command)) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  return DesktopString(quoted);
}

}  // namespace

AutostartState QueryAutostart(const std::string& name) {
  if (AutostartDir().empty()) return AutostartState::kUnavailable;
  struct stat st;
  if (stat(EntryPath(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return AutostartState::kAbsent;
  return AutostartState::kPresent;
}

bool AddAutostart(const std::string& name, const std::string& command,
                  const std::string& iconName) {
  std::string dir = AutostartDir();
  if (dir.empty()) return false;
  if (!PrepareFolder(dir)) return false;
  // TryExec: once the program is removed, the session skips the entry instead of failing to
  // start it at every logon.
  std::string text = "[Desktop Entry]\nType=Application\nName=" + DesktopString(name) +
                     "\nTryExec=" + DesktopString(Unquoted(command)) +
                     "\nExec=" + ExecValue(command) +
                     (iconName.empty() ? "" : "\nIcon=" + DesktopString(iconName)) +
                     "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  std::string path = EntryPath(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) unlink(path.c_str());
  return ok;
}

bool RemoveAutostart(const std::string& name) {
  if (AutostartDir().empty()) return false;
  return unlink(EntryPath(name).c_str()) == 0;
}

}  // namespace platform
