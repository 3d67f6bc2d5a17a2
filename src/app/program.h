// The program's command line and run, shared by the Windows and the Linux entry points.
// Portable: the entry points only turn their arguments into UTF-8 and call Ovra7ServerMain.
#pragma once

#include <string>
#include <vector>

namespace app {

// args excludes the program name. Recognised:
//   (nothing)                  the native window (headless where the build has none)
//   --headless                 the same window logic without a display
//   --control start|stop|mode N|status
//                              sends the command to the running instance, prints its result on
//                              standard output; exit 0, or 2 when no instance runs, 1 for bad use
//   --control upgrade          (Linux) the instance flashes a reader waiting in DFU mode from the
//                              package cache; prints the flashing dialog's last status line; exit
//                              0 when it ended with "升级完成…", 1 otherwise, 2 no instance
//   --help                     the usage on standard output, exit 0
//   --version                  name and version on standard output, exit 0
// Any other argument prints the usage on standard error and exits 2.
// Returns the process exit code.
int Ovra7ServerMain(const std::vector<std::string>& args);

}  // namespace app
