// Application start-up and the single-instance rule. Portable.
#include "app/ovra7_server_app.h"

#include "app/main_window_template.h"
#include "log/log.h"
#include "platform/socket.h"

namespace app {

const char* const kAlreadyRunningText = "程序已启动，请在托盘处打开";

COvra7ServerApp::COvra7ServerApp() { platform::NetStartup(); }

COvra7ServerApp::~COvra7ServerApp() {
  // Listener threads call into the window: they go first.
  control_.reset();
  events_.reset();
  window_.reset();
  platform::NetCleanup();
  instance_.reset();
}

bool COvra7ServerApp::InitInstance(DialogEnvironment env) {
  bool alreadyRunning = false;
  instance_ = platform::AcquireInstanceLock(&alreadyRunning);
  if (alreadyRunning) {
    if (noWindowComing_) noWindowComing_();
    // The first instance may still be starting (no window yet): then the user is told.
    if (!platform::ShowRunningInstance(kMainWindowTitle)) ui::ShowMessageBox(kAlreadyRunningText);
    return false;
  }
  window_ = std::make_unique<COvra7ServerDlg>(std::move(env));
  if (!window_->Create()) {
    WriteLog("main window could not be created");
    return false;
  }
  COvra7ServerDlg* window = window_.get();
  events_ = platform::StartDesktopEventMonitor(
      [window](int event) { window->PostDeviceChange(event); },
      // Sent, not posted: the suspend must be handled before the monitor lets the machine sleep.
      [window](int event) { window->DeliverPowerEvent(event); });
  control_ = platform::StartControlListener(
      [window](int command, int argument) -> long {
        return static_cast<long>(window->SendMessage(WM_SERVICE_CONTROL, command, argument));
      },
      [window] { window->PostMessage(WM_SHOW_REQUEST, 0, 0); },
      // Queued: the listener goes on answering while the flash runs.
      [window](platform::UpgradeReply reply) { window->RequestUpgrade(std::move(reply)); });
  return true;
}

}  // namespace app
