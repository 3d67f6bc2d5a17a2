// The Qt backend's internal classes: the backend with its cross-thread mail queue, the dialog
// peer and its window, the up-down control and the tray peer. Only Qt code includes this.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QRect>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog_peer.h"

class QAction;
class QApplication;
class QEventLoop;
class QMenu;
class QSystemTrayIcon;
class QToolButton;

namespace ui::qt {

class QtBackend;
class QtDialogPeer;

// Dialog units to pixels the way Windows maps a dialog rectangle: x * base_x / 4 and
// y * base_y / 8, rounded. base_x is the dialog font's average character width, base_y the
// height Windows' dialog font has at its pixel size (see UnitsOf).
struct DialogUnits {
  int base_x = 6;
  int base_y = 13;
  int X(int dlu) const;
  int Y(int dlu) const;
};

// The Qt font for a template's font: "MS Shell Dlg" (and the other Windows dialog faces) become
// a sans font with the Chinese glyphs (Noto Sans CJK SC, else any CJK sans fontconfig finds).
QFont DialogFont(const DialogTemplate& t);
DialogUnits UnitsOf(const QFont& font);

// The spin arrows of an up-down control: two stacked arrow buttons that repeat while held.
class UpDownWidget : public QWidget {
 public:
  explicit UpDownWidget(QWidget* parent);
  // delta: -1 for the upper arrow (the default range runs from 100 at the bottom to 0 at the top).
  std::function<void(int)> on_step;
  QToolButton* up() const { return up_; }
  QToolButton* down() const { return down_; }
  // Installed on the buddy when the control takes the arrow keys.
  bool eventFilter(QObject* watched, QEvent* event) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* up_;
  QToolButton* down_;
};

// A progress bar that shows its window text (the phase line) as given, not as a format with
// placeholders.
class ProgressBarWidget : public QProgressBar {
 public:
  explicit ProgressBarWidget(QWidget* parent) : QProgressBar(parent) {}
  QString text() const override { return phase_; }
  void SetPhase(const QString& phase);

 private:
  QString phase_;
};

// The dialog's top-level window. The close box, Escape and Enter, double clicks and timers go
// to the peer; everything else is Qt's default.
class DialogWidget : public QDialog {
 public:
  explicit DialogWidget(QtDialogPeer* peer);
  // The peer is going away: no more calls into it.
  void Detach() { peer_ = nullptr; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void reject() override;
  void accept() override;

 private:
  QtDialogPeer* peer_;
};

class QtDialogPeer : public DialogPeer {
 public:
  QtDialogPeer(QtBackend& backend, Dialog& dialog) : backend_(backend), dialog_(dialog) {}
  ~QtDialogPeer() override;

  Dialog& dialog() const { return dialog_; }
  DialogWidget* widget() const { return widget_.data(); }
  QWidget* ItemWidget(int id) const;  // the control's widget, null for none (tests look here)
  const DialogUnits& units() const { return units_; }

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
  // The bar's window text (the phase line of a long operation), shown inside the bar.
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

  // --- from the window and the tray (loop thread) ---
  void Cancel();                       // close box, Escape
  void Enter(QWidget* focus);          // Enter: the focused or default button, else kIdOk
  void DoubleClick(const QPoint& at);  // client coordinates
  void QtTimer(int qt_timer_id);
  // A tray icon of this window found no tray host: the window stays reachable instead of hidden
  // (shown now, or at the end of Create when the icon was added during initialisation), and
  // hiding it minimises it.
  void NoTrayHost();

 private:
  struct Control {
    ControlKind kind = ControlKind::kStatic;
    uint32_t style = 0;
    QWidget* widget = nullptr;  // owned by the window
    std::string progress_text;
    int buddy = 0;
    std::vector<QMetaObject::Connection> connections;  // ours, dropped by Destroy
  };

  QPoint InitialPlace(const DialogTemplate& t) const;  // for the top-left corner of the frame
  void BuildControls(const DialogTemplate& t);
  QWidget* MakeControl(const ControlTemplate& c, const QRect& rect, QWidget* parent);
  void Connect(int id, Control& control);
  void Disconnect(Control& control);
  const Control* Find(int id) const;
  Control* Find(int id);
  void ClickRadio(int id);
  void Step(int updown_id, int delta);
  void ShowModeless(bool show);
  bool HidesByMinimising() const;

