// The Win32 dialog window: built from the in-memory template, its dialog procedure routing
// messages to the Dialog's handlers, and the item operations. Only Windows code belongs here.
#include "platform/win32/utf.h"
#include "ui/win32/win32_internal.h"

namespace ui::win32 {

namespace {

// The device interface class of serial ports (GUID_DEVINTERFACE_COMPORT).
const GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

std::string WindowText(HWND hwnd) {
  if (!hwnd) return std::string();
  int n = GetWindowTextLengthW(hwnd);
  if (n <= 0) return std::string();
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  int got = GetWindowTextW(hwnd, w.data(), n + 1);
  w.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return platform::Narrow(w);
}

// The dialog procedure's answer for a message whose result the caller reads.
INT_PTR Answer(HWND hwnd, LRESULT result) {
  SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace

Win32DialogPeer::~Win32DialogPeer() { Destroy(); }

HWND Win32DialogPeer::Item(int id) const {
  HWND hwnd = hwnd_.load();
  if (!hwnd || id == kStaticId) return nullptr;
  return GetDlgItem(hwnd, id);
}

bool Win32DialogPeer::Create(bool modal) {
  if (hwnd_.load()) return false;
  modal_ = modal;
  ended_ = false;
  result_ = 0;
  destroying_ = false;
  std::vector<WORD> tmpl = BuildDialogTemplate(dialog_.dialog_template(), modal);
  // WM_INITDIALOG inside this call stores the window and runs OnInitDialog.
  HWND hwnd = CreateDialogIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), nullptr,
      &Win32DialogPeer::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!hwnd) {
    hwnd_ = nullptr;
    return false;
  }
  return true;
}

int Win32DialogPeer::RunModal() {
  HWND hwnd = hwnd_.load();
  if (!hwnd) return -1;
  // As with a modal dialog's owner, the program's other windows take no input meanwhile.
  std::vector<HWND> disabled = backend_.DisableOtherDialogs(hwnd);
  ::ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  while (!ended_ && hwnd_.load()) {
    int quit_code = 0;
    if (!backend_.PumpOne(true, &quit_code)) {
      // The program is quitting: the run ends as if closed.
      if (!ended_) result_ = kIdCancel;
      break;
    }
  }
  // Re-enabled before the modal window goes, so the activation moves to one of them.
  for (HWND other : disabled) {
    if (IsWindow(other)) EnableWindow(other, TRUE);
  }
  if (HWND h = hwnd_.load()) ::ShowWindow(h, SW_HIDE);
  return result_;
}

void Win32DialogPeer::EndModal(int result) {
  if (!modal_ || ended_) return;
  ended_ = true;
  result_ = result;
  // Wake the modal loop if it is waiting for a message.
  if (HWND hwnd = hwnd_.load()) PostMessageW(hwnd, WM_NULL, 0, 0);
}

void Win32DialogPeer::Destroy() {
  HWND hwnd = hwnd_.load();
  if (!hwnd || destroying_) return;
  destroying_ = true;
  dialog_.DeliverDestroy();
  if (port_notify_) {
    UnregisterDeviceNotification(port_notify_);
    port_notify_ = nullptr;
  }
  backend_.RemoveDialog(hwnd);
  hwnd_ = nullptr;
  ::DestroyWindow(hwnd);
  if (big_icon_) DestroyIcon(big_icon_);
  if (small_icon_) DestroyIcon(small_icon_);
  big_icon_ = small_icon_ = nullptr;
  destroying_ = false;
}

INT_PTR CALLBACK Win32DialogPeer::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto* peer = reinterpret_cast<Win32DialogPeer*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    peer->hwnd_ = hwnd;
    peer->backend_.AddDialog(hwnd);
    peer->dialog_.DeliverInitDialog();
    return TRUE;
  }
  auto* peer = reinterpret_cast<Win32DialogPeer*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!peer || peer->hwnd_.load() != hwnd) return FALSE;
  return peer->Handle(msg, wp, lp);
}

