// Notification-area (tray) icon with a tip, icon switching and a popup menu.
// Portable: the owner dialog receives the icon's mouse messages as Dialog::OnTrayNotify.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ui {

class Dialog;
class TrayIconPeer;

// The callback message number the icon uses on Windows (the program's WM_TRAY_NOTIFY). Messages
// with this number reach Dialog::OnTrayNotify, never OnAppMessage.
constexpr int kTrayCallbackMessage = 2025;

struct MenuItem {
  int command = 0;   // what TrackPopupMenu returns when this item is chosen
  std::string text;  // UTF-8
  bool enabled = true;
  bool separator = false;  // a separator line; command and text unused
};

// One icon. Loop thread only. Failures of the system calls are reported as false and otherwise
// change nothing; Windows keeps re-adding the icon when the taskbar (re)appears (see Add).
class TrayIcon {
 public:
  TrayIcon();
  ~TrayIcon();  // removes the icon
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon: identity_id names it in OnTrayNotify, icon_id is the image's resource id,
  // tip the hover text (UTF-8, cut at 127 characters). The owner must exist (Create done) and
  // outlive the icon. When the taskbar is not ready (at logon), Windows retries for up to a
  // minute and returns true meanwhile; false only when the owner has no window or the backend
  // has no tray at all.
  bool Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip);
  // Changes the image and the tip in place (the identity stays).
  bool Modify(int icon_id, const std::string& tip);
  bool Remove();
  bool IsAdded() const;
  int identity_id() const { return identity_id_; }
  int icon_id() const { return icon_id_; }
  const std::string& tip() const { return tip_; }

  // Opens a popup menu at the mouse cursor, left-aligned, and blocks until the user chose an item
  // or dismissed the menu. Returns the chosen item's command, or 0 when dismissed (a disabled
  // item cannot be chosen). The caller turns the command into Dialog work itself.
  // Called from OnTrayNotify(kMouseRightUp) while a StatusNotifier host is opening the icon's
  // menu itself (Linux desktops), it updates that menu instead and returns 0 at once: the host
  // must get its answer before it shows the menu, and the item chosen there reaches the owner
  // as OnCommand(command) once the menu has closed.
  int TrackPopupMenu(const std::vector<MenuItem>& items);

  // The menu the icon carries for hosts that open it themselves (StatusNotifier hosts), kept
  // for the icon's life: items are changed in place, never recreated, so the menu is complete
  // before its first opening and a host that holds an item's id can still click it. The owner
  // calls this whenever an item's text or state changes; a choice arrives as OnCommand as
  // above. Windows builds its menu at the right click and keeps nothing here. False when the
  // icon is not added.
  bool SetMenu(const std::vector<MenuItem>& items);
  const std::vector<MenuItem>& menu() const { return menu_; }

 private:
  std::unique_ptr<TrayIconPeer> peer_;
  Dialog* owner_ = nullptr;
  int identity_id_ = 0;
  int icon_id_ = 0;
  std::string tip_;
  std::vector<MenuItem> menu_;
};

}  // namespace ui
