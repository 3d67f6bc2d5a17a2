// The Qt tray icon: QSystemTrayIcon with its tip, image and menu. Only Qt code.
//
// Tray hosts differ in who opens the menu: an XEmbed tray (trayer, older panels) lets the program
// open it; StatusNotifier hosts (KDE, GNOME's extension) read it over D-Bus (com.canonical.dbusmenu)
// and open it themselves, some without asking the program first. So the icon carries one menu for
// its life whose actions are made once and then only changed in place: Qt exports every action
// under an id of its own, and a host that read the ids earlier clicks by them. The owner keeps it
// current with SetMenu; when a host is about to open it, the owner's right-click handler runs
// (OnTrayNotify with kMouseRightUp) and the items it offers through TrackPopupMenu update it once
// more. The item the user picks arrives as the owner's command once the menu has closed.
// TrackPopupMenu called at any other moment opens a menu at the cursor and waits, as on Windows.
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

#include <cstdio>

#include "ui/qt/qt_internal.h"

namespace ui::qt {

QtTrayPeer::~QtTrayPeer() { Remove(); }

bool QtTrayPeer::Add(Dialog& owner, int identity_id, int icon_id, const std::string& tip) {
  auto* owner_peer = static_cast<QtDialogPeer*>(owner.peer());
  if (!owner.IsCreated() || !owner_peer) return false;
  if (icon_) Remove();
  owner_ = &owner;
  identity_ = identity_id;
  icon_id_ = icon_id;
  QIcon image = backend_.Icon(icon_id);
  if (image.isNull()) image = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
  icon_ = new QSystemTrayIcon(image);
  icon_->setToolTip(QString::fromStdString(tip));
  menu_ = new QMenu();
  icon_->setContextMenu(menu_);
  QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this] { MenuAboutToShow(); });
  QObject::connect(icon_, &QSystemTrayIcon::activated, icon_,
                   [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
  icon_->show();
  backend_.AddTray(this);
  if (!backend_.TrayHostAvailable()) {
    std::fprintf(stderr, "%s: no system tray on this desktop; the window stays on the task bar\n",
                 ApplicationName().c_str());
    owner_peer->NoTrayHost();
  }
  return true;
}

bool QtTrayPeer::Modify(int icon_id, const std::string& tip) {
  if (!icon_) return false;
  if (icon_id != icon_id_) {
    QIcon image = backend_.Icon(icon_id);
    if (!image.isNull()) icon_->setIcon(image);
    icon_id_ = icon_id;
  }
  icon_->setToolTip(QString::fromStdString(tip));
  return true;
}

bool QtTrayPeer::Remove() {
  if (!icon_) return false;
  backend_.RemoveTray(this);
  icon_->hide();
  QObject::disconnect(icon_, nullptr, nullptr, nullptr);
  QObject::disconnect(menu_, nullptr, nullptr, nullptr);
  // A chosen item still waiting to be delivered goes with the icon.
  QCoreApplication::removePostedEvents(menu_, QEvent::MetaCall);
  // Later: the icon may be inside one of its own signals (an exit chosen from its menu).
  icon_->deleteLater();
  menu_->deleteLater();
  icon_ = nullptr;
  menu_ = nullptr;
  owner_ = nullptr;
  return true;
}

void QtTrayPeer::Activated(int reason) {
  if (!owner_) return;
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      owner_->DeliverTrayNotify(identity_, kMouseLeftDown);
      break;
    case QSystemTrayIcon::DoubleClick:
      owner_->DeliverTrayNotify(identity_, kMouseLeftDoubleClick);
      break;
    default:
      break;  // the right button opens the context menu (MenuAboutToShow)
  }
}

void QtTrayPeer::MenuAboutToShow() {
  if (!owner_ || !menu_) return;
  collecting_ = true;
  owner_->DeliverTrayNotify(identity_, kMouseRightUp);
  collecting_ = false;
}

std::vector<QAction*> QtTrayPeer::SyncActions(QMenu* menu, const std::vector<MenuItem>& items) {
  std::vector<QAction*> made;
  QList<QAction*> actions = menu->actions();
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem& item = items[i];
    QAction* action = nullptr;
    if (i < static_cast<size_t>(actions.size())) {
      action = actions[static_cast<int>(i)];
    } else {
      action = menu->addAction(QString());
      made.push_back(action);
    }
    // Qt's setters change nothing (and tell no host) when the value stays.
    action->setSeparator(item.separator);
    action->setText(item.separator ? QString() : QString::fromStdString(item.text));
    action->setData(item.separator ? 0 : item.command);
    action->setEnabled(item.separator || item.enabled);
  }
  for (int i = static_cast<int>(items.size()); i < actions.size(); ++i) {
    menu->removeAction(actions[i]);
    actions[i]->deleteLater();  // it may be the one being triggered
  }
  return made;
}

void QtTrayPeer::UpdateMenu(const std::vector<MenuItem>& items) {
  for (QAction* action : SyncActions(menu_, items)) {
    QObject::connect(action, &QAction::triggered, menu_, [this, action] {
      int command = action->data().toInt();
      if (command == 0) return;
      // Delivered after the menu has closed, as TrackPopupMenu's caller would act on it.
      QMetaObject::invokeMethod(
          menu_,
          [this, command] {
            if (owner_ && owner_->IsCreated()) owner_->DeliverCommand(command);
          },
          Qt::QueuedConnection);
    });
  }
}

bool QtTrayPeer::SetMenu(const std::vector<MenuItem>& items) {
  if (!icon_ || !menu_) return false;
  UpdateMenu(items);
  return true;
}

int QtTrayPeer::TrackPopupMenu(const std::vector<MenuItem>& items) {
  if (!icon_) return 0;
  if (collecting_) {
    UpdateMenu(items);
    return 0;
  }
  QMenu menu;
  SyncActions(&menu, items);
  QAction* chosen = menu.exec(QCursor::pos());
  return chosen ? chosen->data().toInt() : 0;
}

}  // namespace ui::qt
