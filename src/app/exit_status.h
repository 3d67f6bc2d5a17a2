// The exit status of every program of the product: ovra7server (Ovra7Server.exe), ovra7ctl.exe,
// reader-sim and dfu-tool; scripts and monitoring tools tell the outcomes apart by it alone.
// --help and the man page print the same words. Portable.
#pragma once

namespace app {

constexpr int kExitDone = 0;        // the program or the command did what was asked
constexpr int kExitFailed = 1;      // the command failed (and said why on standard error)
constexpr int kExitUsage = 2;       // the command line was wrong; the usage went to stderr
constexpr int kExitNoInstance = 3;  // --control: no instance of the program runs

// The line every program's --help ends with; the control programs add ", 3 no running
// instance".
constexpr char kExitStatusHelp[] = "Exit status: 0 done, 1 the command failed, 2 usage error";

}  // namespace app
