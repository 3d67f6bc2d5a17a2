// Windows entry point of ovra7ctl.exe (console subsystem): turns the wide command line into
// UTF-8 arguments for the portable control client.
#include <windows.h>

#include <string>
#include <vector>

#include "app/control_client.h"
#include "platform/win32/utf.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::Narrow(argv[i]));
  return app::ControlProgramMain(args);
}
