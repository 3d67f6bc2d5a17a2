// The headless host: clock and timers, the posted-message queue, message boxes, menus, the tray
// and modal runs. The user operations live in headless_user.cpp.
#include "ui/headless/headless_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/clock.h"
#include "platform/paths.h"
#include "ui/headless/headless_peer.h"

namespace ui::headless {

namespace {

// One line for a person at the console (or a service journal): local time, then the text.
void PrintConsoleLine(const std::string& text) {
  platform::LocalTime t = platform::NowLocal();
  std::fprintf(stderr, "%04d-%02d-%02d %02d:%02d:%02d %s\n", t.year, t.month, t.day, t.hour,
               t.minute, t.second, text.c_str());
  std::fflush(stderr);
}

}  // namespace

HeadlessHost::HeadlessHost(ClockMode mode)
    : mode_(mode),
      loop_thread_(std::this_thread::get_id()),
      real_start_(platform::NowMs()),
      print_boxes_(mode == ClockMode::kReal),
      keep_records_(mode == ClockMode::kVirtual),
      user_present_(mode == ClockMode::kVirtual) {}

HeadlessHost::~HeadlessHost() {
  // Windows still alive forget us; calls queued for them are dropped (a blocked sender gets -1).
  std::deque<Posted> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(posted_);
    for (HeadlessDialogPeer* p : peers_) p->alive_ = false;
  }
}

std::unique_ptr<DialogPeer> HeadlessHost::CreateDialogPeer(Dialog& dialog) {
  return std::make_unique<HeadlessDialogPeer>(*this, dialog);
}

std::unique_ptr<TrayIconPeer> HeadlessHost::CreateTrayIconPeer() {
  return std::make_unique<HeadlessTrayPeer>(*this);
}

// --- clock and timers --------------------------------------------------------------------

uint64_t HeadlessHost::NowMs() const {
  return mode_ == ClockMode::kVirtual ? virtual_now_ : platform::NowMs() - real_start_;
}

void HeadlessHost::AddTimer(HeadlessDialogPeer* peer, int id, int period_ms) {
  RemoveTimer(peer, id);
  timers_.push_back(
      Timer{peer, id, period_ms, NowMs() + static_cast<uint64_t>(period_ms), ++timer_seq_});
}

bool HeadlessHost::RemoveTimer(HeadlessDialogPeer* peer, int id) {
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const Timer& t) { return t.peer == peer && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

int64_t HeadlessHost::NextTimerInMs() const {
  if (timers_.empty()) return -1;
  uint64_t now = NowMs();
  uint64_t next = timers_.front().due;
  for (const Timer& t : timers_) next = std::min(next, t.due);
  return next <= now ? 0 : static_cast<int64_t>(next - now);
}

bool HeadlessHost::IsTimerRunning(const Dialog& dialog, int id) const {
  return TimerPeriod(dialog, id) > 0;
}

int HeadlessHost::TimerPeriod(const Dialog& dialog, int id) const {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  for (const Timer& t : timers_) {
    if (t.peer == peer && t.id == id) return t.period_ms;
  }
  return 0;
}

bool HeadlessHost::FireNextTimerUpTo(uint64_t limit) {
  auto best = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->due > limit) continue;
    if (best == timers_.end() || it->due < best->due ||
        (it->due == best->due && it->seq < best->seq)) {
      best = it;
    }
  }
  if (best == timers_.end()) return false;
  HeadlessDialogPeer* peer = best->peer;
  int id = best->id;
  uint64_t due = best->due;
  if (mode_ == ClockMode::kVirtual) {
    virtual_now_ = std::max(virtual_now_, due);
    best->due = due + static_cast<uint64_t>(best->period_ms);
  } else {
    // A real timer that fell behind fires once and then keeps its rhythm from now, as window
    // timers do, instead of firing in a burst.
    uint64_t now = NowMs();
    best->due = std::max(due + static_cast<uint64_t>(best->period_ms),
                         now + static_cast<uint64_t>(best->period_ms) / 2);
  }
  best->seq = ++timer_seq_;
  // Re-armed before the handler runs, so the handler's KillTimer or SetTimer wins.
  peer->dialog().DeliverTimer(id);
  return true;
}

void HeadlessHost::AdvanceTime(uint64_t ms) {
  if (mode_ == ClockMode::kReal) {
    uint64_t until = NowMs() + ms;
    ServeUntil([&] { return NowMs() >= until; }, until);
    return;
  }
  uint64_t target = virtual_now_ + ms;
  DispatchPosted();
  while (FireNextTimerUpTo(target)) DispatchPosted();
  virtual_now_ = std::max(virtual_now_, target);
  DispatchPosted();
}

// --- posts -------------------------------------------------------------------------------

