// The Qt backend's tray icon: tip and image, the mouse as the tray host reports it, the context
// menu filled by the owner, the waiting popup menu, and the window that must stay reachable when
// the desktop has no tray.
#include <QMenu>
#include <QSystemTrayIcon>

#include "ui/qt_fixture.h"
#include "ui/test_dialog.h"
#include "ui/tray_icon.h"

namespace {

using namespace qt_test;
using ui_test::TestDialog;

// A window with a tray icon whose right-click handler offers a menu, as the main window does.
struct TrayDialog : TestDialog {
  ui::TrayIcon icon;
  std::vector<ui::MenuItem> items = {{2028, "设置"}, {2026, "启动", false}, {2027, "停止"}};
  bool OnInitDialog() override {
    TestDialog::OnInitDialog();
    icon.Add(*this, 131, 131, "读卡服务");
    icon.SetMenu(items);
    return true;
  }
  void OnTrayNotify(int icon_id, int mouse) override {
    TestDialog::OnTrayNotify(icon_id, mouse);
    if (mouse != ui::kMouseRightUp) return;
    int command = icon.TrackPopupMenu(items);
    if (command != 0) OnCommand(command);
  }
};

ui::qt::QtTrayPeer* TrayPeerOf(const TrayDialog& d) {
  for (ui::qt::QtTrayPeer* t : g_backend->trays()) {
    if (t->owner() == &d) return t;
  }
  return nullptr;
}

TEST_F(QtTest, TrayIconCarriesTipAndImageAndReportsTheMouse) {
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  EXPECT_FALSE(d.IsVisible());  // a tray host is there: the window stays hidden
  ui::qt::QtTrayPeer* tray = TrayPeerOf(d);
  ASSERT_NE(tray, nullptr);
  QSystemTrayIcon* icon = tray->icon();
  EXPECT_TRUE(icon->isVisible());
  EXPECT_EQ(icon->toolTip(), QString("读卡服务"));
  qint64 app_image = icon->icon().cacheKey();
  EXPECT_FALSE(icon->icon().isNull());
  ASSERT_TRUE(d.icon.Modify(134, "读卡服务(USB模式)"));
  EXPECT_EQ(icon->toolTip(), QString("读卡服务(USB模式)"));
  EXPECT_NE(icon->icon().cacheKey(), app_image);
  EXPECT_EQ(tray->icon_id(), 134);

  // A left click and a double click, as the tray host reports them.
  emit icon->activated(QSystemTrayIcon::Trigger);
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseLeftDown},
                                                      {131, ui::kMouseLeftDoubleClick}}));
  EXPECT_TRUE(d.icon.Remove());
  EXPECT_FALSE(d.icon.IsAdded());
  EXPECT_FALSE(d.icon.Modify(131, "读卡服务"));
}

TEST_F(QtTest, TrayContextMenuHoldsTheOwnersItemsAndDeliversTheChoiceAfterItCloses) {
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  QMenu* menu = TrayPeerOf(d)->menu();
  ASSERT_NE(menu, nullptr);
  // The tray host opens the menu: the owner's right-click handler fills it.
  menu->popup(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu, kBoundMs));
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseRightUp}}));
  QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), QString("设置"));
  EXPECT_TRUE(actions[0]->isEnabled());
  EXPECT_FALSE(actions[1]->isEnabled());  // "启动" while the service runs
  EXPECT_TRUE(d.commands.empty());
  // Down twice skips the disabled item.
  QTest::keyClick(menu, Qt::Key_Down);
  QTest::keyClick(menu, Qt::Key_Down);
  QTest::keyClick(menu, Qt::Key_Return);
  EXPECT_TRUE(d.commands.empty());  // not while the menu is still closing
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.commands.empty(); }, kBoundMs));
  EXPECT_EQ(d.commands, std::vector<int>{2027});
  EXPECT_FALSE(menu->isVisible());

  // The next opening shows the state of that moment.
  d.items[1].enabled = true;
  menu->popup(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu, kBoundMs));
  EXPECT_TRUE(menu->actions()[1]->isEnabled());
  QTest::keyClick(menu, Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_EQ(d.commands, std::vector<int>{2027});  // dismissed: nothing
}

