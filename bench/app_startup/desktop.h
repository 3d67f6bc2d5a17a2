// A private X display for the GUI start-up benchmark: Xvfb on a free display and trayer (an
// XEmbed tray host), and the question whether the program's icon sits in the tray.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

class BenchDesktop {
 public:
  BenchDesktop() = default;
  ~BenchDesktop();  // ends trayer and Xvfb
  BenchDesktop(const BenchDesktop&) = delete;
  BenchDesktop& operator=(const BenchDesktop&) = delete;

  // Starts Xvfb and trayer and waits (up to 20 s) until the tray panel is mapped. False, with
  // the reason on standard error, when a tool is missing or does not come up.
  bool Start();
  const std::string& display() const { return display_; }
  // Whether a window of the program `name` (its WM_CLASS) is embedded in trayer's panel now.
  bool IconInTray(const std::string& name);

 private:
  pid_t xvfb_ = -1;
  pid_t trayer_ = -1;
  std::string display_;
  void* connection_ = nullptr;  // xcb_connection_t
};

}  // namespace bench
