// The Win32 backend's internal classes: the dialog peer, the tray peer and the backend itself.
// Only Windows code belongs here.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog_peer.h"
#include "ui/win32/win32_include.h"

namespace ui::win32 {

// Messages the backend posts to itself (WM_APP range: never used by the program's windows).
constexpr UINT kMsgPostedDevice = WM_APP + 0x101;
constexpr UINT kMsgPostedPower = WM_APP + 0x102;
constexpr UINT kMsgQuit = WM_APP + 0x103;  // thread message: end the loop with wParam
// Timer id of the tray icon's add retries; far above the program's own timer ids.
constexpr UINT_PTR kTrayRetryTimer = 0x7FFF0001;

// Builds a DLGTEMPLATEEX (with its items) for the template, in WORDs so it is suitably aligned.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t, bool modal);

class Win32Backend;

class Win32DialogPeer : public DialogPeer {
 public:
  Win32DialogPeer(Win32Backend& backend, Dialog& dialog) : backend_(backend), dialog_(dialog) {}
  ~Win32DialogPeer() override;

  Dialog& dialog() const { return dialog_; }
  HWND hwnd() const { return hwnd_.load(); }
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  bool Create(bool modal) override;
  int RunModal() override;
  void EndModal(int result) override;
  void Destroy() override;
  bool IsCreated() const override { return hwnd_.load() != nullptr; }

  bool SetItemText(int id, const std::string& utf8) override;
  bool GetItemText(int id, std::string* utf8) const override;
  bool EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) const override;
  bool ShowItem(int id, bool show) override;
  bool CheckItem(int id, bool checked) override;
  bool IsItemChecked(int id) const override;
  bool SetFocusItem(int id) override;
  int GetFocusItem() const override;

  bool ComboResetContent(int id) override;
  int ComboAddString(int id, const std::string& utf8) override;
  int ComboGetCount(int id) const override;
  bool ComboGetString(int id, int index, std::string* utf8) const override;
  bool ComboSetCurSel(int id, int index) override;
  int ComboGetCurSel(int id) const override;

  bool SetUpDownBuddy(int updown_id, int buddy_id) override;
  int GetUpDownBuddy(int updown_id) const override;

  bool SetProgressRange(int id, int low, int high) override;
  bool SetProgressPos(int id, int pos) override;
  int GetProgressPos(int id) const override;
  bool SetProgressText(int id, const std::string& utf8) override;
  bool GetProgressText(int id, std::string* utf8) const override;

  bool SetTimer(int id, int period_ms) override;
  bool KillTimer(int id) override;

  bool ShowWindow(bool show) override;
  bool IsVisible() const override;
  bool SetForeground() override;
  bool SetCaption(const std::string& utf8) override;
  Rect GetWindowRect() const override;
  bool MoveWindow(const Rect& screen_rect) override;
  Rect GetClientRect() const override;
  bool SetIcon(int icon_id) override;
  bool RegisterPortNotifications() override;

  bool PostPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) override;
  intptr_t SendPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) override;
  bool PostDeviceChange(int event) override;
  bool PostPowerBroadcast(int event) override;

 private:
  HWND Item(int id) const;
  HWND ProgressItem(int id) const;  // the control when it is a progress bar, else null
  INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp);

  Win32Backend& backend_;
  Dialog& dialog_;
  std::atomic<HWND> hwnd_{nullptr};
  bool modal_ = false;
  bool ended_ = false;
  int result_ = 0;
  bool destroying_ = false;
  HDEVNOTIFY port_notify_ = nullptr;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
};

class Win32TrayPeer : public TrayIconPeer {
 public:
  explicit Win32TrayPeer(Win32Backend& backend) : backend_(backend) {}
  ~Win32TrayPeer() override;

  bool Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) override;
  bool Modify(int icon_id, const std::string& tip) override;
  bool Remove() override;
  bool IsAdded() const override { return wanted_; }
  int TrackPopupMenu(const std::vector<MenuItem>& items) override;

  HWND owner() const { return owner_; }
  bool shown() const { return shown_; }
  // The taskbar came back (Explorer restarted): add the icon again.
  void OnTaskbarCreated();
  // The retry timer fired: try the add once more.
  void OnRetryTimer();

 private:
  bool TryAdd();
  void FillData(NOTIFYICONDATAW* nid) const;

  Win32Backend& backend_;
  HWND owner_ = nullptr;
  int identity_ = 0;
  int icon_id_ = 0;
  std::wstring tip_;
  HICON icon_ = nullptr;
  bool wanted_ = false;  // Add called and not removed
  bool shown_ = false;   // the shell holds the icon
  int retries_left_ = 0;
};

class Win32Backend : public Backend {
 public:
  Win32Backend();
  ~Win32Backend() override;

  std::unique_ptr<DialogPeer> CreateDialogPeer(Dialog& dialog) override;
  std::unique_ptr<TrayIconPeer> CreateTrayIconPeer() override;
  MessageBoxResult ShowMessageBox(Dialog* owner, const std::string& text,
                                  const std::string& caption, MessageBoxButtons buttons) override;
  int RunMessageLoop() override;
  void Quit(int code) override;

  // One message: false when WM_QUIT arrived (its code in *quit_code, and it is re-posted for any
  // outer loop when nested is true).
  bool PumpOne(bool nested, int* quit_code);
  UINT taskbar_created() const { return taskbar_created_; }
  void AddDialog(HWND hwnd) { dialogs_.push_back(hwnd); }
  void RemoveDialog(HWND hwnd);
  // Disables every enabled dialog of ours but this one; returns those it disabled.
  std::vector<HWND> DisableOtherDialogs(HWND keep);
  void AddTray(Win32TrayPeer* peer) { trays_.push_back(peer); }
  void RemoveTray(Win32TrayPeer* peer);
  void TaskbarCreated(HWND owner);
  void TrayRetry(HWND owner);
  HICON LoadIconById(int icon_id, int size) const;

 private:
  DWORD loop_thread_;
  UINT taskbar_created_;
  HWND quit_window_ = nullptr;
  std::vector<HWND> dialogs_;
  std::vector<Win32TrayPeer*> trays_;
};

}  // namespace ui::win32