// StatusNotifier hosts read the menu over D-Bus, maybe before any opening, and click by the ids
// Qt gives each action: the actions are there from the start and stay the same objects.
TEST_F(QtTest, TrayMenuIsFilledBeforeItsFirstOpeningAndChangesOnlyInPlace) {
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  QMenu* menu = TrayPeerOf(d)->menu();
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), QString("设置"));
  EXPECT_EQ(actions[1]->text(), QString("启动"));
  EXPECT_FALSE(actions[1]->isEnabled());
  EXPECT_TRUE(actions[2]->isEnabled());

  // The service stops: the same actions change state.
  d.items[1].enabled = true;
  d.items[2].enabled = false;
  ASSERT_TRUE(d.icon.SetMenu(d.items));
  EXPECT_EQ(menu->actions(), actions);
  EXPECT_TRUE(actions[1]->isEnabled());
  EXPECT_FALSE(actions[2]->isEnabled());

  // Two openings, each running the owner's right-click handler: still the same actions.
  for (int opening = 0; opening < 2; ++opening) {
    menu->popup(QPoint(100, 100));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu, kBoundMs));
    QTest::keyClick(menu, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, kBoundMs));
  }
  EXPECT_EQ(d.tray.size(), 2u);
  EXPECT_EQ(menu->actions(), actions);

  // A click on an action known since the start (as a host clicks an id it read then).
  actions[1]->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.commands.empty(); }, kBoundMs));
  EXPECT_EQ(d.commands, std::vector<int>{2026});
  actions[2]->trigger();  // disabled: nothing
  QCoreApplication::processEvents();
  EXPECT_EQ(d.commands, std::vector<int>{2026});

  // A shorter menu keeps the leading actions and drops the rest.
  ASSERT_TRUE(d.icon.SetMenu({{2028, "设置"}, {2029, "退出"}}));
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[1], actions[1]);
  EXPECT_EQ(actions[1]->text(), QString("退出"));
}

TEST_F(QtTest, PopupMenuOutsideTheTrayHostWaitsAndReturnsTheChosenCommand) {
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  int keys_sent = 0;
  auto* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !menu->isVisible()) return;
    poll->deleteLater();
    ++keys_sent;
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  poll->start(10);
  int chosen = d.icon.TrackPopupMenu({{2028, "设置"}, {2026, "启动"}, {2027, "停止"}});
  EXPECT_EQ(keys_sent, 1);
  EXPECT_EQ(chosen, 2026);
}

TEST_F(QtTest, WithoutATrayHostTheOwnerStaysReachableAndHidingMinimises) {
  g_backend->SetTrayHostForTesting(false);
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  // Shown at the end of its creation, with the size its initialisation gave it.
  EXPECT_TRUE(WindowOf(d)->isVisible());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(WindowOf(d), kBoundMs));
  EXPECT_TRUE(d.IsVisible());
  // The close box (here Escape) minimises instead of hiding.
  QTest::keyClick(WindowOf(d), Qt::Key_Escape);
  EXPECT_TRUE(WindowOf(d)->isMinimized());
  EXPECT_FALSE(d.IsVisible());
  // A show (a second start, the tray click) brings it back.
  ASSERT_TRUE(d.ShowWindow(true));
  EXPECT_FALSE(WindowOf(d)->isMinimized());
  EXPECT_TRUE(d.IsVisible());

  // A window without a tray icon hides as usual.
  TestDialog plain;
  ASSERT_TRUE(plain.Create());
  Show(plain);
  ASSERT_TRUE(plain.ShowWindow(false));
  EXPECT_FALSE(WindowOf(plain)->isVisible());
  EXPECT_FALSE(WindowOf(plain)->isMinimized());
}

}  // namespace