INT_PTR Win32DialogPeer::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  HWND hwnd = hwnd_.load();
  switch (msg) {
    case WM_COMMAND:
      // Clicks of buttons and menu items (notification 0); edit and combo notifications are not
      // commands of the window.
      if (HIWORD(wp) == BN_CLICKED) dialog_.DeliverCommand(LOWORD(wp));
      return TRUE;
    case WM_CLOSE:
      dialog_.DeliverCommand(kIdCancel);
      return TRUE;
    case WM_TIMER:
      if (wp == kTrayRetryTimer) {
        backend_.TrayRetry(hwnd);
      } else {
        dialog_.DeliverTimer(static_cast<int>(wp));
      }
      return TRUE;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (hdr && hdr->code == UDN_DELTAPOS) {
        auto* ud = reinterpret_cast<NMUPDOWN*>(lp);
        return Answer(hwnd, dialog_.DeliverUpDownStep(static_cast<int>(hdr->idFrom), ud->iDelta));
      }
      return FALSE;
    }
    case WM_DEVICECHANGE:
      dialog_.DeliverDeviceChange(static_cast<int>(wp));
      return Answer(hwnd, TRUE);
    case WM_POWERBROADCAST:
      return Answer(hwnd, dialog_.DeliverPowerBroadcast(static_cast<int>(wp)));
    case WM_QUERYENDSESSION:
      // Every top-level window is asked; one FALSE holds the session's end (Windows then shows
      // the reason given with ShutdownBlockReasonCreate).
      return Answer(hwnd, dialog_.DeliverQueryEndSession() ? TRUE : FALSE);
    case WM_ENDSESSION:
      if (wp) dialog_.DeliverEndSession();
      return Answer(hwnd, 0);
    case WM_LBUTTONDBLCLK:
      dialog_.DeliverLeftDoubleClick(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return FALSE;
    case kMsgPostedDevice:
      dialog_.DeliverDeviceChange(static_cast<int>(wp));
      return TRUE;
    case kMsgPostedPower:
      dialog_.DeliverPowerBroadcast(static_cast<int>(wp));
      return TRUE;
    case WM_DESTROY:
      // Destroyed from outside (not through Destroy): let the window know all the same.
      if (!destroying_) {
        destroying_ = true;
        dialog_.DeliverDestroy();
        backend_.RemoveDialog(hwnd);
        hwnd_ = nullptr;
        destroying_ = false;
      }
      return TRUE;
    default:
      break;
  }
  if (msg == static_cast<UINT>(kTrayCallbackMessage)) {
    dialog_.DeliverTrayNotify(static_cast<int>(wp), static_cast<int>(LOWORD(lp)));
    return TRUE;
  }
  if (msg == backend_.taskbar_created()) {
    backend_.TaskbarCreated(hwnd);
    return FALSE;
  }
  // The program's private messages; DM_GETDEFID, DM_SETDEFID and DM_REPOSITION (WM_USER to
  // WM_USER + 2) belong to the dialog manager.
  if (msg >= WM_USER + 3 && msg < WM_APP) {
    return Answer(hwnd, dialog_.DeliverAppMessage(static_cast<int>(msg), static_cast<intptr_t>(wp),
                                                  static_cast<intptr_t>(lp)));
  }
  return FALSE;
}

bool Win32DialogPeer::SetItemText(int id, const std::string& utf8) {
  HWND item = Item(id);
  return item && SetWindowTextW(item, platform::Widen(utf8).c_str());
}

bool Win32DialogPeer::GetItemText(int id, std::string* utf8) const {
  HWND item = Item(id);
  if (!item) return false;
  *utf8 = WindowText(item);
  return true;
}

bool Win32DialogPeer::EnableItem(int id, bool enable) {
  HWND item = Item(id);
  if (!item) return false;
  EnableWindow(item, enable ? TRUE : FALSE);
  return true;
}

bool Win32DialogPeer::IsItemEnabled(int id) const {
  HWND item = Item(id);
  return item && IsWindowEnabled(item);
}

bool Win32DialogPeer::ShowItem(int id, bool show) {
  HWND item = Item(id);
  if (!item) return false;
  ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
  return true;
}

