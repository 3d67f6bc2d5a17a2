// The Qt backend's tray icon: its image, the context menu the owner fills, and the window that
// must stay reachable when the desktop has no tray.
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
  ui::qt::QtTrayPeer* Peer() const {
    for (ui::qt::QtTrayPeer* t : g_backend->trays()) {
      if (t->owner() == this) return t;
    }
    return nullptr;
  }
};

TEST_F(QtTest, TrayIconShowsTheImageOfItsId) {
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  EXPECT_FALSE(d.IsVisible());  // a tray host is there: the window stays hidden
  ASSERT_NE(d.Peer(), nullptr);
  QSystemTrayIcon* icon = d.Peer()->icon();
  EXPECT_TRUE(icon->isVisible());
  EXPECT_EQ(icon->toolTip(), QString("读卡服务"));
  EXPECT_FALSE(icon->icon().isNull());
  qint64 app_image = icon->icon().cacheKey();
  ASSERT_TRUE(d.icon.Modify(134, "读卡服务(USB模式)"));
  EXPECT_EQ(icon->toolTip(), QString("读卡服务(USB模式)"));
  EXPECT_NE(icon->icon().cacheKey(), app_image);
}

// StatusNotifier hosts read the menu over D-Bus, maybe before any opening, and click by the ids
// Qt gives each action: the actions are there from the start and change only in place. An
// opening runs the owner's right-click handler; the choice arrives once the menu has closed.
TEST_F(QtTest, TrayMenuIsFilledBeforeItOpensChangesInPlaceAndDeliversTheChoiceAfterClosing) {
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  QMenu* menu = d.Peer()->menu();
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[1]->text(), QString("启动"));
  EXPECT_FALSE(actions[1]->isEnabled());

  menu->popup(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu, kBoundMs));
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseRightUp}}));
  QTest::keyClick(menu, Qt::Key_Down);
  QTest::keyClick(menu, Qt::Key_Down);  // skips the disabled item
  QTest::keyClick(menu, Qt::Key_Return);
  EXPECT_TRUE(d.commands.empty());  // not while the menu is still closing
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.commands.empty(); }, kBoundMs));
  EXPECT_EQ(d.commands, std::vector<int>{2027});

  // The service stops: the same actions change state, also at the next opening.
  d.items[1].enabled = true;
  d.items[2].enabled = false;
  ASSERT_TRUE(d.icon.SetMenu(d.items));
  menu->popup(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu, kBoundMs));
  QTest::keyClick(menu, Qt::Key_Escape);  // dismissed: nothing
  ASSERT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, kBoundMs));
  EXPECT_EQ(menu->actions(), actions);
  EXPECT_TRUE(actions[1]->isEnabled());
  actions[2]->trigger();  // disabled: nothing
  actions[1]->trigger();  // a host clicks an id it read at the start
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.commands.size() == 2; }, kBoundMs));
  EXPECT_EQ(d.commands, (std::vector<int>{2027, 2026}));

  // A shorter menu keeps the leading actions and drops the rest.
  ASSERT_TRUE(d.icon.SetMenu({{2028, "设置"}, {2029, "退出"}}));
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(menu->actions()[1], actions[1]);
  EXPECT_EQ(actions[1]->text(), QString("退出"));
}

// Without a tray host, hiding minimises a window with a tray icon (it gets the minimise box for
// it, also when already shown); the window is shown at the end of its creation.
TEST_F(QtTest, WithoutATrayHostTheOwnerStaysReachableAndHidingMinimises) {
  g_backend->SetTrayHostForTesting(false);
  TrayDialog d;
  ASSERT_TRUE(d.Create());
  EXPECT_TRUE(WindowOf(d)->windowFlags() & Qt::WindowMinimizeButtonHint);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(WindowOf(d), kBoundMs));
  EXPECT_TRUE(d.IsVisible());
  Escape(d);
  EXPECT_TRUE(WindowOf(d)->isMinimized());
  EXPECT_FALSE(d.IsVisible());
  ASSERT_TRUE(d.ShowWindow(true));  // a second start, the tray click
  EXPECT_FALSE(WindowOf(d)->isMinimized());

  TestDialog plain;  // without an icon it hides as usual
  ASSERT_TRUE(plain.Create());
  Show(plain);
  EXPECT_FALSE(WindowOf(plain)->windowFlags() & Qt::WindowMinimizeButtonHint);
  ASSERT_TRUE(plain.ShowWindow(false));
  EXPECT_FALSE(WindowOf(plain)->isVisible());
  Show(plain);
  ui::TrayIcon late;
  ASSERT_TRUE(late.Add(plain, 132, 131, "读卡服务"));
  EXPECT_TRUE(WindowOf(plain)->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(WindowOf(plain)->isVisible());  // new flags hide a window: shown again
  ASSERT_TRUE(plain.ShowWindow(false));
  EXPECT_TRUE(WindowOf(plain)->isMinimized());
}

}  // namespace
