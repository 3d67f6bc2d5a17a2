// Xvfb and trayer for the GUI start-up benchmark, and the tray check through xcb.
#include "desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"

namespace bench {
namespace {

// A text property of a window (WM_NAME, WM_CLASS: instance and class, each ending in a zero).
std::string TextProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
  xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, w, property, XCB_ATOM_ANY, 0, 256);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
  std::string name;
  if (reply) {
    int length = xcb_get_property_value_length(reply);
    if (length > 0) name.assign(static_cast<const char*>(xcb_get_property_value(reply)), length);
    free(reply);
  }
  return name;
}

std::string WindowName(xcb_connection_t* c, xcb_window_t w) {
  return TextProperty(c, w, XCB_ATOM_WM_NAME);
}

// Qt names its tray icon's window only in WM_CLASS ("ovra7server\0ovra7server\0").
bool OfClass(xcb_connection_t* c, xcb_window_t w, const std::string& name) {
  return TextProperty(c, w, XCB_ATOM_WM_CLASS).compare(0, name.size() + 1,
                                                       std::string(name).append(1, '\0')) == 0;
}

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t w) {
  std::vector<xcb_window_t> children;
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
  if (tree) {
    xcb_window_t* list = xcb_query_tree_children(tree);
    children.assign(list, list + xcb_query_tree_children_length(tree));
    free(tree);
  }
  return children;
}

bool HasDescendantOfClass(xcb_connection_t* c, xcb_window_t w, const std::string& name, int depth) {
  if (depth > 4) return false;
  for (xcb_window_t child : Children(c, w)) {
    if (OfClass(c, child, name) || HasDescendantOfClass(c, child, name, depth + 1)) return true;
  }
  return false;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

}  // namespace

BenchDesktop::~BenchDesktop() {
  if (connection_) xcb_disconnect(static_cast<xcb_connection_t*>(connection_));
  Stop(trayer_);
  Stop(xvfb_);
}

bool BenchDesktop::Start() {
  // A display number nobody uses: no lock file and no socket; another Xvfb that takes the same
  // number first makes ours exit, and the next number is tried.
  for (int number = 120; number < 220 && !connection_; ++number) {
    std::string n = std::to_string(number);
    if (access(("/tmp/.X" + n + "-lock").c_str(), F_OK) == 0 ||
        access(("/tmp/.X11-unix/X" + n).c_str(), F_OK) == 0) {
      continue;
    }
    std::string display = ":" + n;
    xvfb_ = fork();
    if (xvfb_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDERR_FILENO);
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 2000; ++i) {
      if (waitpid(xvfb_, nullptr, WNOHANG) == xvfb_) {
        xvfb_ = -1;  // gone: the number was taken after all
        break;
      }
      auto* c = xcb_connect(display.c_str(), nullptr);
      if (!xcb_connection_has_error(c)) {
        connection_ = c;
        display_ = display;
        break;
      }
      xcb_disconnect(c);
      platform::SleepMs(10);
    }
  }
  if (!connection_) {
    std::fprintf(stderr, "app_startup: Xvfb did not start (is it installed?)\n");
    return false;
  }
  setenv("DISPLAY", display_.c_str(), 1);
  auto* c = static_cast<xcb_connection_t*>(connection_);
  trayer_ = fork();
  if (trayer_ == 0) {
    execlp("trayer", "trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
           "--height", "32", static_cast<char*>(nullptr));
    _exit(127);
  }
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  for (int i = 0; i < 2000; ++i) {
    for (xcb_window_t w : Children(c, root)) {
      if (WindowName(c, w) == "panel") return true;
    }
    platform::SleepMs(10);
  }
  std::fprintf(stderr, "app_startup: trayer did not map its panel (is it installed?)\n");
  return false;
}

bool BenchDesktop::IconInTray(const std::string& name) {
  auto* c = static_cast<xcb_connection_t*>(connection_);
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  for (xcb_window_t w : Children(c, root)) {
    if (WindowName(c, w) == "panel") return HasDescendantOfClass(c, w, name, 0);
  }
  return false;
}

}  // namespace bench
