// The Win32 backend: common controls and DPI at start, the message loop, message boxes, icons.
// Only Windows code belongs here.
#include "ui/win32/win32_backend.h"

#include <algorithm>

#include "platform/win32/utf.h"
#include "ui/win32/win32_internal.h"

namespace ui::win32 {

namespace {

// Per-monitor awareness where the system has it (Windows 10 1703 and later), else the older
// system-wide awareness; dialogs then scale with their font instead of being stretched.
void BecomeDpiAware() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32) {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    auto set_context = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (set_context && set_context(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4)))) return;
  }
  SetProcessDPIAware();
}

LRESULT CALLBACK QuitWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMsgQuit) {
    PostQuitMessage(static_cast<int>(wp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// A message-only window receives the quit request: unlike a thread message it is not lost
// while a message box or a menu runs its own loop.
HWND CreateQuitWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &QuitWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"Ovra7UiQuit";
  RegisterClassW(&wc);  // fails harmlessly when a second backend registers it again
  return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         wc.hInstance, nullptr);
}

}  // namespace

Win32Backend::Win32Backend()
    : loop_thread_(GetCurrentThreadId()),
      taskbar_created_(RegisterWindowMessageW(L"TaskbarCreated")) {
  BecomeDpiAware();
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS |
                                            ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  quit_window_ = CreateQuitWindow();
}

Win32Backend::~Win32Backend() {
  if (quit_window_) DestroyWindow(quit_window_);
}

std::unique_ptr<DialogPeer> Win32Backend::CreateDialogPeer(Dialog& dialog) {
  return std::make_unique<Win32DialogPeer>(*this, dialog);
}

std::unique_ptr<TrayIconPeer> Win32Backend::CreateTrayIconPeer() {
  return std::make_unique<Win32TrayPeer>(*this);
}

MessageBoxResult Win32Backend::ShowMessageBox(Dialog* owner, const std::string& text,
                                              const std::string& caption,
                                              MessageBoxButtons buttons) {
  HWND hwnd = nullptr;
  if (owner && owner->peer() && owner->IsCreated()) {
    hwnd = static_cast<Win32DialogPeer*>(owner->peer())->hwnd();
  }
  UINT type = buttons == MessageBoxButtons::kYesNo ? (MB_YESNO | MB_ICONQUESTION)
                                                   : (MB_OK | MB_ICONINFORMATION);
  // A tray program's box must come to the front even when its owner is hidden.
  type |= MB_SETFOREGROUND;
  int r = MessageBoxW(hwnd, platform::Widen(text).c_str(), platform::Widen(caption).c_str(), type);
  // Anything but a Yes (a box that could not be shown, or one ended by the program quitting)
  // counts as No for a question; an OK box has only the one answer.
  if (buttons == MessageBoxButtons::kYesNo) {
    return r == IDYES ? MessageBoxResult::kYes : MessageBoxResult::kNo;
  }
  return MessageBoxResult::kOk;
}

bool Win32Backend::PumpOne(bool nested, int* quit_code) {
  MSG msg;
  BOOL got = GetMessageW(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    *quit_code = got == 0 ? static_cast<int>(msg.wParam) : -1;
    if (nested) PostQuitMessage(*quit_code);  // the outer loop ends too
    return false;
  }
  if (msg.hwnd == nullptr && msg.message == kMsgQuit) {  // the fallback thread message
    PostQuitMessage(static_cast<int>(msg.wParam));
    return true;
  }
  // Tab, Enter and Escape of our dialogs go to the dialog manager.
  if (msg.hwnd) {
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (root && std::find(dialogs_.begin(), dialogs_.end(), root) != dialogs_.end() &&
        IsDialogMessageW(root, &msg)) {
      return true;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

int Win32Backend::RunMessageLoop() {
  int code = 0;
  while (PumpOne(false, &code)) {
  }
  return code;
}

void Win32Backend::Quit(int code) {
  // The loop thread turns the request into WM_QUIT, which also ends a message box's or a
  // menu's loop on the way out.
  if (quit_window_ && PostMessageW(quit_window_, kMsgQuit, static_cast<WPARAM>(code), 0)) return;
  PostThreadMessageW(loop_thread_, kMsgQuit, static_cast<WPARAM>(code), 0);
}

void Win32Backend::RemoveDialog(HWND hwnd) {
  dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), hwnd), dialogs_.end());
}

std::vector<HWND> Win32Backend::DisableOtherDialogs(HWND keep) {
  std::vector<HWND> disabled;
  for (HWND hwnd : dialogs_) {
    if (hwnd != keep && IsWindowEnabled(hwnd)) {
      EnableWindow(hwnd, FALSE);
      disabled.push_back(hwnd);
    }
  }
  return disabled;
}

void Win32Backend::RemoveTray(Win32TrayPeer* peer) {
  trays_.erase(std::remove(trays_.begin(), trays_.end(), peer), trays_.end());
}

void Win32Backend::TaskbarCreated(HWND owner) {
  for (Win32TrayPeer* t : trays_) {
    if (t->owner() == owner) t->OnTaskbarCreated();
  }
}

void Win32Backend::TrayRetry(HWND owner) {
  for (Win32TrayPeer* t : trays_) {
    if (t->owner() == owner) t->OnRetryTimer();
  }
}

HICON Win32Backend::LoadIconById(int icon_id, int size) const {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                       MAKEINTRESOURCEW(static_cast<WORD>(icon_id)), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

std::unique_ptr<Backend> CreateWin32Backend() { return std::make_unique<Win32Backend>(); }

}  // namespace ui::win32
