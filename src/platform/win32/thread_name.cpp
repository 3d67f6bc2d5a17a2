// SetThreadDescription came with Windows 10 1607: looked up, not linked, so that the program
// still starts on the Windows 7 it supports.
#include "platform/thread_name.h"

#include <windows.h>

#include <string>

namespace platform {

void NameThisThread(const char* name) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  auto set = reinterpret_cast<SetDescription>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetThreadDescription")));
  if (!set) return;
  std::wstring wide(name, name + std::char_traits<char>::length(name));  // ASCII
  set(GetCurrentThread(), wide.c_str());
}

}  // namespace platform
