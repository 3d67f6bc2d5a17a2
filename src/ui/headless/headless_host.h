// The headless dialog host: controls held in memory, a virtual or real clock, scripted message
// boxes and menus, and the "user" operations tests drive windows with. No display needed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/tray_icon.h"

namespace ui::headless {

class HeadlessDialogPeer;
class HeadlessTrayPeer;
struct ControlState;

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  MessageBoxButtons buttons = MessageBoxButtons::kOk;
  MessageBoxResult answer = MessageBoxResult::kOk;
  std::string owner_caption;  // caption of the owner window; empty without owner
};

// One change of a progress bar: its position and text after the change.
struct ProgressRecord {
  std::string caption;  // the caption of the bar's window
  int id = 0;
  int pos = 0;
  std::string text;
};

struct MenuRecord {
  std::vector<MenuItem> items;
  int chosen = 0;  // the command returned (0: dismissed)
};

struct TrayIconState {
  int identity_id = 0;
  int icon_id = 0;
  std::string tip;
  Dialog* owner = nullptr;
  std::vector<MenuItem> menu;  // what a StatusNotifier host would show (TrayIcon::SetMenu)
};

enum class ClockMode {
  kVirtual,  // time moves only by AdvanceTime (tests)
  kReal,     // the monotonic clock; RunMessageLoop waits for timers and posts (--headless)
};

// One host per test or per process. Create it on the loop thread; every operation not marked
// "any thread" must be called there. The host must outlive every Dialog and TrayIcon made on it.
class HeadlessHost : public Backend {
 public:
  explicit HeadlessHost(ClockMode mode = ClockMode::kVirtual);
  ~HeadlessHost() override;
  HeadlessHost(const HeadlessHost&) = delete;
  HeadlessHost& operator=(const HeadlessHost&) = delete;

  // --- Backend ----------------------------------------------------------------------------
  std::unique_ptr<DialogPeer> CreateDialogPeer(Dialog& dialog) override;
  std::unique_ptr<TrayIconPeer> CreateTrayIconPeer() override;
  MessageBoxResult ShowMessageBox(Dialog* owner, const std::string& text,
                                  const std::string& caption, MessageBoxButtons buttons) override;
  // Real clock: serves timers and posts until Quit. Virtual clock: serves posts (waiting for
  // them in real time) until Quit; timers there move only with AdvanceTime.
  int RunMessageLoop() override;
  void Quit(int code) override;  // any thread
  // Recorded (announcements()) with the virtual clock; printed on standard error with a time
  // stamp when message boxes are printed (the real clock).
  void Announce(const std::string& line) override;
  // Virtual clock: the test plays the person (true). Real clock: nobody sees the windows (false).
  bool UserCanCloseWindows() const override { return user_present_; }
  void SetUserPresent(bool present) { user_present_ = present; }

  // --- clock ------------------------------------------------------------------------------
  ClockMode clock_mode() const { return mode_; }
  uint64_t NowMs() const;  // virtual: starts at 0
  // Virtual clock: moves time forward by ms, firing every timer that falls due on the way in
  // order of due time (equal times: in the order they were set), each at its own moment, and
  // re-arming periodic timers; posted messages are delivered before each timer and at the end.
  // Real clock: waits ms of real time while serving the loop.
  void AdvanceTime(uint64_t ms);
  // Ms until the next timer falls due, or -1 when none runs.
  int64_t NextTimerInMs() const;
  // Whether a timer with this id runs for the dialog, and its period.
  bool IsTimerRunning(const Dialog& dialog, int id) const;
  int TimerPeriod(const Dialog& dialog, int id) const;  // 0 when not running

  // --- posts (Dialog::PostMessage, SendMessage, PostDeviceChange, Post) ---------------------
  // Delivers everything queued so far; returns how many were delivered.
  int DispatchPosted();
  // Waits up to timeout_ms real time for at least one queued item, then delivers the queue.
  // Returns how many were delivered (0 on time-out).
  int WaitAndDispatch(int timeout_ms);
  // Queues fn to run on the loop thread. Any thread (signal handlers excluded: use Quit or a
  // socket read by another thread that then calls Post).
  void Post(std::function<void()> fn);

