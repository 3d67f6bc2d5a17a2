// Command line handling and the run of the tray program. Portable.
#include "app/program.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "app/command_line_text.h"
#include "app/main_window_template.h"
#include "app/ovra7_server_app.h"
#include "platform/control_protocol.h"
#include "platform/single_instance.h"
#include "ui/backend.h"
#include "ui/dialog.h"

namespace app {
namespace {

// Exit status of an unknown option, as command-line programs have it.
constexpr int kExitUnknownOption = 2;

int PrintUsage(std::FILE* to, int code) {
  std::fputs(UsageText().c_str(), to);
  std::fflush(to);
  return code;
}

int PrintVersion() {
  std::fputs(VersionText().c_str(), stdout);
  std::fflush(stdout);
  return 0;
}

// The signal watcher reaches the window and the backend only under this lock, so that the main
// thread, which takes it before tearing them down, never frees them under a post in progress.
std::mutex g_signalLock;
COvra7ServerDlg* g_window = nullptr;  // guarded by g_signalLock
bool g_signalPending = false;         // guarded by g_signalLock

// A termination signal takes the exit command's path without its question: the reader is told.
// One that comes while the window is being made waits for it.
void OnTerminationSignal() {
  std::lock_guard<std::mutex> lock(g_signalLock);
  if (!g_window) {
    g_signalPending = true;
  } else if (!g_window->PostMessage(WM_EXIT_REQUEST, kExitWithoutQuestion, 0)) {
    ui::PostQuit(0);
  }
}

void SetWindow(COvra7ServerDlg* window) {
  std::lock_guard<std::mutex> lock(g_signalLock);
  g_window = window;
  if (window && g_signalPending) window->PostMessage(WM_EXIT_REQUEST, kExitWithoutQuestion, 0);
}

// Flashes a reader waiting in DFU mode through the running instance: the dialog's last status
// line on standard output, exit 0 when the flash was written, verified and the reader told to
// leave DFU mode, 1 otherwise (a leave that failed included: the reader is still in DFU mode).
// The answer is waited for however long the flash takes; the flash bounds itself.
int RunUpgradeControl() {
  if (!platform::ControlChannelCarriesUpgrade()) {
    std::fputs("ovra7server: on this system the upgrade is offered in the program's window\n",
               stderr);
    return 1;
  }
  long result = 0;
  std::string status;
  switch (platform::SendUpgradeCommand(&result, &status)) {
    case platform::UpgradeExchange::kAnswered:
      break;
    case platform::UpgradeExchange::kNoInstance:
      std::fputs("ovra7server: no running instance found\n", stderr);
      return 2;
    case platform::UpgradeExchange::kNoAnswer:
      std::fputs("ovra7server: the running instance ended without answering\n", stderr);
      return 1;
  }
  if (!status.empty()) {
    std::printf("%s\n", status.c_str());
    std::fflush(stdout);
  } else if (result == platform::kUpgradeNoDevice) {
    std::fputs("ovra7server: no reader in DFU mode found\n", stderr);
  } else if (result == platform::kUpgradeBusy) {
    std::fputs("ovra7server: a reader is being upgraded already\n", stderr);
  }
  return result == platform::kUpgradeCompleted ? 0 : 1;
}

int RunControl(const std::vector<std::string>& args) {
  std::string request;
  for (size_t i = 1; i < args.size(); ++i) request += (i > 1 ? " " : "") + args[i];
  int command = 0, argument = 0;
  if (!platform::ParseControlRequest(request, &command, &argument) ||
      command == platform::kControlShow)
    return PrintUsage(stderr, 1);
  if (command == platform::kControlUpgrade) return RunUpgradeControl();
  long result = 0;
  if (!platform::SendControlCommand(kMainWindowTitle, command, argument, &result)) {
    std::fputs("ovra7server: no running instance found\n", stderr);
    return 2;
  }
  // While a flash runs the reader cannot be asked; the line says so instead of a number.
  if (command == platform::kControlStatus && result == platform::kStatusFlashing)
    std::printf("flashing\n");
  else
    std::printf("%ld\n", result);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int Ovra7ServerMain(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "--control") return RunControl(args);
  bool headless = false;
  for (const std::string& arg : args) {
    if (arg == "--headless") {
      headless = true;
    } else if (arg == "--help" || arg == "-h") {
      return PrintUsage(stdout, 0);
    } else if (arg == "--version") {
      return PrintVersion();
    } else {
      return PrintUsage(stderr, kExitUnknownOption);
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
    return 1;
  }
  ui::ScopedBackend scoped(backend.get());
  int code = 0;
  {
    COvra7ServerApp application;
    if (!application.InitInstance()) return 0;
    SetWindow(application.mainWindow());
    code = ui::RunMessageLoop();
    SetWindow(nullptr);
  }
  return code;
}

}  // namespace app