void HeadlessHost::AttachPeer(HeadlessDialogPeer* peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(peers_.begin(), peers_.end(), peer) == peers_.end()) peers_.push_back(peer);
  peer->alive_ = true;
}

void HeadlessHost::ForgetPeer(HeadlessDialogPeer* peer) {
  modal_stack_.erase(std::remove(modal_stack_.begin(), modal_stack_.end(), peer),
                     modal_stack_.end());
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.peer == peer; }),
                timers_.end());
  for (auto it = tray_.begin(); it != tray_.end();) {
    if (it->second.owner == &peer->dialog()) {
      it = tray_.erase(it);
    } else {
      ++it;
    }
  }
  std::deque<Posted> dropped;  // destroyed outside the lock: may wake blocked senders
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peer->alive_ = false;
    peers_.erase(std::remove(peers_.begin(), peers_.end(), peer), peers_.end());
    for (auto it = posted_.begin(); it != posted_.end();) {
      if (it->peer == peer) {
        dropped.push_back(std::move(*it));
        it = posted_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

bool HeadlessHost::PostFor(HeadlessDialogPeer* peer, std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!peer->alive_) return false;
    posted_.push_back(Posted{peer, std::move(fn)});
  }
  wake_.notify_all();
  return true;
}

void HeadlessHost::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(Posted{nullptr, std::move(fn)});
  }
  wake_.notify_all();
}

int HeadlessHost::DispatchPosted() {
  int count = 0;
  // One at a time: a handler may destroy a window whose later posts must then be dropped.
  for (;;) {
    Posted item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (posted_.empty()) break;
      item = std::move(posted_.front());
      posted_.pop_front();
    }
    item.fn();
    ++count;
  }
  return count;
}

int HeadlessHost::WaitAndDispatch(int timeout_ms) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                   [&] { return !posted_.empty(); });
  }
  return DispatchPosted();
}

// --- the loop ----------------------------------------------------------------------------

void HeadlessHost::Quit(int code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    quit_code_ = code;
  }
  wake_.notify_all();
}

void HeadlessHost::ServeUntil(const std::function<bool()>& done, uint64_t deadline) {
  auto quit_asked = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_;
  };
  while (!done() && !quit_asked()) {
    DispatchPosted();
    if (done()) break;
    if (mode_ == ClockMode::kReal) {
      if (FireNextTimerUpTo(NowMs())) continue;  // serve posts again between timers
    }
    // Sleep until the next timer, a post, a quit or the deadline; an idle loop wakes rarely.
    int64_t wait = mode_ == ClockMode::kReal ? NextTimerInMs() : -1;
    if (wait < 0 || wait > 1000) wait = 1000;
    if (deadline) {
      uint64_t now = NowMs();
      int64_t left = deadline > now ? static_cast<int64_t>(deadline - now) : 0;
      if (left < wait) wait = left;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(wait),
                   [&] { return !posted_.empty() || quit_; });
  }
}

int HeadlessHost::RunMessageLoop() {
  ServeUntil([] { return false; });
  DispatchPosted();
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = false;  // consumed: a later loop runs again
  return quit_code_;
}

int HeadlessHost::RunModal(HeadlessDialogPeer* peer) {
  Dialog& dialog = peer->dialog();
  peer->ShowWindow(true);
  modal_stack_.push_back(peer);
  if (modal_driver_) {
    std::function<void(Dialog&)> driver = modal_driver_;  // a driver may replace itself
    driver(dialog);
  }
  if (peer->created_ && !peer->ended_) {
    if (mode_ == ClockMode::kVirtual) {
      uint64_t limit = virtual_now_ + modal_time_limit_ms_;
      DispatchPosted();
      while (peer->created_ && !peer->ended_ && FireNextTimerUpTo(limit)) DispatchPosted();
    } else {
      ServeUntil([&] { return !peer->created_ || peer->ended_; });
    }
  }
  if (peer->created_ && !peer->ended_) {
    // Nobody ended it: the user closes it with the close box.
    dialog.DeliverCommand(kIdCancel);
    if (!peer->ended_) peer->EndModal(kIdCancel);
  }
  peer->ShowWindow(false);
  modal_stack_.erase(std::remove(modal_stack_.begin(), modal_stack_.end(), peer),
                     modal_stack_.end());
  return peer->result_;
}

// --- message boxes -----------------------------------------------------------------------

void HeadlessHost::ScriptMessageBoxAnswer(MessageBoxResult answer) { answers_.push_back(answer); }

void HeadlessHost::ScriptWhileMessageBoxOpen(std::function<void()> meanwhile) {
  box_meanwhile_.push_back(std::move(meanwhile));
}