  // --- message boxes --------------------------------------------------------------------
  // Answers for the next boxes, first in first out. A box without a scripted answer gets kOk
  // (OK box) or kNo (Yes/No box). A scripted answer that does not fit the buttons (kYes for an
  // OK box) is taken as that box's default.
  void ScriptMessageBoxAnswer(MessageBoxResult answer);
  // What reaches the program while the next box is open, before the user answers it: a real box
  // runs a message loop of its own, so a tray command, a control message or a power event can
  // arrive then. First in first out, one per box; runs on the loop thread with the box already
  // recorded in message_boxes().
  void ScriptWhileMessageBoxOpen(std::function<void()> meanwhile);
  const std::vector<MessageBoxRecord>& message_boxes() const { return boxes_; }
  void ClearMessageBoxes() { boxes_.clear(); }
  // Print each box and each announcement on standard error, time-stamped (default: on with the
  // real clock, off with the virtual).
  void SetPrintMessageBoxes(bool on) { print_boxes_ = on; }
  const std::vector<std::string>& announcements() const { return announcements_; }

  // --- tray -----------------------------------------------------------------------------
  // The icon added with this identity, or null.
  const TrayIconState* FindTrayIcon(int identity_id) const;
  // The user moves the mouse over the icon: OnTrayNotify(identity_id, mouse_message) of its
  // owner. False when no such icon is added.
  bool SendTrayMouse(int identity_id, int mouse_message);
  // The user's choice in the next popup menus, first in first out (0 = dismiss). A menu without a
  // scripted choice is dismissed; choosing a disabled item or a command not in the menu dismisses.
  void ScriptMenuChoice(int command);
  const std::vector<MenuRecord>& menus() const { return menus_; }

  // --- the user at the controls ---------------------------------------------------------
  // Each returns false (and does nothing) when the user could not reach the control: the dialog
  // has no window or is hidden, the control does not exist, is disabled or hidden, or lies
  // outside the window's client area (the collapsed right half of a halved window).
  // A push button sends its command; a check box toggles, then sends its command; a radio button
  // becomes the checked one of its group, then sends its command.
  bool Click(Dialog& dialog, int id);
  // Replaces the text of an edit or of a combo box's edit field. A digits-only edit refuses
  // text with other characters (returns false, keeps its text).
  bool TypeText(Dialog& dialog, int id, const std::string& utf8);
  // Selects a combo box entry (and its text in the edit field).
  bool PickComboEntry(Dialog& dialog, int id, int index);
  // Presses an up-down arrow: delta < 0 the upper arrow. Returns OnUpDownStep's result; -1 when
  // the step could not be made.
  int StepUpDown(Dialog& dialog, int id, int delta);
  bool PressClose(Dialog& dialog);                 // the close box: OnCancel
  bool PressEscape(Dialog& dialog);                // OnCancel
  bool PressEnter(Dialog& dialog);                 // the default button's command, else OnOK
  bool DoubleClick(Dialog& dialog, int x, int y);  // client coordinates in pixels
  bool SendDeviceChange(Dialog& dialog, int event);
  int SendPowerBroadcast(Dialog& dialog, int event);  // OnPowerBroadcast's result, -1 no window

  // --- inspection -----------------------------------------------------------------------
  std::vector<Dialog*> Dialogs() const;  // windows that exist, in creation order
  Dialog* FindDialog(const std::string& caption) const;
  int IconOf(const Dialog& dialog) const;  // SetIcon's id, 0 when none
  bool AreRegisteredForPorts(const Dialog& dialog) const;
  int ProgressLow(const Dialog& dialog, int id) const;
  int ProgressHigh(const Dialog& dialog, int id) const;
  // Every change of a progress bar's position or text, of every window, in order; it outlives
  // the windows, so a test reads what a finished modal dialog showed.
  const std::vector<ProgressRecord>& progress_records() const { return progress_; }
  void ClearProgressRecords() { progress_.clear(); }