bool Win32DialogPeer::CheckItem(int id, bool checked) {
  HWND item = Item(id);
  if (!item) return false;
  SendMessageW(item, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  return true;
}

bool Win32DialogPeer::IsItemChecked(int id) const {
  HWND item = Item(id);
  return item && SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Win32DialogPeer::SetFocusItem(int id) {
  HWND item = Item(id);
  if (!item) return false;
  // The dialog manager's own way, so that the default button follows the focus.
  SendMessageW(hwnd_.load(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
  if (GetWindowLongW(item, GWL_STYLE) & ES_NUMBER) SendMessageW(item, EM_SETSEL, 0, -1);
  return true;
}

int Win32DialogPeer::GetFocusItem() const {
  HWND hwnd = hwnd_.load();
  HWND focus = GetFocus();
  // The edit field inside a combo box has the focus for it: climb to our direct child.
  while (focus && GetParent(focus) != hwnd) focus = GetParent(focus);
  return focus ? GetDlgCtrlID(focus) : 0;
}

bool Win32DialogPeer::ComboResetContent(int id) {
  HWND item = Item(id);
  if (!item) return false;
  SendMessageW(item, CB_RESETCONTENT, 0, 0);
  return true;
}

int Win32DialogPeer::ComboAddString(int id, const std::string& utf8) {
  HWND item = Item(id);
  if (!item) return -1;
  std::wstring w = platform::Widen(utf8);
  LRESULT r = SendMessageW(item, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
  return r < 0 ? -1 : static_cast<int>(r);
}

int Win32DialogPeer::ComboGetCount(int id) const {
  HWND item = Item(id);
  if (!item) return 0;
  LRESULT r = SendMessageW(item, CB_GETCOUNT, 0, 0);
  return r < 0 ? 0 : static_cast<int>(r);
}

bool Win32DialogPeer::ComboGetString(int id, int index, std::string* utf8) const {
  HWND item = Item(id);
  if (!item) return false;
  LRESULT len = SendMessageW(item, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (len < 0) return false;
  std::wstring w(static_cast<size_t>(len) + 1, L'\0');
  LRESULT got = SendMessageW(item, CB_GETLBTEXT, static_cast<WPARAM>(index),
                             reinterpret_cast<LPARAM>(w.data()));
  if (got < 0) return false;
  w.resize(static_cast<size_t>(got));
  *utf8 = platform::Narrow(w);
  return true;
}

bool Win32DialogPeer::ComboSetCurSel(int id, int index) {
  HWND item = Item(id);
  if (!item) return false;
  LRESULT r = SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // Clearing the selection (-1) answers CB_ERR by design.
  return index == -1 || r != CB_ERR;
}

int Win32DialogPeer::ComboGetCurSel(int id) const {
  HWND item = Item(id);
  if (!item) return -1;
  LRESULT r = SendMessageW(item, CB_GETCURSEL, 0, 0);
  return r < 0 ? -1 : static_cast<int>(r);
}

bool Win32DialogPeer::SetUpDownBuddy(int updown_id, int buddy_id) {
  HWND updown = Item(updown_id);
  HWND buddy = Item(buddy_id);
  if (!updown || !buddy) return false;
  SendMessageW(updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
  return true;
}

int Win32DialogPeer::GetUpDownBuddy(int updown_id) const {
  HWND updown = Item(updown_id);
  if (!updown) return 0;
  HWND buddy = reinterpret_cast<HWND>(SendMessageW(updown, UDM_GETBUDDY, 0, 0));
  return buddy ? GetDlgCtrlID(buddy) : 0;
}

// Progress messages sent to another control would mean something else there (they are WM_USER
// codes): only a progress bar takes them.
bool Win32DialogPeer::SetProgressRange(int id, int low, int high) {
  HWND item = ProgressItem(id);
  if (!item) return false;
  SendMessageW(item, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  return true;
}

bool Win32DialogPeer::SetProgressPos(int id, int pos) {
  HWND item = ProgressItem(id);
  if (!item) return false;
  SendMessageW(item, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
  return true;
}

int Win32DialogPeer::GetProgressPos(int id) const {
  HWND item = ProgressItem(id);
  return item ? static_cast<int>(SendMessageW(item, PBM_GETPOS, 0, 0)) : 0;
}

HWND Win32DialogPeer::ProgressItem(int id) const {
  HWND item = Item(id);
  wchar_t name[32] = {};
  if (!item || !GetClassNameW(item, name, 32)) return nullptr;
  return lstrcmpiW(name, PROGRESS_CLASSW) == 0 ? item : nullptr;
}

// The progress class leaves WM_SETTEXT to the default window procedure, which keeps the text as
// the window's own: it is not drawn, but stays readable (GetWindowText, accessibility tools).
bool Win32DialogPeer::SetProgressText(int id, const std::string& utf8) {
  HWND item = ProgressItem(id);
  return item && SetWindowTextW(item, platform::Widen(utf8).c_str());
}

bool Win32DialogPeer::GetProgressText(int id, std::string* utf8) const {
  HWND item = ProgressItem(id);
  if (!item) return false;
  *utf8 = WindowText(item);
  return true;
}

bool Win32DialogPeer::SetTimer(int id, int period_ms) {
  HWND hwnd = hwnd_.load();
  return hwnd &&
         ::SetTimer(hwnd, static_cast<UINT_PTR>(id), static_cast<UINT>(period_ms), nullptr) != 0;
}

bool Win32DialogPeer::KillTimer(int id) {
  HWND hwnd = hwnd_.load();
  return hwnd && ::KillTimer(hwnd, static_cast<UINT_PTR>(id));
}

bool Win32DialogPeer::ShowWindow(bool show) {
  HWND hwnd = hwnd_.load();
  if (!hwnd) return false;
  ::ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
  return true;
}

bool Win32DialogPeer::IsVisible() const {
  HWND hwnd = hwnd_.load();
  return hwnd && IsWindowVisible(hwnd);
}

bool Win32DialogPeer::SetForeground() {
  HWND hwnd = hwnd_.load();
  return hwnd && SetForegroundWindow(hwnd);
}

bool Win32DialogPeer::SetCaption(const std::string& utf8) {
  HWND hwnd = hwnd_.load();
  return hwnd && SetWindowTextW(hwnd, platform::Widen(utf8).c_str());
}

Rect Win32DialogPeer::GetWindowRect() const {
  RECT r{};
  HWND hwnd = hwnd_.load();
  if (!hwnd || !::GetWindowRect(hwnd, &r)) return Rect();
  return Rect{r.left, r.top, r.right, r.bottom};
}

bool Win32DialogPeer::MoveWindow(const Rect& rect) {
  HWND hwnd = hwnd_.load();
  return hwnd && ::MoveWindow(hwnd, rect.left, rect.top, rect.Width(), rect.Height(), TRUE);
}

Rect Win32DialogPeer::GetClientRect() const {
  RECT r{};
  HWND hwnd = hwnd_.load();
  if (!hwnd || !::GetClientRect(hwnd, &r)) return Rect();
  return Rect{r.left, r.top, r.right, r.bottom};
}

bool Win32DialogPeer::SetIcon(int icon_id) {
  HWND hwnd = hwnd_.load();
  if (!hwnd) return false;
  HICON big = backend_.LoadIconById(icon_id, GetSystemMetrics(SM_CXICON));
  HICON small = backend_.LoadIconById(icon_id, GetSystemMetrics(SM_CXSMICON));
  if (!big || !small) {
    if (big) DestroyIcon(big);
    if (small) DestroyIcon(small);
    return false;
  }
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  if (big_icon_) DestroyIcon(big_icon_);
  if (small_icon_) DestroyIcon(small_icon_);
  big_icon_ = big;
  small_icon_ = small;
  return true;
}

bool Win32DialogPeer::RegisterPortNotifications() {
  HWND hwnd = hwnd_.load();
  if (!hwnd) return false;
  if (port_notify_) return true;
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kComPortInterface;
  port_notify_ = RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  return port_notify_ != nullptr;
}

bool Win32DialogPeer::PostPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) {
  HWND hwnd = hwnd_.load();
  return hwnd && PostMessageW(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wparam),
                              static_cast<LPARAM>(lparam));
}

intptr_t Win32DialogPeer::SendPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) {
  HWND hwnd = hwnd_.load();
  if (!hwnd) return -1;
  // From another thread the call waits until the window's thread has handled it.
  return static_cast<intptr_t>(SendMessageW(
      hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam)));
}

bool Win32DialogPeer::PostDeviceChange(int event) {
  HWND hwnd = hwnd_.load();
  return hwnd && PostMessageW(hwnd, kMsgPostedDevice, static_cast<WPARAM>(event), 0);
}

bool Win32DialogPeer::PostPowerBroadcast(int event) {
  HWND hwnd = hwnd_.load();
  return hwnd && PostMessageW(hwnd, kMsgPostedPower, static_cast<WPARAM>(event), 0);
}

}  // namespace ui::win32
