// The texts of the program's command line: its name, --help and --version. Portable.
#pragma once

#include <string>

namespace app {

// The command as the user types it: the running executable's name without its extension
// ("ovra7server", "Ovra7Server"); "ovra7server" when the path cannot be had.
std::string ProgramName();

// The usage printed by --help (on standard output) and after a bad option (on standard error).
// The man page ovra7server(1) lists the same options; a test compares the two.
std::string UsageText();

// "<name> <version>\n", the version being the one the About box shows.
std::string VersionText();

}  // namespace app