  QtBackend& backend_;
  Dialog& dialog_;
  QPointer<DialogWidget> widget_;
  std::map<int, Control> controls_;
  std::map<int, int> timers_;  // our timer id -> Qt's
  DialogUnits units_;
  bool created_ = false;
  bool creating_ = false;
  bool modal_ = false;
  bool ended_ = false;
  int result_ = 0;
  QEventLoop* modal_loop_ = nullptr;
  bool no_tray_host_ = false;  // hide minimises instead
  bool show_after_create_ = false;
};

class QtTrayPeer : public TrayIconPeer {
 public:
  explicit QtTrayPeer(QtBackend& backend) : backend_(backend) {}
  ~QtTrayPeer() override;

  bool Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) override;
  bool Modify(int icon_id, const std::string& tip) override;
  bool Remove() override;
  bool IsAdded() const override { return icon_ != nullptr; }
  int TrackPopupMenu(const std::vector<MenuItem>& items) override;
  bool SetMenu(const std::vector<MenuItem>& items) override;

  // Tests look here.
  QSystemTrayIcon* icon() const { return icon_; }
  QMenu* menu() const { return menu_; }
  Dialog* owner() const { return owner_; }
  int icon_id() const { return icon_id_; }

 private:
  void Activated(int reason);
  void MenuAboutToShow();
  // Brings the icon's menu to the items in place; new actions deliver their command.
  void UpdateMenu(const std::vector<MenuItem>& items);
  // Changes menu's actions in place to show items, adding and removing only at the end; returns
  // the actions it added.
  static std::vector<QAction*> SyncActions(QMenu* menu, const std::vector<MenuItem>& items);

  QtBackend& backend_;
  QSystemTrayIcon* icon_ = nullptr;  // released with deleteLater: it may be in one of its signals
  QMenu* menu_ = nullptr;
  Dialog* owner_ = nullptr;
  int identity_ = 0;
  int icon_id_ = 0;
  bool collecting_ = false;  // inside the owner's right-click handler called by MenuAboutToShow
};

// Receives the backend's own events on the loop thread.
class MailBox : public QObject {
 public:
  explicit MailBox(QtBackend& backend) : backend_(backend) {}
  bool event(QEvent* event) override;

 private:
  QtBackend& backend_;
};

class QtBackend : public Backend {
 public:
  QtBackend();
  ~QtBackend() override;

  std::unique_ptr<DialogPeer> CreateDialogPeer(Dialog& dialog) override;
  std::unique_ptr<TrayIconPeer> CreateTrayIconPeer() override;
  MessageBoxResult ShowMessageBox(Dialog* owner, const std::string& text,
                                  const std::string& caption, MessageBoxButtons buttons) override;
  // Serves every window until Quit. When it returns, calls still queued from other threads are
  // dropped (a blocked SendMessage gets -1) and new ones are refused until the next loop, so
  // that no thread waits for a loop that no longer runs.
  int RunMessageLoop() override;
  void Quit(int code) override;  // any thread
  void QuitNow(int code);        // the quit request arriving on the loop thread
  // Takes quits and mail again as before the first loop (one backend serves a whole test run).
  void AsBeforeTheFirstLoopForTesting();

  // --- the mail queue: work for the loop thread from any thread ---
  // Queues fn for peer (null: for the backend itself). False when the peer is gone or the loop
  // has ended; fn is then destroyed unrun.
  bool Mail(QtDialogPeer* peer, std::function<void()> fn);
  void DeliverOneMail();  // loop thread
  void AttachPeer(QtDialogPeer* peer);
  void DetachPeer(QtDialogPeer* peer);  // drops what was queued for it
  bool IsLoopThread() const { return std::this_thread::get_id() == loop_thread_; }

  // --- icons and the tray (loop thread) ---
  QIcon Icon(int icon_id) const;  // null when the program ships no such icon
  bool TrayHostAvailable() const;
  void SetTrayHostForTesting(std::optional<bool> available) { tray_host_override_ = available; }
  void AddTray(QtTrayPeer* tray) { trays_.push_back(tray); }
  void RemoveTray(QtTrayPeer* tray);
  const std::vector<QtTrayPeer*>& trays() const { return trays_; }

 private:
  struct Mailed {
    QtDialogPeer* peer;
    std::function<void()> fn;
  };

  QApplication* owned_app_ = nullptr;
  MailBox* mailbox_ = nullptr;
  const std::thread::id loop_thread_;
  std::vector<QtTrayPeer*> trays_;
  std::optional<bool> tray_host_override_;
  bool in_main_loop_ = false;
  std::optional<int> pending_quit_;  // asked for while no main loop ran

  std::mutex mail_mutex_;  // guards everything below
  std::deque<Mailed> mail_;
  std::set<QtDialogPeer*> live_peers_;
  bool delivery_posted_ = false;
  bool closed_ = false;
};

}  // namespace ui::qt
