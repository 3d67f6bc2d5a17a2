// Win32 per-user application-data folder (the roaming CSIDL_APPDATA, current path).
#include "platform/app_data.h"

// shlobj.h needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include "platform/win32/utf.h"

namespace platform {

std::string UserAppDataDir() {
  wchar_t buffer[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return std::string();
  return Narrow(buffer);
}

}  // namespace platform
