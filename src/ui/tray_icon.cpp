// The tray icon front: remembers identity, image and tip, and forwards to the backend.
// Portable.
#include "ui/tray_icon.h"

#include "ui/backend.h"
#include "ui/dialog_peer.h"

namespace ui {

namespace {

// The shell keeps at most 127 characters of tip; cut on a UTF-8 character boundary, counting
// UTF-16 units as Windows does (characters beyond the BMP take two).
std::string CutTip(const std::string& tip) {
  size_t units = 0;
  size_t i = 0;
  while (i < tip.size()) {
    unsigned char c = static_cast<unsigned char>(tip[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    size_t add = len == 4 ? 2 : 1;
    if (units + add > 127 || i + len > tip.size()) break;
    units += add;
    i += len;
  }
  return tip.substr(0, i);
}

}  // namespace

TrayIcon::TrayIcon() = default;

TrayIcon::~TrayIcon() { Remove(); }

bool TrayIcon::Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) {
  if (!owner.IsCreated()) return false;
  if (peer_ && peer_->IsAdded()) peer_->Remove();
  if (!peer_) {
    Backend* backend = GetBackend();
    if (!backend) return false;
    peer_ = backend->CreateTrayIconPeer();
    if (!peer_) return false;
  }
  owner_ = &owner;
  identity_id_ = identity_id;
  icon_id_ = icon_id;
  tip_ = CutTip(tip);
  if (!peer_->Add(owner, identity_id, icon_id, tip_)) return false;
  if (!menu_.empty()) peer_->SetMenu(menu_);  // a menu given before the icon came back
  return true;
}

bool TrayIcon::Modify(int icon_id, const std::string& tip) {
  if (!peer_ || !owner_) return false;
  icon_id_ = icon_id;
  tip_ = CutTip(tip);
  return peer_->Modify(icon_id_, tip_);
}

bool TrayIcon::Remove() {
  if (!peer_) return false;
  bool removed = peer_->Remove();
  owner_ = nullptr;
  return removed;
}

bool TrayIcon::IsAdded() const { return peer_ && peer_->IsAdded(); }

int TrayIcon::TrackPopupMenu(const std::vector<MenuItem>& items) {
  if (!peer_ || !owner_ || items.empty()) return 0;
  return peer_->TrackPopupMenu(items);
}

bool TrayIcon::SetMenu(const std::vector<MenuItem>& items) {
  menu_ = items;
  if (!peer_ || !owner_) return false;
  return peer_->SetMenu(menu_);
}

}  // namespace ui
