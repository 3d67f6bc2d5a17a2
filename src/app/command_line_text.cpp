// The texts of the program's command line. Portable.
#include "app/command_line_text.h"

#include <filesystem>

#include "platform/executable.h"

namespace app {

std::string ProgramName() {
  std::string stem = std::filesystem::u8path(platform::ExecutablePath()).stem().u8string();
  return stem.empty() ? "ovra7server" : stem;
}

std::string UsageText() {
  const std::string name = ProgramName();
  return "usage: " + name + " [--headless]\n" +
         "       " + name + " --control start|stop|mode N|status|upgrade\n" +
         "       " + name + " --help | --version\n" +
         "\n"
         "  --headless     run without a window: the same service, settings and control\n"
         "                 commands, no display needed\n"
         "  --control CMD  send CMD to the running instance and print its result:\n"
         "                 start, stop, mode 1 (USB only), mode 2 (Cat1), status; upgrade\n"
         "                 (Linux) flashes a reader waiting in DFU mode from the package cache\n"
         "  --help         print this help and exit\n"
         "  --version      print the name and version and exit\n"
         "\n"
         "Exit status: 0 done; 1 a failure, or a bad --control command; 2 an unknown option,\n"
         "or --control with no running instance.\n";
}

std::string VersionText() {
  return ProgramName() + " " + platform::ProductVersionText() + "\n";
}

}  // namespace app
