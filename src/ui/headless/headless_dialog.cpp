// The headless window: builds control state from the template and answers the item operations.
#include <future>
#include <memory>

#include "ui/headless/headless_peer.h"

namespace ui::headless {

namespace {

// A frame like a Windows dialog's: thin borders and a title bar when the template has one.
constexpr int kBorder = 3;
constexpr int kCaptionHeight = 23;

int FrameTop(const DialogTemplate& t) {
  return kBorder + ((t.style & kWindowCaption) ? kCaptionHeight : 0);
}

bool HasText(ControlKind kind) { return kind != ControlKind::kUpDown; }

}  // namespace

HeadlessDialogPeer::~HeadlessDialogPeer() {
  if (created_) Destroy();
  host_.ForgetPeer(this);
}

ControlState* HeadlessDialogPeer::Control(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const ControlState* HeadlessDialogPeer::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool HeadlessDialogPeer::Create(bool modal) {
  if (created_) return false;
  const DialogTemplate& t = dialog_.dialog_template();
  controls_.clear();
  for (const ControlTemplate& c : t.controls) {
    if (c.id == kStaticId) continue;
    ControlState s;
    s.kind = c.kind;
    s.style = c.style;
    s.rect = Rect{HeadlessHost::DluToPixelsX(c.x), HeadlessHost::DluToPixelsY(c.y),
                  HeadlessHost::DluToPixelsX(c.x + c.cx), HeadlessHost::DluToPixelsY(c.y + c.cy)};
    // A combo box's template text is not a text of the edit field; the list starts empty.
    if (c.kind != ControlKind::kComboBox && HasText(c.kind)) s.text = c.text;
    s.enabled = !(c.style & kStyleDisabled);
    s.visible = !(c.style & kStyleHidden);
    controls_[c.id] = s;
  }
  caption_ = t.caption;
  int width = HeadlessHost::DluToPixelsX(t.cx) + 2 * kBorder;
  int height = HeadlessHost::DluToPixelsY(t.cy) + FrameTop(t) + kBorder;
  // The host's notional 1024 x 768 screen, without panels.
  WindowPlace place = InitialWindowPlace(
      t, WorkArea{0, 0, 1024, 768},
      WindowPlace{HeadlessHost::DluToPixelsX(t.x), HeadlessHost::DluToPixelsY(t.y)}, width, height);
  window_ = Rect{place.x, place.y, place.x + width, place.y + height};
  modal_ = modal;
  ended_ = false;
  result_ = 0;
  visible_ = (t.style & kWindowVisible) != 0;
  focus_ = 0;
  icon_ = 0;
  registered_ = false;
  created_ = true;
  host_.AttachPeer(this);
  dialog_.DeliverInitDialog();
  return created_;
}

int HeadlessDialogPeer::RunModal() {
  if (!created_) return -1;
  return host_.RunModal(this);
}

void HeadlessDialogPeer::EndModal(int result) {
  if (!modal_ || ended_) return;
  ended_ = true;
  result_ = result;
}

void HeadlessDialogPeer::Destroy() {
  if (!created_) return;
  dialog_.DeliverDestroy();
  host_.ForgetPeer(this);
  created_ = false;
  visible_ = false;
  controls_.clear();
}

bool HeadlessDialogPeer::SetItemText(int id, const std::string& utf8) {
  ControlState* c = Control(id);
  if (!c || !HasText(c->kind)) return false;
  c->text = utf8;
  return true;
}

bool HeadlessDialogPeer::GetItemText(int id, std::string* utf8) const {
  const ControlState* c = Control(id);
  if (!c || !HasText(c->kind)) return false;
  *utf8 = c->text;
  return true;
}

bool HeadlessDialogPeer::EnableItem(int id, bool enable) {
  ControlState* c = Control(id);
  if (!c) return false;
  c->enabled = enable;
  return true;
}

bool HeadlessDialogPeer::IsItemEnabled(int id) const {
  const ControlState* c = Control(id);
  return c && c->enabled;
}

bool HeadlessDialogPeer::ShowItem(int id, bool show) {
  ControlState* c = Control(id);
  if (!c) return false;
  c->visible = show;
  return true;
}

bool HeadlessDialogPeer::CheckItem(int id, bool checked) {
  ControlState* c = Control(id);
  if (!c || (c->kind != ControlKind::kCheckBox && c->kind != ControlKind::kRadioButton)) {
    return false;
  }
  c->checked = checked;
  return true;
}

bool HeadlessDialogPeer::IsItemChecked(int id) const {
  const ControlState* c = Control(id);
  return c && c->checked;
}

bool HeadlessDialogPeer::SetFocusItem(int id) {
  if (!Control(id)) return false;
  focus_ = id;
  return true;
}

bool HeadlessDialogPeer::ComboResetContent(int id) {
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kComboBox) return false;
  c->items.clear();
  c->cur_sel = -1;
  c->text.clear();
  return true;
}

int HeadlessDialogPeer::ComboAddString(int id, const std::string& utf8) {
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kComboBox) return -1;
  c->items.push_back(utf8);
  return static_cast<int>(c->items.size()) - 1;
}

int HeadlessDialogPeer::ComboGetCount(int id) const {
  const ControlState* c = Control(id);
  return c && c->kind == ControlKind::kComboBox ? static_cast<int>(c->items.size()) : 0;
}

