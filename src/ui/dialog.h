// The dialog base class the program's windows derive from: handlers to override and item
// operations by control id. Portable: no toolkit type appears here; a backend does the drawing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/data_exchange.h"
#include "ui/dialog_template.h"

namespace ui {

class DialogPeer;

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxResult { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

// Device-change events as the window receives them (the Windows DBT_ numbers; other systems map
// their notifications onto these).
constexpr int kDeviceNodesChanged = 0x0007;
constexpr int kDeviceArrival = 0x8000;
constexpr int kDeviceRemoveComplete = 0x8004;
// Power events (the Windows PBT_ numbers).
constexpr int kPowerSuspend = 4;
constexpr int kPowerResumeAutomatic = 18;
// Mouse messages a tray icon reports (the Windows WM_ numbers).
constexpr int kMouseLeftDown = 0x0201;
constexpr int kMouseLeftUp = 0x0202;
constexpr int kMouseLeftDoubleClick = 0x0203;
constexpr int kMouseRightDown = 0x0204;
constexpr int kMouseRightUp = 0x0205;
// Private window messages of the program start here (WM_USER).
constexpr int kFirstAppMessage = 1024;

// The application's name: the default caption of message boxes. Set once at start-up, before
// any window exists; "Ovra7Server" until then.
void SetApplicationName(const std::string& utf8_name);
const std::string& ApplicationName();
// The caption of Yes/No questions: "提示".
const std::string& QuestionCaption();

// A message box with no owner window (for example before the main window exists). An empty
// caption means ApplicationName() for kOk and QuestionCaption() for kYesNo. Blocks the calling
// thread until answered (the headless host answers at once). Loop thread only.
MessageBoxResult ShowMessageBox(const std::string& text,
                                MessageBoxButtons buttons = MessageBoxButtons::kOk,
                                const std::string& caption = std::string());

// Runs the message loop of the current backend on the calling thread (the loop thread) until
// PostQuit. Returns the quit code.
int RunMessageLoop();
// Ends RunMessageLoop with this code. Any thread.
void PostQuit(int code);

// Tells a person watching a console what a window would show: a status line that changed, a
// step of a progress bar. Only a backend without a display (headless with the real clock) prints
// it, time-stamped, on standard error; windowed backends show the window itself and ignore it.
// Loop thread.
void Announce(const std::string& utf8_line);

// Whether a person can see the windows and close them: false on a console (the headless backend
// with the real clock), where a window that would wait for a person to close it ends by itself.
// Loop thread.
bool UserCanCloseWindows();

// Base class of every window. One thread (the loop thread: the one that runs RunMessageLoop and
// creates the dialogs) calls every handler and every operation, except where an operation says
// "any thread". Before Create/DoModal and after destruction of the window the item operations do
// nothing and return false, 0 or an empty text.
class Dialog {
 public:
  explicit Dialog(DialogTemplate tmpl);
  // Destroys a window that still exists. By then the derived part is gone, so only the base
  // OnDestroy runs: a window whose OnDestroy matters calls DestroyWindow in its own destructor.
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  const DialogTemplate& dialog_template() const { return template_; }

  // --- life cycle -------------------------------------------------------------------------
  // Creates the window as a modeless dialog (hidden unless the template says kWindowVisible)
  // and runs OnInitDialog before returning. False when the backend could not build it.
  bool Create();
  // Runs the dialog modally: creates it, runs OnInitDialog, shows it, and returns the code given
  // to EndDialog once that has been called (kIdCancel when closed by the close box or Escape,
  // -1 when the window could not be built). Blocks the loop thread meanwhile; timers, posted
  // messages and other windows keep being served.
  int DoModal();
  // Modal: ends the run with this code. Modeless: only hides the window (the framework's way of
  // ending a modeless dialog); the window, its timers and its tray icon live on.
  void EndDialog(int result);
  // Destroys the window (OnDestroy runs first); the object itself lives on.
  void DestroyWindow();
  bool IsCreated() const;
  bool IsModal() const { return modal_; }

  // --- data exchange ----------------------------------------------------------------------
  // save = true: controls -> fields, checked; false: fields -> controls. Returns false when a
  // check failed (the user has been told; see DataExchange).
  bool UpdateData(bool save = true);

  // --- item operations (loop thread) ------------------------------------------------------
  bool SetItemText(int id, const std::string& utf8);
  std::string GetItemText(int id) const;  // a combo box gives its edit field's text
  bool EnableItem(int id, bool enable = true);
  bool IsItemEnabled(int id) const;
  bool ShowItem(int id, bool show = true);
  bool CheckItem(int id, bool checked = true);  // check box or radio button
  bool IsItemChecked(int id) const;
  // Radio group named by its first button (the one with kStyleGroupStart); the group runs to the
  // next group start or the next control that is not a radio button. Index -1: none checked.
  int GetRadioIndex(int first_id) const;
  bool SetRadioIndex(int first_id, int index);  // index -1 clears the group
  bool SetFocusItem(int id);
  int GetFocusItem() const;  // id of the focused control, 0 when none of ours

  // Combo box (drop-down with edit field). Indices count from 0; -1 means no selection.
  bool ComboResetContent(int id);
  int ComboAddString(int id, const std::string& utf8);  // index of the new entry, -1 on failure
  int ComboGetCount(int id) const;
  std::string ComboGetString(int id, int index) const;
  bool ComboSetCurSel(int id, int index);  // also puts the entry's text into the edit field
  int ComboGetCurSel(int id) const;

  // Up-down control: the edit it steps and sits beside.
  bool SetUpDownBuddy(int updown_id, int buddy_id);
  int GetUpDownBuddy(int updown_id) const;  // 0 when none

  // Progress bar. Its text is the bar's window text: a line that says what the bar measures
  // (a phase and its percent). Win32 keeps it as the control's window text (the system does not
  // draw it; accessibility tools read it); other backends may show it with the bar.
  bool SetProgressRange(int id, int low, int high);
  bool SetProgressPos(int id, int pos);
  int GetProgressPos(int id) const;
  bool SetProgressText(int id, const std::string& utf8);
  std::string GetProgressText(int id) const;

  // Window timers: SetTimer with an id already running restarts it with the new period. Timers
  // are periodic: OnTimer(id) arrives every period_ms until KillTimer. A period below 10 ms is
  // taken as 10 ms.
  bool SetTimer(int id, int period_ms);
  bool KillTimer(int id);

  // Message box owned by this window. Empty caption: ApplicationName() for kOk, QuestionCaption()
  // for kYesNo. Blocks until answered; the loop keeps serving timers and posts meanwhile.
  MessageBoxResult MessageBox(const std::string& text,
                              MessageBoxButtons buttons = MessageBoxButtons::kOk,
                              const std::string& caption = std::string());

  // --- the window ---------------------------------------------------------------------------
  bool ShowWindow(bool show = true);  // the plain show command (SW_SHOW) or hide; no move
  bool IsVisible() const;
  bool SetForeground();  // bring to the foreground (before a popup menu, for example)
  bool SetCaption(const std::string& utf8);
  // Screen coordinates in pixels of the whole window, frame included.
  Rect GetWindowRect() const;
  bool MoveWindow(const Rect& screen_rect);
  // The client area in client coordinates (left and top are 0), in pixels.
  Rect GetClientRect() const;
  // The window's large and small icon, by resource id.
  bool SetIcon(int icon_id);
  // Asks the system for arrival and removal notices of serial-port devices (OnDeviceChange).
  bool RegisterPortNotifications();

  // --- messages from other threads (any thread) ---------------------------------------------
  // Queues OnAppMessage(msg, wparam, lparam) for the loop thread and returns at once. msg must be
  // kFirstAppMessage or above. False when the window does not exist (the message is dropped; a
  // pointer in lparam then still belongs to the caller).
  bool PostMessage(int msg, intptr_t wparam, intptr_t lparam);
  // Runs OnAppMessage on the loop thread and returns its result; blocks the calling thread until
  // the loop has handled it (called on the loop thread it runs at once). -1 when the window
  // does not exist.
  intptr_t SendMessage(int msg, intptr_t wparam, intptr_t lparam);
  // Queue a device-change or power event as if the system had sent it.
  bool PostDeviceChange(int event);
  bool PostPowerBroadcast(int event);

 protected:
  // --- handlers (loop thread) ---------------------------------------------------------------
  // After the window and its controls exist. The base runs UpdateData(false). Return true.
  virtual bool OnInitDialog();
  // A button, menu item or other command. Not called for kIdOk and kIdCancel (see OnOK/OnCancel).
  virtual void OnCommand(int id);
  // Enter on a dialog without a default button, or a command with kIdOk. The base runs
  // UpdateData(true) and, when that succeeds, EndDialog(kIdOk).
  virtual void OnOK();
  // Escape, the close box, or a command with kIdCancel. The base runs EndDialog(kIdCancel),
  // which hides a modeless dialog.
  virtual void OnCancel();
  virtual void OnTimer(int id);
  // event: kDeviceArrival, kDeviceRemoveComplete, kDeviceNodesChanged or another system value.
  virtual void OnDeviceChange(int event);
  // event: kPowerSuspend, kPowerResumeAutomatic or another system value. The result goes back to
  // the system (1 grants the request).
  virtual int OnPowerBroadcast(int event);
  // icon_id: the identity the TrayIcon was added with; mouse_message: kMouse... value.
  virtual void OnTrayNotify(int icon_id, int mouse_message);
  // An up-down arrow was pressed: delta < 0 for the upper arrow (default range). Return 0 to let
  // the control complete the step, non-zero to refuse it.
  virtual int OnUpDownStep(int id, int delta);
  // A private message (PostMessage/SendMessage, or another process on Windows).
  virtual intptr_t OnAppMessage(int msg, intptr_t wparam, intptr_t lparam);
  // Left double click in the client area, client coordinates in pixels.
  virtual void OnLeftDoubleClick(int x, int y);
  // The session is about to end (log-out, shut-down): return false to ask that it does not (the
  // Windows WM_QUERYENDSESSION; backends without such a question never call it). Default: true.
  virtual bool OnQueryEndSession();
  // The session ends now, whatever was answered (WM_ENDSESSION): the process may be ended as soon
  // as this returns. Default: nothing.
  virtual void OnEndSession();
  // The window is about to be destroyed (timers and controls still exist).
  virtual void OnDestroy();
  // Binds controls to fields; see DataExchange. The base binds nothing.
  virtual void DoDataExchange(DataExchange& dx);

 public:
  // --- entry points for backends (loop thread); windows never call these -------------------
  void DeliverInitDialog();
  void DeliverCommand(int id);  // routes kIdOk/kIdCancel to OnOK/OnCancel, the rest to OnCommand
  void DeliverTimer(int id) { OnTimer(id); }
  void DeliverDeviceChange(int event) { OnDeviceChange(event); }
  int DeliverPowerBroadcast(int event) { return OnPowerBroadcast(event); }
  void DeliverTrayNotify(int icon_id, int mouse_message) { OnTrayNotify(icon_id, mouse_message); }
  int DeliverUpDownStep(int id, int delta) { return OnUpDownStep(id, delta); }
  intptr_t DeliverAppMessage(int msg, intptr_t w, intptr_t l) { return OnAppMessage(msg, w, l); }
  void DeliverLeftDoubleClick(int x, int y) { OnLeftDoubleClick(x, y); }
  bool DeliverQueryEndSession() { return OnQueryEndSession(); }
  void DeliverEndSession() { OnEndSession(); }
  void DeliverDestroy();  // runs OnDestroy; the backend then releases the window
  DialogPeer* peer() const { return peer_.get(); }

 private:
  bool EnsurePeer();

  DialogTemplate template_;
  std::unique_ptr<DialogPeer> peer_;
  bool modal_ = false;
};

}  // namespace ui
