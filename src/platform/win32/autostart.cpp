// Win32 start with the session: a REG_SZ value under the user's Run key.
#include "platform/autostart.h"

#include <windows.h>

#include "platform/win32/utf.h"

namespace platform {
namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr REGSAM kFullAccess = 0xF003F;  // KEY_ALL_ACCESS, for reading and changing alike
// 260 characters with the terminating zero, as the 8-bit buffer always held: counted in
// characters, not bytes, or a quoted path above about 127 characters would read as absent.
constexpr DWORD kValueBufferChars = 260;

HKEY OpenRunKey() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, kFullAccess, &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

// A value whose data does not fit the buffer reads as absent: it is then overwritten.
bool ValuePresent(HKEY key, const std::wstring& name) {
  wchar_t buffer[kValueBufferChars];
  DWORD size = sizeof buffer;
  DWORD type = REG_SZ;
  return RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                          &size) == ERROR_SUCCESS;
}

}  // namespace

AutostartState QueryAutostart(const std::string& name) {
  HKEY key = OpenRunKey();
  if (!key) return AutostartState::kUnavailable;
  bool present = ValuePresent(key, Widen(name));
  RegCloseKey(key);
  return present ? AutostartState::kPresent : AutostartState::kAbsent;
}

bool AddAutostart(const std::string& name, const std::string& command, const std::string&) {
  HKEY key = OpenRunKey();
  if (!key) return false;
  std::wstring data = Widen(command);
  // The stored length counts the terminating zero.
  DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  bool ok = RegSetValueExW(key, Widen(name).c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data.c_str()), bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool RemoveAutostart(const std::string& name) {
  HKEY key = OpenRunKey();
  if (!key) return false;
  bool ok = RegDeleteValueW(key, Widen(name).c_str()) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

}  // namespace platform