bool HeadlessDialogPeer::ComboGetString(int id, int index, std::string* utf8) const {
  const ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kComboBox || index < 0 ||
      index >= static_cast<int>(c->items.size())) {
    return false;
  }
  *utf8 = c->items[static_cast<size_t>(index)];
  return true;
}

bool HeadlessDialogPeer::ComboSetCurSel(int id, int index) {
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kComboBox) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) {
    // As on Windows: an index out of the list clears the selection and the edit field.
    c->cur_sel = -1;
    c->text.clear();
    return index == -1;
  }
  c->cur_sel = index;
  c->text = c->items[static_cast<size_t>(index)];
  return true;
}

int HeadlessDialogPeer::ComboGetCurSel(int id) const {
  const ControlState* c = Control(id);
  return c && c->kind == ControlKind::kComboBox ? c->cur_sel : -1;
}

bool HeadlessDialogPeer::SetUpDownBuddy(int updown_id, int buddy_id) {
  ControlState* c = Control(updown_id);
  if (!c || c->kind != ControlKind::kUpDown || !Control(buddy_id)) return false;
  c->buddy = buddy_id;
  return true;
}

int HeadlessDialogPeer::GetUpDownBuddy(int updown_id) const {
  const ControlState* c = Control(updown_id);
  return c && c->kind == ControlKind::kUpDown ? c->buddy : 0;
}

bool HeadlessDialogPeer::SetProgressRange(int id, int low, int high) {
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  c->low = low;
  c->high = high;
  if (c->pos < low) c->pos = low;
  if (c->pos > high) c->pos = high;
  return true;
}

bool HeadlessDialogPeer::SetProgressPos(int id, int pos) {
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  // A bar clamps its position to its range.
  int clamped = pos < c->low ? c->low : pos > c->high ? c->high : pos;
  if (clamped != c->pos) {
    c->pos = clamped;
    host_.RecordProgress(dialog_, id, c->pos, c->text);
  }
  return true;
}

bool HeadlessDialogPeer::SetProgressText(int id, const std::string& utf8) {
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  if (utf8 != c->text) {
    c->text = utf8;
    host_.RecordProgress(dialog_, id, c->pos, c->text);
  }
  return true;
}

bool HeadlessDialogPeer::GetProgressText(int id, std::string* utf8) const {
  const ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kProgressBar) return false;
  *utf8 = c->text;
  return true;
}

int HeadlessDialogPeer::GetProgressPos(int id) const {
  const ControlState* c = Control(id);
  return c && c->kind == ControlKind::kProgressBar ? c->pos : 0;
}

bool HeadlessDialogPeer::SetTimer(int id, int period_ms) {
  if (!created_) return false;
  host_.AddTimer(this, id, period_ms);
  return true;
}

bool HeadlessDialogPeer::KillTimer(int id) { return created_ && host_.RemoveTimer(this, id); }

bool HeadlessDialogPeer::ShowWindow(bool show) {
  if (!created_) return false;
  visible_ = show;
  return true;
}

bool HeadlessDialogPeer::SetCaption(const std::string& utf8) {
  if (!created_) return false;
  caption_ = utf8;
  return true;
}

bool HeadlessDialogPeer::MoveWindow(const Rect& screen_rect) {
  if (!created_) return false;
  window_ = screen_rect;
  return true;
}

Rect HeadlessDialogPeer::GetClientRect() const {
  const DialogTemplate& t = dialog_.dialog_template();
  int width = window_.Width() - 2 * kBorder;
  int height = window_.Height() - FrameTop(t) - kBorder;
  return Rect{0, 0, width < 0 ? 0 : width, height < 0 ? 0 : height};
}

bool HeadlessDialogPeer::SetIcon(int icon_id) {
  if (!created_) return false;
  icon_ = icon_id;
  return true;
}

bool HeadlessDialogPeer::RegisterPortNotifications() {
  if (!created_) return false;
  registered_ = true;
  return true;
}

bool HeadlessDialogPeer::PostPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) {
  Dialog* d = &dialog_;
  return host_.PostFor(this,
                       [d, msg, wparam, lparam] { d->DeliverAppMessage(msg, wparam, lparam); });
}

intptr_t HeadlessDialogPeer::SendPrivateMessage(int msg, intptr_t wparam, intptr_t lparam) {
  if (host_.IsLoopThread()) {
    return created_ ? dialog_.DeliverAppMessage(msg, wparam, lparam) : -1;
  }
  // The promise lives in the queued call; when the window goes away first, the call is dropped
  // unrun, the promise is broken and the sender gets -1 instead of waiting for ever.
  auto promise = std::make_shared<std::promise<intptr_t>>();
  std::future<intptr_t> answer = promise->get_future();
  Dialog* d = &dialog_;
  bool queued = host_.PostFor(this, [d, msg, wparam, lparam, promise] {
    promise->set_value(d->DeliverAppMessage(msg, wparam, lparam));
  });
  promise.reset();
  if (!queued) return -1;
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return -1;
  }
}

bool HeadlessDialogPeer::PostDeviceChange(int event) {
  Dialog* d = &dialog_;
  return host_.PostFor(this, [d, event] { d->DeliverDeviceChange(event); });
}

bool HeadlessDialogPeer::PostPowerBroadcast(int event) {
  Dialog* d = &dialog_;
  return host_.PostFor(this, [d, event] { d->DeliverPowerBroadcast(event); });
}

}  // namespace ui::headless
