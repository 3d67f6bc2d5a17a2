// COvra7ServerApp: the process around the main window. Starts and ends the socket library,
// keeps one instance per session, creates the hidden main window and, where the system needs
// them (Linux), the device/power monitor and the control socket. Portable.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "app/ovra7_server_dlg.h"
#include "platform/desktop_events.h"
#include "platform/single_instance.h"

namespace app {

extern const char* const kAlreadyRunningText;  // "程序已启动，请在托盘处打开"

class COvra7ServerApp {
 public:
  COvra7ServerApp();   // starts the socket library (version 2.2); the result is not checked
  ~COvra7ServerApp();  // stops listeners, destroys the window, releases sockets and the mark

  // Loop thread, with the dialog backend installed. false: a second instance (the first was
  // asked to show its window, or the user was told) or no window could be made; the process
  // then ends without running the loop.
  bool InitInstance(DialogEnvironment env = DialogEnvironment());

  // Runs on the loop thread when this process turns out to be a second instance, before the
  // user may be told so in a box: no window will come, so an end asked for meanwhile must end
  // the box instead of waiting for the window.
  void SetNoWindowComing(std::function<void()> hook) { noWindowComing_ = std::move(hook); }

  COvra7ServerDlg* mainWindow() const { return window_.get(); }

 private:
  std::unique_ptr<platform::InstanceLock> instance_;
  std::unique_ptr<COvra7ServerDlg> window_;
  std::unique_ptr<platform::DesktopEventMonitor> events_;
  std::unique_ptr<platform::ControlListener> control_;
  std::function<void()> noWindowComing_;
};

}  // namespace app
