// A stand-in for Windows' pnputil.exe, which wine does not have: the installer test puts it in
// the prefix's System32. It appends its command line to pnputil-calls.txt beside itself and
// exits with the number in pnputil-exit.txt beside itself (decimal or 0x-hexadecimal; 0 when
// there is none), so that the test chooses pnputil's answer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  char module[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, module, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  std::string folder(module, n);
  folder.resize(folder.find_last_of('\\') + 1);
  if (FILE* calls = std::fopen((folder + "pnputil-calls.txt").c_str(), "ab")) {
    std::fprintf(calls, "%s\n", GetCommandLineA());
    std::fclose(calls);
  }
  char text[32] = {0};
  if (FILE* wanted = std::fopen((folder + "pnputil-exit.txt").c_str(), "rb")) {
    text[std::fread(text, 1, sizeof text - 1, wanted)] = '\0';
    std::fclose(wanted);
  }
  std::printf("Microsoft PnP Utility (test stand-in): exit code %s\n", text);
  return static_cast<int>(std::strtoul(text, nullptr, 0));
}
