// The client side of the control channel, shared by "ovra7server --control" and the Windows
// console companion ovra7ctl.exe: sends one command to the running instance, prints its result
// and turns the outcome into the exit status of app/exit_status.h. Portable.
#pragma once

#include <string>
#include <vector>

namespace app {

// words: what follows --control ("status", "mode 2", ...). Prints the result on standard
// output and what went wrong on standard error; the usage (usageText) after a bad command.
// Blocks until the instance answered (up to the channel's own limits). Returns the exit status.
int RunControlCommand(const std::vector<std::string>& words, const std::string& usageText);

// The whole command line of ovra7ctl (the arguments after the program name): --control CMD,
// --help, --version. Returns the exit status.
int ControlProgramMain(const std::vector<std::string>& args);

}  // namespace app
