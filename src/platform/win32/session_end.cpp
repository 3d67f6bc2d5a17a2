// Win32 session-end block: the reason on every top-level window of the calling thread
// (ShutdownBlockReasonCreate; the windows answer WM_QUERYENDSESSION themselves) and the system
// kept from sleeping (SetThreadExecutionState). Only Windows code belongs here.
#include "platform/session_end.h"

#include <windows.h>

#include <vector>

#include "platform/win32/utf.h"

namespace platform {
namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

class WindowsBlock : public SessionEndBlock {
 public:
  explicit WindowsBlock(std::vector<HWND> windows) : windows_(std::move(windows)) {}
  ~WindowsBlock() override {
    for (HWND hwnd : windows_)
      if (IsWindow(hwnd)) ShutdownBlockReasonDestroy(hwnd);
    SetThreadExecutionState(ES_CONTINUOUS);
  }

 private:
  std::vector<HWND> windows_;
};

}  // namespace

std::unique_ptr<SessionEndBlock> BlockSessionEnd(const std::string& reason) {
  std::vector<HWND> all, blocked;
  EnumThreadWindows(GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&all));
  const std::wstring text = Widen(reason);
  for (HWND hwnd : all)
    if (ShutdownBlockReasonCreate(hwnd, text.c_str())) blocked.push_back(hwnd);
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  return std::make_unique<WindowsBlock>(std::move(blocked));
}

}  // namespace platform
