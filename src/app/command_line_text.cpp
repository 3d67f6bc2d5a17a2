// The texts of the programs' command lines. Portable.
#include "app/command_line_text.h"

#include <filesystem>

#include "app/exit_status.h"
#include "platform/executable.h"
#include "platform/single_instance.h"

namespace app {
namespace {

// The "--control CMD" synopsis words; "upgrade" only where the control channel carries it.
std::string ControlSynopsis() {
  return std::string("start|stop|mode 1|mode 2|status") +
         (platform::ControlChannelCarriesUpgrade() ? "|upgrade" : "");
}

std::string ControlCommandsText() {
  std::string text =
      "  --control CMD  send CMD to the running instance and print its result:\n"
      "                   start    start the relay service; prints 1 (port open) or 0\n"
      "                   stop     stop the relay service; prints 1\n"
      "                   mode 1   set the reader's network mode to USB; prints 1 when the\n"
      "                            reader accepted it, 0 when it refused\n"
      "                   mode 2   the same for Cat1\n"
      "                   status   print the reader's connection status code (-1: the reader\n"
      "                            did not answer)\n";
  if (platform::ControlChannelCarriesUpgrade())
    text +=
        "                   upgrade  flash a reader waiting in DFU mode from the package cache;\n"
        "                            prints the flashing dialog's last status line\n";
  return text;
}

std::string ControlExitText() {
  return std::string(kExitStatusHelp) +
         ", 3 no running instance.\n"
         "A control command is done when it did what it asks: start opened the port, stop,\n"
         "a mode the reader accepted, a status the reader answered" +
         (platform::ControlChannelCarriesUpgrade() ? ", upgrade flashed the reader" : "") + ".\n";
}

}  // namespace

std::string ProgramName() {
  std::string stem = std::filesystem::u8path(platform::ExecutablePath()).stem().u8string();
  return stem.empty() ? "ovra7server" : stem;
}

std::string UsageText() {
  const std::string name = ProgramName();
  return "usage: " + name + " [--headless]\n" + "       " + name + " --control " +
         ControlSynopsis() + "\n" + "       " + name + " --help | --version\n" +
         "\n"
         "  --headless     run without a window: the same service, settings and control\n"
         "                 commands, no display needed\n" +
         ControlCommandsText() +
         "  --help         print this help and exit\n"
         "  --version      print the name and version and exit\n"
         "\n" +
         ControlExitText();
}

std::string ControlUsageText() {
  const std::string name = ProgramName();
  return "usage: " + name + " --control " + ControlSynopsis() + "\n" + "       " + name +
         " --help | --version\n" +
         "\n"
         "Steers the Ovra7Server running in this session, for scripts and monitoring tools:\n"
         "it waits for the answer and tells the outcome by its exit status.\n"
         "\n" +
         ControlCommandsText() +
         "  --help         print this help and exit\n"
         "  --version      print the name and version and exit\n"
         "\n" +
         ControlExitText();
}

std::string VersionText() { return ProgramName() + " " + platform::ProductVersionText() + "\n"; }

}  // namespace app