  // --- modal runs -----------------------------------------------------------------------
  // Called once when a modal run starts (after OnInitDialog), on the loop thread; it may use
  // every operation above. When it returns and the dialog is still running: with the virtual
  // clock, time is advanced timer by timer until EndDialog or modal_time_limit_ms of virtual
  // time; then (and with the real clock, after the driver returns, only when Quit was asked)
  // the user closes it (kIdCancel). With the real clock and no driver, the loop serves the
  // modal dialog until EndDialog or Quit. While a modal dialog runs, the user can reach only it
  // (the user operations refuse other windows), as the system disables the rest of the program.
  void SetModalDriver(std::function<void(Dialog&)> driver) { modal_driver_ = std::move(driver); }
  void SetModalTimeLimitMs(uint64_t ms) { modal_time_limit_ms_ = ms; }

  // Pixels of one dialog unit (MS Shell Dlg 8 pt at 96 dpi): x * 3 / 2, y * 13 / 8.
  static int DluToPixelsX(int dlu) { return dlu * 3 / 2; }
  static int DluToPixelsY(int dlu) { return dlu * 13 / 8; }

 private:
  friend class HeadlessDialogPeer;
  friend class HeadlessTrayPeer;

  struct Timer {
    HeadlessDialogPeer* peer;
    int id;
    int period_ms;
    uint64_t due;
    uint64_t seq;
  };
  struct Posted {
    HeadlessDialogPeer* peer;  // null for Post(fn)
    std::function<void()> fn;
  };

  // Loop-thread helpers used by the peers.
  void AddTimer(HeadlessDialogPeer* peer, int id, int period_ms);
  bool RemoveTimer(HeadlessDialogPeer* peer, int id);
  void AttachPeer(HeadlessDialogPeer* peer);  // a window was built
  void ForgetPeer(HeadlessDialogPeer* peer);  // timers, posts, tray icons of a dying window
  bool PostFor(HeadlessDialogPeer* peer, std::function<void()> fn);  // any thread
  bool IsLoopThread() const { return std::this_thread::get_id() == loop_thread_; }
  bool FireNextTimerUpTo(uint64_t limit);  // one timer due at or before limit; false if none
  // The loop body: serves posts (and real-clock timers) until done() or Quit. done() is checked
  // after each wake; one that turns true by the clock alone needs its moment in deadline.
  void ServeUntil(const std::function<bool()>& done, uint64_t deadline = 0);
  int RunModal(HeadlessDialogPeer* peer);
  HeadlessDialogPeer* PeerOf(const Dialog& dialog) const;
  // The window the user can work with now: shown, and the innermost modal one when any runs.
  bool UserCanReach(const HeadlessDialogPeer* peer) const;
  ControlState* Reachable(HeadlessDialogPeer* peer, int id) const;
  MessageBoxResult NextAnswer(MessageBoxButtons buttons);
  void RecordProgress(const Dialog& dialog, int id, int pos, const std::string& text);

  const ClockMode mode_;
  const std::thread::id loop_thread_;
  uint64_t virtual_now_ = 0;
  uint64_t real_start_ = 0;
  uint64_t timer_seq_ = 0;
  std::vector<Timer> timers_;
  std::vector<HeadlessDialogPeer*> peers_;
  std::map<int, TrayIconState> tray_;
  std::vector<HeadlessTrayPeer*> tray_peers_;
  std::deque<MessageBoxResult> answers_;
  std::deque<std::function<void()>> box_meanwhile_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<std::string> announcements_;
  std::vector<ProgressRecord> progress_;
  std::deque<int> menu_choices_;
  std::vector<MenuRecord> menus_;
  bool print_boxes_;
  // Message boxes, announcements, progress changes and menus are kept for tests to inspect only
  // with the virtual clock: the program's own host runs for months and announces every change of
  // the server link, so keeping them would grow its memory with every reconnect.
  bool keep_records_;
  bool user_present_;
  std::function<void(Dialog&)> modal_driver_;
  std::vector<HeadlessDialogPeer*> modal_stack_;  // running modal dialogs, innermost last
  uint64_t modal_time_limit_ms_ = 600000;

  mutable std::mutex mutex_;  // guards posted_, quit_, quit_code_
  std::condition_variable wake_;
  std::deque<Posted> posted_;
  bool quit_ = false;
  int quit_code_ = 0;
};

}  // namespace ui::headless
