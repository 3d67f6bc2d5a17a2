// The program's command line and run, shared by the Windows and the Linux entry points.
// Portable: the entry points only turn their arguments into UTF-8 and call Ovra7ServerMain.
#pragma once

#include <string>
#include <vector>

namespace app {

// args excludes the program name. Recognised:
//   (nothing)                  the native window (headless where the build has none)
//   --headless                 the same window logic without a display
//   --control CMD              sends CMD to the running instance and prints its result (see
//                              control_client.h and the usage text)
//   --help                     the usage on standard output
//   --version                  name and version on standard output
// Any other argument prints the usage on standard error. Returns the process exit status
// (app/exit_status.h).
int Ovra7ServerMain(const std::vector<std::string>& args);

}  // namespace app
