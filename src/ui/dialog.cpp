// The dialog base class: argument checks and routing in front of the backend's window.
// Portable.
#include "ui/dialog.h"

#include <algorithm>
#include <utility>

#include "ui/backend.h"
#include "ui/dialog_peer.h"

namespace ui {

namespace {

std::string& AppNameStorage() {
  static std::string name = "Ovra7Server";
  return name;
}

std::string ResolveCaption(const std::string& caption, MessageBoxButtons buttons) {
  if (!caption.empty()) return caption;
  return buttons == MessageBoxButtons::kYesNo ? QuestionCaption() : ApplicationName();
}

}  // namespace

void SetApplicationName(const std::string& utf8_name) { AppNameStorage() = utf8_name; }
const std::string& ApplicationName() { return AppNameStorage(); }
const std::string& QuestionCaption() {
  static const std::string caption = "提示";
  return caption;
}

MessageBoxResult ShowMessageBox(const std::string& text, MessageBoxButtons buttons,
                                const std::string& caption) {
  Backend* backend = GetBackend();
  if (!backend)
    return buttons == MessageBoxButtons::kYesNo ? MessageBoxResult::kNo : MessageBoxResult::kOk;
  return backend->ShowMessageBox(nullptr, text, ResolveCaption(caption, buttons), buttons);
}

int RunMessageLoop() {
  Backend* backend = GetBackend();
  return backend ? backend->RunMessageLoop() : -1;
}

void PostQuit(int code) {
  if (Backend* backend = GetBackend()) backend->Quit(code);
}

void Announce(const std::string& utf8_line) {
  if (Backend* backend = GetBackend()) backend->Announce(utf8_line);
}

bool UserCanCloseWindows() {
  Backend* backend = GetBackend();
  return backend && backend->UserCanCloseWindows();
}

const ControlTemplate* DialogTemplate::Find(int id) const {
  if (id == kStaticId) return nullptr;
  for (const ControlTemplate& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

std::vector<int> DialogTemplate::RadioGroup(int id) const {
  if (id == kStaticId) return {};
  auto self = std::find_if(controls.begin(), controls.end(),
                           [id](const ControlTemplate& c) { return c.id == id; });
  if (self == controls.end() || self->kind != ControlKind::kRadioButton) return {};
  auto first = self;
  while (first != controls.begin() && !(first->style & kStyleGroupStart) &&
         std::prev(first)->kind == ControlKind::kRadioButton) {
    --first;
  }
  std::vector<int> ids;
  for (auto it = first; it != controls.end() && it->kind == ControlKind::kRadioButton; ++it) {
    if (it != first && (it->style & kStyleGroupStart)) break;
    if (it->id != kStaticId) ids.push_back(it->id);
  }
  return ids;
}

int EnterCommand(const DialogTemplate& t, int focused_button,
                 const std::function<bool(int)>& can_press) {
  const ControlTemplate* focused = t.Find(focused_button);
  if (focused && focused->kind == ControlKind::kPushButton) return focused_button;
  for (const ControlTemplate& c : t.controls) {
    if (c.id != kStaticId && c.kind == ControlKind::kPushButton && (c.style & kStyleDefault))
      return can_press && can_press(c.id) ? c.id : 0;
  }
  return kIdOk;
}

WindowPlace PlaceInside(const WorkArea& area, WindowPlace wanted, int width, int height) {
  if (area.width <= 0 || area.height <= 0) return wanted;
  // In from the right and the bottom first, so that the top-left corner wins when both edges
  // cannot be kept.
  int x = std::min(wanted.x, area.x + area.width - width);
  int y = std::min(wanted.y, area.y + area.height - height);
  return WindowPlace{std::max(x, area.x), std::max(y, area.y)};
}

WindowPlace InitialWindowPlace(const DialogTemplate& t, const WorkArea& area, WindowPlace place,
                               int width, int height) {
  if (area.width <= 0 || area.height <= 0) return place;
  WindowPlace wanted{area.x + place.x, area.y + place.y};
  if (t.style & kWindowCenter)
    wanted = WindowPlace{area.x + (area.width - width) / 2, area.y + (area.height - height) / 2};
  return PlaceInside(area, wanted, width, height);
}

Dialog::Dialog(DialogTemplate tmpl) : template_(std::move(tmpl)) {}

Dialog::~Dialog() {
  // The peer may still call back into this object while it tears down; the derived part is
  // already gone, so only the base handlers run.
  if (peer_) peer_->Destroy();
  peer_.reset();
}

bool Dialog::EnsurePeer() {
  if (peer_) return true;
  Backend* backend = GetBackend();
  if (!backend) return false;
  peer_ = backend->CreateDialogPeer(*this);
  return peer_ != nullptr;
}

bool Dialog::Create() {
  if (peer_ && peer_->IsCreated()) return false;
  peer_.reset();
  if (!EnsurePeer()) return false;
  modal_ = false;
  if (!peer_->Create(false)) {
    peer_.reset();
    return false;
  }
  return true;
}

int Dialog::DoModal() {
  if (peer_ && peer_->IsCreated()) return -1;
  peer_.reset();
  if (!EnsurePeer()) return -1;
  modal_ = true;
  if (!peer_->Create(true)) {
    peer_.reset();
    modal_ = false;
    return -1;
  }
  int result = peer_->RunModal();
  peer_->Destroy();
  modal_ = false;
  return result;
}

void Dialog::EndDialog(int result) {
  if (!IsCreated()) return;
  if (modal_) {
    peer_->EndModal(result);
  } else {
    peer_->ShowWindow(false);
  }
}

void Dialog::DestroyWindow() {
  if (peer_) peer_->Destroy();
}

bool Dialog::IsCreated() const { return peer_ && peer_->IsCreated(); }

bool Dialog::UpdateData(bool save) {
  if (!IsCreated()) return false;
  DataExchange dx(*this, save);
  DoDataExchange(dx);
  return !dx.failed();
}

// Item operations: forward when the window exists.
bool Dialog::SetItemText(int id, const std::string& utf8) {
  return IsCreated() && peer_->SetItemText(id, utf8);
}
std::string Dialog::GetItemText(int id) const {
  std::string text;
  if (IsCreated()) peer_->GetItemText(id, &text);
  return text;
}
bool Dialog::EnableItem(int id, bool enable) {
  return IsCreated() && peer_->EnableItem(id, enable);
}
bool Dialog::IsItemEnabled(int id) const { return IsCreated() && peer_->IsItemEnabled(id); }
bool Dialog::ShowItem(int id, bool show) { return IsCreated() && peer_->ShowItem(id, show); }
bool Dialog::CheckItem(int id, bool checked) {
  return IsCreated() && peer_->CheckItem(id, checked);
}
bool Dialog::IsItemChecked(int id) const { return IsCreated() && peer_->IsItemChecked(id); }

namespace {

// The radio buttons from first_id to the end of its group, as CheckRadioButton counts them.
std::vector<int> RadioGroupFrom(const DialogTemplate& t, int first_id) {
  std::vector<int> ids = t.RadioGroup(first_id);
  ids.erase(ids.begin(), std::find(ids.begin(), ids.end(), first_id));
  return ids;
}

}  // namespace

int Dialog::GetRadioIndex(int first_id) const {
  if (!IsCreated()) return -1;
  std::vector<int> ids = RadioGroupFrom(template_, first_id);
  for (size_t i = 0; i < ids.size(); ++i) {
    if (peer_->IsItemChecked(ids[i])) return static_cast<int>(i);
  }
  return -1;
}

bool Dialog::SetRadioIndex(int first_id, int index) {
  if (!IsCreated()) return false;
  std::vector<int> ids = RadioGroupFrom(template_, first_id);
  if (ids.empty() || index < -1 || index >= static_cast<int>(ids.size())) return false;
  for (size_t i = 0; i < ids.size(); ++i) {
    peer_->CheckItem(ids[i], static_cast<int>(i) == index);
  }
  return true;
}

bool Dialog::SetFocusItem(int id) { return IsCreated() && peer_->SetFocusItem(id); }
int Dialog::GetFocusItem() const { return IsCreated() ? peer_->GetFocusItem() : 0; }

bool Dialog::ComboResetContent(int id) { return IsCreated() && peer_->ComboResetContent(id); }
int Dialog::ComboAddString(int id, const std::string& utf8) {
  return IsCreated() ? peer_->ComboAddString(id, utf8) : -1;
}
int Dialog::ComboGetCount(int id) const { return IsCreated() ? peer_->ComboGetCount(id) : 0; }
std::string Dialog::ComboGetString(int id, int index) const {
  std::string text;
  if (IsCreated()) peer_->ComboGetString(id, index, &text);
  return text;
}
bool Dialog::ComboSetCurSel(int id, int index) {
  return IsCreated() && peer_->ComboSetCurSel(id, index);
}
int Dialog::ComboGetCurSel(int id) const { return IsCreated() ? peer_->ComboGetCurSel(id) : -1; }

bool Dialog::SetUpDownBuddy(int updown_id, int buddy_id) {
  return IsCreated() && peer_->SetUpDownBuddy(updown_id, buddy_id);
}
int Dialog::GetUpDownBuddy(int updown_id) const {
  return IsCreated() ? peer_->GetUpDownBuddy(updown_id) : 0;
}

bool Dialog::SetProgressRange(int id, int low, int high) {
  return IsCreated() && low < high && peer_->SetProgressRange(id, low, high);
}
bool Dialog::SetProgressPos(int id, int pos) {
  return IsCreated() && peer_->SetProgressPos(id, pos);
}
int Dialog::GetProgressPos(int id) const { return IsCreated() ? peer_->GetProgressPos(id) : 0; }
bool Dialog::SetProgressText(int id, const std::string& utf8) {
  return IsCreated() && peer_->SetProgressText(id, utf8);
}
std::string Dialog::GetProgressText(int id) const {
  std::string text;
  if (IsCreated()) peer_->GetProgressText(id, &text);
  return text;
}

bool Dialog::SetTimer(int id, int period_ms) {
  if (!IsCreated()) return false;
  return peer_->SetTimer(id, period_ms < 10 ? 10 : period_ms);
}
bool Dialog::KillTimer(int id) { return IsCreated() && peer_->KillTimer(id); }

MessageBoxResult Dialog::MessageBox(const std::string& text, MessageBoxButtons buttons,
                                    const std::string& caption) {
  Backend* backend = GetBackend();
  if (!backend)
    return buttons == MessageBoxButtons::kYesNo ? MessageBoxResult::kNo : MessageBoxResult::kOk;
  return backend->ShowMessageBox(IsCreated() ? this : nullptr, text,
                                 ResolveCaption(caption, buttons), buttons);
}

bool Dialog::ShowWindow(bool show) { return IsCreated() && peer_->ShowWindow(show); }
bool Dialog::IsVisible() const { return IsCreated() && peer_->IsVisible(); }
bool Dialog::SetForeground() { return IsCreated() && peer_->SetForeground(); }
bool Dialog::SetCaption(const std::string& utf8) { return IsCreated() && peer_->SetCaption(utf8); }
Rect Dialog::GetWindowRect() const { return IsCreated() ? peer_->GetWindowRect() : Rect(); }
bool Dialog::MoveWindow(const Rect& screen_rect) {
  return IsCreated() && screen_rect.Width() >= 0 && screen_rect.Height() >= 0 &&
         peer_->MoveWindow(screen_rect);
}
Rect Dialog::GetClientRect() const { return IsCreated() ? peer_->GetClientRect() : Rect(); }
bool Dialog::SetIcon(int icon_id) { return IsCreated() && peer_->SetIcon(icon_id); }
bool Dialog::RegisterPortNotifications() {
  return IsCreated() && peer_->RegisterPortNotifications();
}

// Cross-thread entry points: the peer pointer is set on the loop thread before any other thread
// learns of the window, and the peers themselves are thread-safe for these calls.
bool Dialog::PostMessage(int msg, intptr_t wparam, intptr_t lparam) {
  if (msg < kFirstAppMessage) return false;
  DialogPeer* p = peer_.get();
  return p && p->PostPrivateMessage(msg, wparam, lparam);
}
intptr_t Dialog::SendMessage(int msg, intptr_t wparam, intptr_t lparam) {
  if (msg < kFirstAppMessage) return -1;
  DialogPeer* p = peer_.get();
  return p ? p->SendPrivateMessage(msg, wparam, lparam) : -1;
}
bool Dialog::PostDeviceChange(int event) {
  DialogPeer* p = peer_.get();
  return p && p->PostDeviceChange(event);
}
bool Dialog::PostPowerBroadcast(int event) {
  DialogPeer* p = peer_.get();
  return p && p->PostPowerBroadcast(event);
}

// Default handlers.
bool Dialog::OnInitDialog() {
  UpdateData(false);
  return true;
}
void Dialog::OnCommand(int) {}
void Dialog::OnOK() {
  if (UpdateData(true)) EndDialog(kIdOk);
}
void Dialog::OnCancel() { EndDialog(kIdCancel); }
void Dialog::OnTimer(int) {}
void Dialog::OnDeviceChange(int) {}
int Dialog::OnPowerBroadcast(int) { return 1; }
void Dialog::OnTrayNotify(int, int) {}
int Dialog::OnUpDownStep(int, int) { return 0; }
intptr_t Dialog::OnAppMessage(int, intptr_t, intptr_t) { return 0; }
void Dialog::OnLeftDoubleClick(int, int) {}
bool Dialog::OnQueryEndSession() { return true; }
void Dialog::OnEndSession() {}
void Dialog::OnDestroy() {}
void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::DeliverInitDialog() { OnInitDialog(); }

void Dialog::DeliverCommand(int id) {
  if (id == kIdOk) {
    OnOK();
  } else if (id == kIdCancel) {
    OnCancel();
  } else {
    OnCommand(id);
  }
}

void Dialog::DeliverDestroy() { OnDestroy(); }

}  // namespace ui
