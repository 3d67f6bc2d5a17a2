// The client side of the control channel. Portable.
#include "app/control_client.h"

#include <cstdio>

#include "app/command_line_text.h"
#include "app/exit_status.h"
#include "app/main_window_title.h"
#include "platform/control_protocol.h"
#include "platform/single_instance.h"

namespace app {
namespace {

int PrintUsage(std::FILE* to, const std::string& usage, int code) {
  std::fputs(usage.c_str(), to);
  std::fflush(to);
  return code;
}

void Say(const std::string& text) {
  std::fputs((ProgramName() + ": " + text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// A send that failed either found nobody or found an instance that did not answer in time;
// scripts must not take a busy instance for a missing one and start a second.
int Unanswered() {
  if (platform::InstanceRunning(kMainWindowTitle)) {
    Say("the running instance did not answer");
    return kExitFailed;
  }
  Say("no running instance found");
  return kExitNoInstance;
}

// Flashes a reader waiting in DFU mode through the running instance: the dialog's last status
// line on standard output, done when the flash was written, verified and the reader told to leave
// DFU mode (a leave that failed is not done: the reader is still in DFU mode). The answer is
// waited for however long the flash takes; the flash bounds itself.
int RunUpgrade() {
  long result = 0;
  std::string status;
  switch (platform::SendUpgradeCommand(&result, &status)) {
    case platform::UpgradeExchange::kAnswered:
      break;
    case platform::UpgradeExchange::kNoInstance:
      Say("no running instance found");
      return kExitNoInstance;
    case platform::UpgradeExchange::kNoAnswer:
      Say("the running instance ended without answering");
      return kExitFailed;
  }
  if (!status.empty()) {
    std::printf("%s\n", status.c_str());
    std::fflush(stdout);
  } else if (result == platform::kUpgradeNoDevice) {
    Say("no reader in DFU mode found");
  } else if (result == platform::kUpgradeBusy) {
    Say("a reader is being upgraded already");
  }
  return result == platform::kUpgradeCompleted ? kExitDone : kExitFailed;
}

// Whether the instance's answer means the command did what it asks.
bool Succeeded(int command, long result) {
  if (command == platform::kControlStatus) return result != -1;  // -1: the reader was silent
  return result == 1;  // start: the port opened; stop: always; mode: the reader accepted
}

}  // namespace

int RunControlCommand(const std::vector<std::string>& words, const std::string& usageText) {
  std::string request;
  for (size_t i = 0; i < words.size(); ++i) request += (i ? " " : "") + words[i];
  int command = 0, argument = 0;
  if (!platform::ParseControlRequest(request, &command, &argument) ||
      command == platform::kControlShow ||
      (command == platform::kControlMode && argument != 1 && argument != 2))
    return PrintUsage(stderr, usageText, kExitUsage);
  if (command == platform::kControlUpgrade) {
    if (!platform::ControlChannelCarriesUpgrade()) {
      Say("on this system the upgrade is offered in the program's window");
      return PrintUsage(stderr, usageText, kExitUsage);
    }
    return RunUpgrade();
  }
  long result = 0;
  if (!platform::SendControlCommand(kMainWindowTitle, command, argument, &result))
    return Unanswered();
  // While a flash runs the reader cannot be asked; the line says so instead of a number.
  if (command == platform::kControlStatus && result == platform::kStatusFlashing) {
    std::printf("flashing\n");
    std::fflush(stdout);
    return kExitDone;
  }
  std::printf("%ld\n", result);
  std::fflush(stdout);
  return Succeeded(command, result) ? kExitDone : kExitFailed;
}

int ControlProgramMain(const std::vector<std::string>& args) {
  const std::string usage = ControlUsageText();
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
    return PrintUsage(stdout, usage, kExitDone);
  if (args.size() == 1 && args[0] == "--version") {
    std::fputs(VersionText().c_str(), stdout);
    std::fflush(stdout);
    return kExitDone;
  }
  if (args.empty() || args[0] != "--control") return PrintUsage(stderr, usage, kExitUsage);
  return RunControlCommand(std::vector<std::string>(args.begin() + 1, args.end()), usage);
}

}  // namespace app
