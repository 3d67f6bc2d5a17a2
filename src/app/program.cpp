// Command line handling and the run of the tray program. Portable.
#include "app/program.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "app/command_line_text.h"
#include "app/control_client.h"
#include "app/exit_status.h"
#include "app/main_window_template.h"
#include "app/ovra7_server_app.h"
#include "platform/single_instance.h"
#include "ui/backend.h"
#include "ui/dialog.h"

namespace app {
namespace {

int PrintUsage(std::FILE* to, int code) {
  std::fputs(UsageText().c_str(), to);
  std::fflush(to);
  return code;
}

int PrintVersion() {
  std::fputs(VersionText().c_str(), stdout);
  std::fflush(stdout);
  return kExitDone;
}

// The signal watcher reaches the window and the backend only under this lock, so that the main
// thread, which takes it before tearing them down, never frees them under a post in progress.
std::mutex g_signalLock;
COvra7ServerDlg* g_window = nullptr;  // guarded by g_signalLock
bool g_noWindowComing = false;        // guarded by g_signalLock: a second instance telling the user
bool g_signalPending = false;         // guarded by g_signalLock

// A termination signal takes the exit command's path without its question: the reader is told.
// One that comes while the window is being made waits for it; one that comes while a second
// instance tells the user that the first runs ends that box, and with it the program.
void OnTerminationSignal() {
  std::lock_guard<std::mutex> lock(g_signalLock);
  if (g_window) {
    if (!g_window->PostMessage(WM_EXIT_REQUEST, kExitWithoutQuestion, 0)) ui::PostQuit(0);
  } else if (g_noWindowComing) {
    ui::PostQuit(0);
  } else {
    g_signalPending = true;
  }
}

void SetWindow(COvra7ServerDlg* window) {
  std::lock_guard<std::mutex> lock(g_signalLock);
  g_window = window;
  if (window && g_signalPending) window->PostMessage(WM_EXIT_REQUEST, kExitWithoutQuestion, 0);
}

// Loop thread. A quit asked for before the box opens is kept for it (the backends' loops take
// a quit posted before they run).
void SetNoWindowComing(bool noWindow) {
  std::lock_guard<std::mutex> lock(g_signalLock);
  g_noWindowComing = noWindow;
  if (noWindow && g_signalPending) ui::PostQuit(0);
}

}  // namespace

int Ovra7ServerMain(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "--control")
    return RunControlCommand(std::vector<std::string>(args.begin() + 1, args.end()), UsageText());
  bool headless = false;
  for (const std::string& arg : args) {
    if (arg == "--headless") {
      headless = true;
    } else if (arg == "--help" || arg == "-h") {
      return PrintUsage(stdout, kExitDone);
    } else if (arg == "--version") {
      return PrintVersion();
    } else {
      return PrintUsage(stderr, kExitUsage);
    }
  }
  // Before any thread exists, so that only the watcher receives the signals.
  platform::WatchTerminationSignals(&OnTerminationSignal);
  ui::SetApplicationName("Ovra7Server");
  std::unique_ptr<ui::Backend> backend;
  if (!headless) backend = ui::CreateBackend(ui::BackendKind::kNative);
  if (!backend) backend = ui::CreateBackend(ui::BackendKind::kHeadless);
  if (!backend) {
    std::fputs("ovra7server: no window system available\n", stderr);
    return kExitFailed;
  }
  ui::ScopedBackend scoped(backend.get());
  int code = 0;
  {
    COvra7ServerApp application;
    application.SetNoWindowComing([] { SetNoWindowComing(true); });
    bool made = application.InitInstance();
    SetNoWindowComing(false);  // no quit may reach the backend once it is being torn down
    if (!made) return kExitDone;
    SetWindow(application.mainWindow());
    code = ui::RunMessageLoop();
    SetWindow(nullptr);
  }
  return code;
}

}  // namespace app