MessageBoxResult HeadlessHost::NextAnswer(MessageBoxButtons buttons) {
  MessageBoxResult fallback =
      buttons == MessageBoxButtons::kYesNo ? MessageBoxResult::kNo : MessageBoxResult::kOk;
  if (answers_.empty()) return fallback;
  MessageBoxResult a = answers_.front();
  answers_.pop_front();
  bool fits = buttons == MessageBoxButtons::kYesNo
                  ? (a == MessageBoxResult::kYes || a == MessageBoxResult::kNo)
                  : a == MessageBoxResult::kOk;
  return fits ? a : fallback;
}

MessageBoxResult HeadlessHost::ShowMessageBox(Dialog* owner, const std::string& text,
                                              const std::string& caption,
                                              MessageBoxButtons buttons) {
  MessageBoxRecord r;
  r.text = text;
  r.caption = caption;
  r.buttons = buttons;
  if (owner && owner->IsCreated()) r.owner_caption = owner->dialog_template().caption;
  // Recorded as open before anything arrives meanwhile; answered afterwards, so a box shown
  // meanwhile takes its answer first, as it would be answered first.
  const size_t index = boxes_.size();
  if (keep_records_) boxes_.push_back(r);
  if (!box_meanwhile_.empty()) {
    std::function<void()> meanwhile = std::move(box_meanwhile_.front());
    box_meanwhile_.pop_front();
    meanwhile();
  }
  r.answer = NextAnswer(buttons);
  if (index < boxes_.size()) boxes_[index].answer = r.answer;
  if (print_boxes_) {
    PrintConsoleLine("[" + r.caption + "] " + r.text +
                     (buttons == MessageBoxButtons::kYesNo ? " (Yes/No) -> " : " (OK) -> ") +
                     (r.answer == MessageBoxResult::kYes  ? "Yes"
                      : r.answer == MessageBoxResult::kNo ? "No"
                                                          : "OK"));
  }
  return r.answer;
}

void HeadlessHost::RecordProgress(const Dialog& dialog, int id, int pos,
                                  const std::string& text) {
  if (keep_records_) {
    progress_.push_back(ProgressRecord{dialog.dialog_template().caption, id, pos, text});
  }
}

void HeadlessHost::Announce(const std::string& line) {
  if (keep_records_) announcements_.push_back(line);
  if (print_boxes_) PrintConsoleLine(line);
}

// --- tray --------------------------------------------------------------------------------

const TrayIconState* HeadlessHost::FindTrayIcon(int identity_id) const {
  auto it = tray_.find(identity_id);
  return it == tray_.end() ? nullptr : &it->second;
}

bool HeadlessHost::SendTrayMouse(int identity_id, int mouse_message) {
  auto it = tray_.find(identity_id);
  if (it == tray_.end() || !it->second.owner) return false;
  it->second.owner->DeliverTrayNotify(identity_id, mouse_message);
  return true;
}

void HeadlessHost::ScriptMenuChoice(int command) { menu_choices_.push_back(command); }

HeadlessTrayPeer::HeadlessTrayPeer(HeadlessHost& host) : host_(host) {}

HeadlessTrayPeer::~HeadlessTrayPeer() { Remove(); }

bool HeadlessTrayPeer::Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) {
  if (!owner.IsCreated()) return false;
  host_.tray_[identity_id] = TrayIconState{identity_id, icon_id, tip, &owner, {}};
  identity_ = identity_id;
  added_ = true;
  return true;
}

bool HeadlessTrayPeer::Modify(int icon_id, const std::string& tip) {
  auto it = host_.tray_.find(identity_);
  if (!added_ || it == host_.tray_.end()) return false;
  it->second.icon_id = icon_id;
  it->second.tip = tip;
  return true;
}

bool HeadlessTrayPeer::Remove() {
  if (!added_) return false;
  added_ = false;
  return host_.tray_.erase(identity_) > 0;
}

bool HeadlessTrayPeer::SetMenu(const std::vector<MenuItem>& items) {
  auto it = host_.tray_.find(identity_);
  if (!added_ || it == host_.tray_.end()) return false;
  it->second.menu = items;
  return true;
}

bool HeadlessTrayPeer::IsAdded() const { return added_ && host_.tray_.count(identity_) > 0; }

int HeadlessTrayPeer::TrackPopupMenu(const std::vector<MenuItem>& items) {
  int choice = 0;
  if (!host_.menu_choices_.empty()) {
    choice = host_.menu_choices_.front();
    host_.menu_choices_.pop_front();
  }
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const MenuItem& m) { return !m.separator && m.command == choice; });
  if (choice != 0 && (it == items.end() || !it->enabled)) choice = 0;
  if (host_.keep_records_) host_.menus_.push_back(MenuRecord{items, choice});
  return choice;
}

}  // namespace ui::headless
