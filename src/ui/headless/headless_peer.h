// The headless window and tray icon: control state in memory. Internal to the headless backend.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ui/dialog_peer.h"
#include "ui/headless/headless_host.h"

namespace ui::headless {

struct ControlState {
  ControlKind kind = ControlKind::kStatic;
  uint32_t style = 0;
  Rect rect;  // client pixels
  std::string text;
  bool enabled = true;
  bool visible = true;
  bool checked = false;
  std::vector<std::string> items;  // combo box entries
  int cur_sel = -1;
  int buddy = 0;  // up-down
  int low = 0;    // progress bar
  int high = 100;
  int pos = 0;
};

class HeadlessDialogPeer : public DialogPeer {
 public:
  HeadlessDialogPeer(HeadlessHost& host, Dialog& dialog) : host_(host), dialog_(dialog) {}
  ~HeadlessDialogPeer() override;

  Dialog& dialog() const { return dialog_; }
  ControlState* Control(int id);
  const ControlState* Control(int id) const;
  bool alive() const { return alive_; }  // read under the host's mutex from other threads
  bool ended() const { return ended_; }
  int icon() const { return icon_; }
  bool registered_for_ports() const { return registered_; }

  bool Create(bool modal) override;
  int RunModal() override;
  void EndModal(int result) override;
  void Destroy() override;
  bool IsCreated() const override { return created_; }

  bool SetItemText(int id, const std::string& utf8) override;
  bool GetItemText(int id, std::string* utf8) const override;
  bool EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) const override;
  bool ShowItem(int id, bool show) override;
  bool CheckItem(int id, bool checked) override;
  bool IsItemChecked(int id) const override;
  bool SetFocusItem(int id) override;
  int GetFocusItem() const override { return focus_; }

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
  bool IsVisible() const override { return visible_; }
  bool SetForeground() override { return created_; }
  bool SetCaption(const std::string& utf8) override;
  Rect GetWindowRect() const override { return window_; }
  bool MoveWindow(const Rect& screen_rect) override;
  Rect GetClientRect() const override;
  bool SetIcon(int icon_id) override;
  bool RegisterPortNotifications() override;

  bool PostPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) override;
  intptr_t SendPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) override;
  bool PostDeviceChange(int event) override;
  bool PostPowerBroadcast(int event) override;

 private:
  friend class HeadlessHost;

  HeadlessHost& host_;
  Dialog& dialog_;
  std::map<int, ControlState> controls_;
  bool created_ = false;
  bool alive_ = false;  // guarded by host_.mutex_: whether posts are accepted
  bool modal_ = false;
  bool ended_ = false;
  int result_ = 0;
  bool visible_ = false;
  int focus_ = 0;
  int icon_ = 0;
  bool registered_ = false;
  std::string caption_;
  Rect window_;
};

class HeadlessTrayPeer : public TrayIconPeer {
 public:
  explicit HeadlessTrayPeer(HeadlessHost& host);
  ~HeadlessTrayPeer() override;

  bool Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) override;
  bool Modify(int icon_id, const std::string& tip) override;
  bool Remove() override;
  bool IsAdded() const override;
  int TrackPopupMenu(const std::vector<MenuItem>& items) override;
  bool SetMenu(const std::vector<MenuItem>& items) override;

 private:
  HeadlessHost& host_;
  int identity_ = 0;
  bool added_ = false;
};

}  // namespace ui::headless
