// The user at the headless controls: clicks, typing, combo picks, up-down steps, keys, double
// clicks, system events; and inspection of what a window shows.
#include <algorithm>

#include "ui/headless/headless_host.h"
#include "ui/headless/headless_peer.h"

namespace ui::headless {

namespace {

bool Intersects(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

bool HeadlessHost::UserCanReach(const HeadlessDialogPeer* peer) const {
  if (!peer || !peer->IsCreated() || !peer->IsVisible()) return false;
  return modal_stack_.empty() || modal_stack_.back() == peer;
}

// The control the user can reach: window reachable, control enabled, visible and on screen.
ControlState* HeadlessHost::Reachable(HeadlessDialogPeer* peer, int id) const {
  if (!UserCanReach(peer)) return nullptr;
  ControlState* c = peer->Control(id);
  if (!c || !c->enabled || !c->visible) return nullptr;
  if (!Intersects(c->rect, peer->GetClientRect())) return nullptr;
  return c;
}

namespace {

bool AllDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

}  // namespace

HeadlessDialogPeer* HeadlessHost::PeerOf(const Dialog& dialog) const {
  for (HeadlessDialogPeer* p : peers_) {
    if (&p->dialog() == &dialog) return p;
  }
  return nullptr;
}

bool HeadlessHost::Click(Dialog& dialog, int id) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  ControlState* c = Reachable(peer, id);
  if (!c) return false;
  switch (c->kind) {
    case ControlKind::kPushButton:
      break;
    case ControlKind::kCheckBox:
      c->checked = !c->checked;
      break;
    case ControlKind::kRadioButton:
      // An automatic radio button: this one checked, the rest of its group cleared.
      for (int other : dialog.dialog_template().RadioGroup(id)) {
        if (ControlState* r = peer->Control(other)) r->checked = other == id;
      }
      break;
    default:
      return false;  // labels, frames, edits, bars: a click sends no command
  }
  peer->SetFocusItem(id);
  dialog.DeliverCommand(id);
  return true;
}

bool HeadlessHost::TypeText(Dialog& dialog, int id, const std::string& utf8) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  ControlState* c = Reachable(peer, id);
  if (!c) return false;
  if (c->kind != ControlKind::kEdit && c->kind != ControlKind::kComboBox) return false;
  if (c->kind == ControlKind::kEdit && (c->style & kStyleReadOnly)) return false;
  if (c->kind == ControlKind::kEdit && (c->style & kStyleDigitsOnly) && !AllDigits(utf8)) {
    return false;
  }
  c->text = utf8;
  peer->SetFocusItem(id);
  return true;
}

bool HeadlessHost::PickComboEntry(Dialog& dialog, int id, int index) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  ControlState* c = Reachable(peer, id);
  if (!c || c->kind != ControlKind::kComboBox) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
  c->cur_sel = index;
  c->text = c->items[static_cast<size_t>(index)];
  peer->SetFocusItem(id);
  return true;
}

int HeadlessHost::StepUpDown(Dialog& dialog, int id, int delta) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  ControlState* c = Reachable(peer, id);
  if (!c || c->kind != ControlKind::kUpDown) return -1;
  return dialog.DeliverUpDownStep(id, delta);
}

bool HeadlessHost::PressClose(Dialog& dialog) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  if (!UserCanReach(peer)) return false;
  dialog.DeliverCommand(kIdCancel);
  return true;
}

bool HeadlessHost::PressEscape(Dialog& dialog) { return PressClose(dialog); }

bool HeadlessHost::PressEnter(Dialog& dialog) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  if (!UserCanReach(peer)) return false;
  int command = EnterCommand(dialog.dialog_template(), peer->GetFocusItem(),
                             [this, peer](int id) { return Reachable(peer, id) != nullptr; });
  if (command == 0) return false;  // a default button the user cannot press
  dialog.DeliverCommand(command);
  return true;
}

bool HeadlessHost::DoubleClick(Dialog& dialog, int x, int y) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  if (!UserCanReach(peer)) return false;
  Rect client = peer->GetClientRect();
  if (x < client.left || x >= client.right || y < client.top || y >= client.bottom) return false;
  dialog.DeliverLeftDoubleClick(x, y);
  return true;
}

bool HeadlessHost::SendDeviceChange(Dialog& dialog, int event) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  if (!peer || !peer->IsCreated()) return false;
  dialog.DeliverDeviceChange(event);
  return true;
}

int HeadlessHost::SendPowerBroadcast(Dialog& dialog, int event) {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  if (!peer || !peer->IsCreated()) return -1;
  return dialog.DeliverPowerBroadcast(event);
}

std::vector<Dialog*> HeadlessHost::Dialogs() const {
  std::vector<Dialog*> out;
  for (HeadlessDialogPeer* p : peers_) out.push_back(&p->dialog());
  return out;
}

Dialog* HeadlessHost::FindDialog(const std::string& caption) const {
  for (HeadlessDialogPeer* p : peers_) {
    if (p->caption_ == caption) return &p->dialog();
  }
  return nullptr;
}

int HeadlessHost::IconOf(const Dialog& dialog) const {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  return peer ? peer->icon() : 0;
}

bool HeadlessHost::AreRegisteredForPorts(const Dialog& dialog) const {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  return peer && peer->registered_for_ports();
}

int HeadlessHost::ProgressLow(const Dialog& dialog, int id) const {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  const ControlState* c = peer ? peer->Control(id) : nullptr;
  return c ? c->low : 0;
}

int HeadlessHost::ProgressHigh(const Dialog& dialog, int id) const {
  HeadlessDialogPeer* peer = PeerOf(dialog);
  const ControlState* c = peer ? peer->Control(id) : nullptr;
  return c ? c->high : 0;
}

}  // namespace ui::headless
