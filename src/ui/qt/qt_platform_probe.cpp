// The check of the window system before Qt starts (see qt_platform_probe.h). Linux only. It runs
// in the program before the Qt module is loaded, so it uses no Qt, and libxcb only through
// dlopen when an X display is to be asked: a headless start loads neither.
#include "ui/qt/qt_platform_probe.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>  // types only: libxcb is loaded at run time

#include <cstdlib>
#include <cstring>
#include <vector>

namespace ui::qt {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// Where Qt looks for platform plugins, as far as that is cheap to know.
std::vector<std::string> PluginDirs() {
  std::vector<std::string> dirs = Split(Env("QT_QPA_PLATFORM_PLUGIN_PATH"), ':');
  for (const std::string& dir : Split(Env("QT_PLUGIN_PATH"), ':'))
    dirs.push_back(dir + "/platforms");
  dirs.push_back(std::string(OVRA7_QT_PLUGINS_DIR) + "/platforms");  // the build's Qt
  return dirs;
}

bool PluginInstalled(const std::string& name) {
  std::vector<std::string> files{"libq" + name + ".so"};
  if (name == "wayland") files.push_back("libqwayland-generic.so");  // its name before Qt 6.7
  for (const std::string& dir : PluginDirs()) {
    for (const std::string& file : files) {
      if (::access((dir + "/" + file).c_str(), R_OK) == 0) return true;
    }
  }
  return false;
}

// Empty when the X display answers; otherwise why not. libxcb is what Qt's xcb plugin
// connects with, so the answer is the one Qt would get.
std::string WhyXDisplayDoesNotAnswer() {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return "libxcb.so.1 cannot be loaded (package libxcb1)";
  auto connect = reinterpret_cast<decltype(&xcb_connect)>(::dlsym(xcb, "xcb_connect"));
  auto has_error = reinterpret_cast<decltype(&xcb_connection_has_error)>(
      ::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<decltype(&xcb_disconnect)>(::dlsym(xcb, "xcb_disconnect"));
  std::string why;
  if (!connect || !has_error || !disconnect) {
    why = "libxcb.so.1 lacks xcb_connect";
  } else {
    int screen = 0;
    xcb_connection_t* connection = connect(nullptr, &screen);
    if (!connection || has_error(connection) != 0)
      why = "the X display " + Env("DISPLAY") + " does not answer";
    if (connection) disconnect(connection);
  }
  ::dlclose(xcb);
  return why;
}

bool SocketAccepts(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return ok;
}

// The compositor's socket as libwayland-client finds it; empty when it cannot be named.
std::string WaylandSocketPath() {
  std::string name = Env("WAYLAND_DISPLAY");
  if (name.empty()) name = "wayland-0";
  if (name[0] == '/') return name;
  std::string runtime = Env("XDG_RUNTIME_DIR");
  return runtime.empty() ? "" : runtime + "/" + name;
}

// Why the platform plugin `name` cannot open a display; empty when it can.
std::string WhyNot(const std::string& name) {
  bool wayland = name.compare(0, 7, "wayland") == 0;
  if (!PluginInstalled(name)) {
    return "the Qt platform plugin \"" + name + "\" is not installed" +
           (wayland ? " (package qt6-wayland)" : "");
  }
  if (name == "xcb") {
    if (Env("DISPLAY").empty()) return "DISPLAY is not set";
    return WhyXDisplayDoesNotAnswer();
  } else if (wayland && Env("WAYLAND_SOCKET").empty()) {  // WAYLAND_SOCKET: a connection given
    std::string path = WaylandSocketPath();
    if (path.empty()) return "XDG_RUNTIME_DIR is not set, so the Wayland display has no socket";
    if (!SocketAccepts(path)) return "the Wayland display " + path + " does not accept connections";
  }
  return "";
}

}  // namespace

PlatformChoice ChooseQtPlatform() {
  PlatformChoice choice;
  std::vector<std::string> reasons;
  std::string named = Env("QT_QPA_PLATFORM");
  std::vector<std::string> entries = Split(named, ';');
  if (!entries.empty()) {
    for (const std::string& entry : entries) {
      std::string why = WhyNot(entry.substr(0, entry.find(':')));  // "xcb:option=value"
      if (why.empty()) {
        choice.platform = entry;
        return choice;
      }
      reasons.push_back(why);
    }
    choice.why_not = "QT_QPA_PLATFORM=" + named + ": " + Join(reasons, "; ");
    return choice;
  }
  bool x11 = !Env("DISPLAY").empty();
  bool wayland = !Env("WAYLAND_DISPLAY").empty();
  if (!x11 && !wayland) {
    choice.why_not = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
    return choice;
  }
  for (const char* name : {"xcb", "wayland"}) {
    if (!(name[0] == 'x' ? x11 : wayland)) continue;
    std::string why = WhyNot(name);
    if (why.empty()) {
      choice.platform = name;
      return choice;
    }
    reasons.push_back(why);
  }
  choice.why_not = Join(reasons, "; ");
  return choice;
}

}  // namespace ui::qt
