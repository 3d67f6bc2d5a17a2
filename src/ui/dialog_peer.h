// What a backend implements for one dialog window and one tray icon. Portable interface; the
// Dialog and TrayIcon classes check their arguments and forward here. Loop thread unless noted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/tray_icon.h"

namespace ui {

class DialogPeer {
 public:
  virtual ~DialogPeer() = default;

  // Builds the window from the dialog's template and then calls dialog.DeliverInitDialog().
  virtual bool Create(bool modal) = 0;
  // Shows the window and serves messages until EndModal; returns its code.
  virtual int RunModal() = 0;
  virtual void EndModal(int result) = 0;
  // Calls dialog.DeliverDestroy(), then releases the window. Idempotent.
  virtual void Destroy() = 0;
  virtual bool IsCreated() const = 0;

  virtual bool SetItemText(int id, const std::string& utf8) = 0;
  virtual bool GetItemText(int id, std::string* utf8) const = 0;
  virtual bool EnableItem(int id, bool enable) = 0;
  virtual bool IsItemEnabled(int id) const = 0;
  virtual bool ShowItem(int id, bool show) = 0;
  virtual bool CheckItem(int id, bool checked) = 0;
  virtual bool IsItemChecked(int id) const = 0;
  virtual bool SetFocusItem(int id) = 0;
  virtual int GetFocusItem() const = 0;

  virtual bool ComboResetContent(int id) = 0;
  virtual int ComboAddString(int id, const std::string& utf8) = 0;
  virtual int ComboGetCount(int id) const = 0;
  virtual bool ComboGetString(int id, int index, std::string* utf8) const = 0;
  virtual bool ComboSetCurSel(int id, int index) = 0;
  virtual int ComboGetCurSel(int id) const = 0;

  virtual bool SetUpDownBuddy(int updown_id, int buddy_id) = 0;
  virtual int GetUpDownBuddy(int updown_id) const = 0;

  virtual bool SetProgressRange(int id, int low, int high) = 0;
  virtual bool SetProgressPos(int id, int pos) = 0;
  virtual int GetProgressPos(int id) const = 0;
  // Only for a progress bar: false for any other control.
  virtual bool SetProgressText(int id, const std::string& utf8) = 0;
  virtual bool GetProgressText(int id, std::string* utf8) const = 0;

  virtual bool SetTimer(int id, int period_ms) = 0;  // period already at least 10 ms
  virtual bool KillTimer(int id) = 0;

  virtual bool ShowWindow(bool show) = 0;
  virtual bool IsVisible() const = 0;
  virtual bool SetForeground() = 0;
  virtual bool SetCaption(const std::string& utf8) = 0;
  virtual Rect GetWindowRect() const = 0;
  virtual bool MoveWindow(const Rect& screen_rect) = 0;
  virtual Rect GetClientRect() const = 0;
  virtual bool SetIcon(int icon_id) = 0;
  virtual bool RegisterPortNotifications() = 0;

  // Any thread.
  virtual bool PostPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) = 0;
  virtual intptr_t SendPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) = 0;
  virtual bool PostDeviceChange(int event) = 0;
  virtual bool PostPowerBroadcast(int event) = 0;
};

class TrayIconPeer {
 public:
  virtual ~TrayIconPeer() = default;
  virtual bool Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) = 0;
  virtual bool Modify(int icon_id, const std::string& tip) = 0;
  virtual bool Remove() = 0;
  virtual bool IsAdded() const = 0;
  virtual int TrackPopupMenu(const std::vector<MenuItem>& items) = 0;
  // The menu a StatusNotifier host opens by itself; a backend whose menus open only through
  // TrackPopupMenu (Windows) has nothing to keep.
  virtual bool SetMenu(const std::vector<MenuItem>& items) {
    (void)items;
    return IsAdded();
  }
};

}  // namespace ui
