// The Win32 tray icon: Shell_NotifyIconW with retries at logon and re-adding after Explorer
// restarts, and the popup menu. Only Windows code belongs here.
#include "platform/win32/utf.h"
#include "ui/win32/win32_internal.h"

namespace ui::win32 {

namespace {

// At logon the taskbar may not be ready: retry every 2 s for up to a minute.
constexpr UINT kRetryPeriodMs = 2000;
constexpr int kRetries = 30;

}  // namespace

Win32TrayPeer::~Win32TrayPeer() {
  Remove();
  if (icon_) DestroyIcon(icon_);
}

void Win32TrayPeer::FillData(NOTIFYICONDATAW* nid) const {
  *nid = NOTIFYICONDATAW{};
  nid->cbSize = sizeof(*nid);
  nid->hWnd = owner_;
  nid->uID = static_cast<UINT>(identity_);
  nid->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid->uCallbackMessage = static_cast<UINT>(kTrayCallbackMessage);
  nid->hIcon = icon_ ? icon_ : LoadIconW(nullptr, IDI_APPLICATION);
  size_t n = tip_.size() < 127 ? tip_.size() : 127;
  tip_.copy(nid->szTip, n);
  nid->szTip[n] = L'\0';
}

bool Win32TrayPeer::TryAdd() {
  NOTIFYICONDATAW nid;
  FillData(&nid);
  shown_ = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
  return shown_;
}

bool Win32TrayPeer::Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) {
  auto* peer = static_cast<Win32DialogPeer*>(owner.peer());
  HWND hwnd = peer ? peer->hwnd() : nullptr;
  if (!hwnd) return false;
  if (wanted_) Remove();
  owner_ = hwnd;
  identity_ = identity_id;
  icon_id_ = icon_id;
  tip_ = platform::Widen(tip);
  if (icon_) DestroyIcon(icon_);
  icon_ = backend_.LoadIconById(icon_id, GetSystemMetrics(SM_CXSMICON));
  wanted_ = true;
  backend_.AddTray(this);
  if (TryAdd()) return true;
  retries_left_ = kRetries;
  ::SetTimer(owner_, kTrayRetryTimer, kRetryPeriodMs, nullptr);
  return true;
}

void Win32TrayPeer::OnRetryTimer() {
  if (!wanted_ || shown_ || retries_left_ <= 0 || TryAdd() || --retries_left_ <= 0) {
    ::KillTimer(owner_, kTrayRetryTimer);
  }
}

void Win32TrayPeer::OnTaskbarCreated() {
  if (!wanted_) return;
  shown_ = false;
  if (!TryAdd()) {
    retries_left_ = kRetries;
    ::SetTimer(owner_, kTrayRetryTimer, kRetryPeriodMs, nullptr);
  }
}

bool Win32TrayPeer::Modify(int icon_id, const std::string& tip) {
  if (!wanted_) return false;
  tip_ = platform::Widen(tip);
  if (icon_id != icon_id_ || !icon_) {
    HICON icon = backend_.LoadIconById(icon_id, GetSystemMetrics(SM_CXSMICON));
    if (icon_) DestroyIcon(icon_);
    icon_ = icon;
    icon_id_ = icon_id;
  }
  // Not in the shell yet: the pending add carries the new image and tip.
  if (!shown_) return true;
  NOTIFYICONDATAW nid;
  FillData(&nid);
  return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

bool Win32TrayPeer::Remove() {
  if (!wanted_) return false;
  wanted_ = false;
  backend_.RemoveTray(this);
  if (owner_ && IsWindow(owner_)) ::KillTimer(owner_, kTrayRetryTimer);
  bool removed = true;
  if (shown_) {
    NOTIFYICONDATAW nid;
    FillData(&nid);
    removed = Shell_NotifyIconW(NIM_DELETE, &nid) != FALSE;
    shown_ = false;
  }
  return removed;
}

int Win32TrayPeer::TrackPopupMenu(const std::vector<MenuItem>& items) {
  if (!owner_) return 0;
  HMENU menu = CreatePopupMenu();
  if (!menu) return 0;
  for (const MenuItem& item : items) {
    if (item.separator) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      UINT flags = MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED);
      AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.command),
                  platform::Widen(item.text).c_str());
    }
  }
  POINT pt{};
  GetCursorPos(&pt);
  int chosen = static_cast<int>(
      ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pt.x,
                       pt.y, 0, owner_, nullptr));
  // Lets the menu close properly when the user clicks elsewhere (the menu-and-tray rule).
  PostMessageW(owner_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  return chosen;
}

}  // namespace ui::win32
