// The texts of the programs' command lines: their names, --help and --version. Portable.
#pragma once

#include <string>

namespace app {

// The command as the user types it: the running executable's name without its extension
// ("ovra7server", "Ovra7Server", "ovra7ctl"); "ovra7server" when the path cannot be had.
std::string ProgramName();

// The usage of the program (ovra7server, Ovra7Server.exe) printed by --help (on standard
// output) and after a bad command line (on standard error). The man page ovra7server(1) lists
// the same options and control commands; a test compares them.
std::string UsageText();

// The usage of the console companion ovra7ctl.exe, which takes only --control.
std::string ControlUsageText();

// "<name> <version>\n", the version being the one the About box shows.
std::string VersionText();

}  // namespace app
