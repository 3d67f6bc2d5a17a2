// The Qt tray icon: QSystemTrayIcon with its tip, image and menu. Only Qt code.
//
// Tray hosts differ in who opens the menu: an XEmbed tray (trayer, older panels) lets the program
// open it; StatusNotifier hosts (KDE, GNOME's extension) open it themselves and show no icon
// without one. So the icon always carries a context menu, and when the host is about to open it
// the owner's right-click handler runs (OnTrayNotify with kMouseRightUp): the items it offers
// through TrackPopupMenu fill that menu, and the item the user picks arrives as the owner's
// command once the menu has closed. TrackPopupMenu called at any other moment opens a menu at
// the cursor and waits, as on Windows.
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
  menu_->clear();
  collecting_ = true;
  owner_->DeliverTrayNotify(identity_, kMouseRightUp);
  collecting_ = false;
}

void QtTrayPeer::FillMenu(QMenu* menu, const std::vector<MenuItem>& items) {
  menu->clear();
  for (const MenuItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(QString::fromStdString(item.text));
    action->setData(item.command);
    action->setEnabled(item.enabled);
  }
}

int QtTrayPeer::TrackPopupMenu(const std::vector<MenuItem>& items) {
  if (!icon_) return 0;
  if (collecting_) {
    FillMenu(menu_, items);
    for (QAction* action : menu_->actions()) {
      QObject::connect(action, &QAction::triggered, menu_, [this, action] {
        int command = action->data().toInt();
        // Delivered after the menu has closed, as TrackPopupMenu's caller would act on it.
        QMetaObject::invokeMethod(
            menu_,
            [this, command] {
              if (owner_ && owner_->IsCreated()) owner_->DeliverCommand(command);
            },
            Qt::QueuedConnection);
      });
    }
    return 0;
  }
  QMenu menu;
  FillMenu(&menu, items);
  QAction* chosen = menu.exec(QCursor::pos());
  return chosen ? chosen->data().toInt() : 0;
}

}  // namespace ui::qt
