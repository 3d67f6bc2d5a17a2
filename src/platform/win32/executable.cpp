// Win32 facts about the running program: module path and the version resource.
#include "platform/executable.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/win32/utf.h"

namespace platform {

std::string ExecutablePath() {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return Narrow(std::wstring(buffer, n));
}

std::string ProductVersionText() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return std::string();
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return std::string();
  struct Translation {
    WORD language, codePage;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation))
    return std::string();
  wchar_t query[64];
  swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translations[0].language,
           translations[0].codePage);
  wchar_t* version = nullptr;
  if (!VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&version), &length) ||
      length == 0)
    return std::string();
  return Narrow(std::wstring(version, wcsnlen(version, length)));
}

}  // namespace platform
