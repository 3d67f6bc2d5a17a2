// Xvfb and trayer for the GUI start-up benchmark, and the tray check through xcb.
#include "desktop.h"

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

std::string WindowName(xcb_connection_t* c, xcb_window_t w) {
  xcb_get_property_cookie_t cookie =
      xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
  std::string name;
  if (reply) {
    int length = xcb_get_property_value_length(reply);
    if (length > 0) name.assign(static_cast<const char*>(xcb_get_property_value(reply)), length);
    free(reply);
  }
  return name;
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

bool HasDescendantNamed(xcb_connection_t* c, xcb_window_t w, const std::string& name, int depth) {
  if (depth > 4) return false;
  for (xcb_window_t child : Children(c, w)) {
    if (WindowName(c, child) == name || HasDescendantNamed(c, child, name, depth + 1)) return true;
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
  int fds[2];
  if (pipe(fds) != 0) return false;
  xvfb_ = fork();
  if (xvfb_ == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buffer[16] = {};
  ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  if (n <= 0) {
    std::fprintf(stderr, "app_startup: Xvfb did not start\n");
    return false;
  }
  display_ = ":" + std::string(buffer, std::strcspn(buffer, "\n"));
  setenv("DISPLAY", display_.c_str(), 1);
  connection_ = xcb_connect(display_.c_str(), nullptr);
  auto* c = static_cast<xcb_connection_t*>(connection_);
  if (xcb_connection_has_error(c)) return false;
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
    if (WindowName(c, w) == "panel") return HasDescendantNamed(c, w, name, 0);
  }
  return false;
}

}  // namespace bench
