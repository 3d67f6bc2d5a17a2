// A stand-in for Windows' pnputil.exe, which wine does not have: the installer test puts it in
// the prefix's System32. It appends its command line to pnputil-calls.txt beside itself, prints
// a line as pnputil does, and exits with the number in pnputil-exit.txt beside itself (decimal
// or 0x-hexadecimal; 0 when there is none), so that the test chooses pnputil's answer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain() {
  wchar_t module[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  std::wstring folder(module, n);
  folder.resize(folder.find_last_of(L'\\') + 1);

  FILE* calls = _wfopen((folder + L"pnputil-calls.txt").c_str(), L"ab");
  if (calls) {
    std::fprintf(calls, "%s\n", Utf8(GetCommandLineW()).c_str());
    std::fclose(calls);
  }
  unsigned long code = 0;
  FILE* wanted = _wfopen((folder + L"pnputil-exit.txt").c_str(), L"rb");
  if (wanted) {
    char text[32] = {0};
    size_t got = std::fread(text, 1, sizeof text - 1, wanted);
    text[got] = '\0';
    code = std::strtoul(text, nullptr, 0);
    std::fclose(wanted);
  }
  std::printf("Microsoft PnP Utility (test stand-in): exit code %lu\n", code);
  return static_cast<int>(code);
}
