// Windows entry point of Ovra7Server.exe (GUI subsystem): turns the wide command line into
// UTF-8 arguments for the portable program, and gives the command line a console to print on.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/win32/utf.h"

namespace {

// A GUI program has no console of its own; it prints into the one it was started from.
void AttachParentConsole() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  FILE* ignored = nullptr;
  freopen_s(&ignored, "CONOUT$", "w", stdout);
  freopen_s(&ignored, "CONOUT$", "w", stderr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; ++i) args.push_back(platform::Narrow(argv[i]));
  if (argv) LocalFree(argv);
  // --control, --help and --version print; a plain start has nothing to say.
  if (!args.empty()) AttachParentConsole();
  return app::Ovra7ServerMain(args);
}
