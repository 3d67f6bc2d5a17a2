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

// The Exec value for a command the caller quoted as one argument ("path"). Inside a quoted
// argument the desktop's launcher reads ", `, $ and \ only behind a backslash and % as a field
// code, and the value itself is a desktop-file string whose backslashes and line ends are
// escaped again; a path holding any of these would otherwise not start, or a line end in it
// would add keys of its own to the entry.
std::string ExecValue(const std::string& command) {
  std::string arg = command;
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"')
    arg = arg.substr(1, arg.size() - 2);
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (char c : quoted) {
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

}  // namespace

AutostartState QueryAutostart(const std::string& name) {
  if (AutostartDir().empty()) return AutostartState::kUnavailable;
  struct stat st;
  if (stat(EntryPath(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return AutostartState::kAbsent;
  return AutostartState::kPresent;
}

bool AddAutostart(const std::string& name, const std::string& command) {
  std::string dir = AutostartDir();
  if (dir.empty()) return false;
  if (!PrepareFolder(dir)) return false;
  std::string text = "[Desktop Entry]\nType=Application\nName=" + name +
                     "\nExec=" + ExecValue(command) +
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
