// The Qt backend under a real X server (Xvfb, the xcb platform): the shared dialog cases, then
// what is Qt's own: widgets and places in dialog units, quits and windows going while a box is
// open, signals of a destroyed window, the window without a tray host.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "ui/qt_fixture.h"
#include "ui/test_dialog.h"
#include "ui/tray_icon.h"

namespace {

using namespace qt_test;
using ui::qt::DialogUnits;
using ui_test::TestDialog;

TEST(QtDialogUnits, RoundAsWindowsMapDialogRectDoes) {
  DialogUnits u{6, 13};  // MS Shell Dlg 8 pt at 96 dpi
  EXPECT_EQ(u.X(10), 15);
  EXPECT_EQ(u.X(613), 920);  // 919.5 rounds up
  EXPECT_EQ(u.Y(4), 7);      // 6.5 rounds up
  EXPECT_EQ(u.Y(10), 16);    // 16.25 rounds down
  EXPECT_EQ(u.Y(357), 580);
  EXPECT_EQ(u.X(-3), -5);  // -4.5 rounds away from zero
}

DIALOG_CONTRACT_TESTS(QtTest)

TEST_F(QtTest, TemplateBecomesWidgetsInDialogUnitsOfAFontWithTheChineseGlyphs) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  QWidget* w = WindowOf(d);
  EXPECT_TRUE(QFontMetrics(w->font()).inFont(QChar(0x8BFB)))
      << QFontInfo(w->font()).family().toStdString();
  const DialogUnits& u = PeerOf(d)->units();
  EXPECT_LE(u.base_y, QFontMetrics(w->font()).height());  // rows as compact as on Windows
  EXPECT_GE(u.base_x, 4);
  EXPECT_LE(u.base_x, 9);
  EXPECT_EQ(d.GetClientRect(), (ui::Rect{0, 0, u.X(400), u.Y(200)}));
  EXPECT_EQ(Item<QPushButton>(d, 11)->geometry(),
            QRect(u.X(70), u.Y(10), u.X(120) - u.X(70), u.Y(24) - u.Y(10)));
  QComboBox* combo = Item<QComboBox>(d, 60);
  ASSERT_NE(combo, nullptr);
  EXPECT_LT(combo->height(), u.Y(100));  // closed, as tall as its text, not its list
  EXPECT_TRUE(combo->isEditable());
  EXPECT_FALSE(d.CheckItem(10, true));          // not a check box

  // The up-down took the edit before it as its buddy and sits at its right edge.
  EXPECT_EQ(d.GetUpDownBuddy(70), 50);
  QRect edit = Item<QLineEdit>(d, 50)->geometry();
  QRect arrows = PeerOf(d)->ItemWidget(70)->geometry();
  EXPECT_EQ(arrows.left(), edit.right() + 1);
  EXPECT_EQ(arrows.height(), edit.height());
  EXPECT_EQ(edit.left() + edit.width() + arrows.width(), u.X(70));
  // The arrow keys in the buddy step as the arrows do.
  QTest::keyClick(Item<QLineEdit>(d, 50), Qt::Key_Up);
  QTest::keyClick(Item<QLineEdit>(d, 50), Qt::Key_Down);
  EXPECT_EQ(d.steps, (std::vector<std::pair<int, int>>{{70, -1}, {70, 1}}));

  // The program may put any text into a digits-only edit; a label shows text, never markup.
  EXPECT_TRUE(d.SetItemText(50, "x1"));
  EXPECT_EQ(d.GetItemText(50), "x1");
  EXPECT_TRUE(d.SetItemText(90, "<b>已连接</b>"));
  EXPECT_EQ(Item<QLabel>(d, 90)->textFormat(), Qt::PlainText);
  // Typing into the combo box's edit field leaves no entry selected and adds none.
  d.ComboAddString(60, "ttyACM0");
  d.ComboSetCurSel(60, 0);
  QTest::keyClicks(combo->lineEdit(), "5");
  EXPECT_EQ(d.ComboGetCurSel(60), -1);
  EXPECT_EQ(d.GetItemText(60), "ttyACM05");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(d.ComboGetCount(60), 1);
  EXPECT_FALSE(d.ComboSetCurSel(60, 7));
  EXPECT_EQ(d.GetItemText(60), "");
  // The bar shows its phase line.
  EXPECT_TRUE(d.SetProgressText(80, "Erase Phase (40%)..."));
  EXPECT_EQ(Item<QProgressBar>(d, 80)->text().toStdString(), "Erase Phase (40%)...");
  EXPECT_TRUE(Item<QProgressBar>(d, 80)->isTextVisible());
  // Icons: the program's ids load (ovra7_app_icons is linked), unknown ones fail.
  EXPECT_TRUE(d.SetIcon(131));
  EXPECT_FALSE(w->windowIcon().isNull());
  EXPECT_FALSE(d.SetIcon(4321));

  ui::DialogTemplate bold = ui_test::TestTemplate();  // the template's font weight is kept
  bold.font_weight = 700;
  TestDialog heavy(bold);
  ASSERT_TRUE(heavy.Create());
  EXPECT_EQ(WindowOf(heavy)->font().weight(), QFont::Bold);

  // A field out of range is selected for retyping.
  Show(d);
  Type(d, 50, "30");
  AnswerNextBox("", ui::MessageBoxResult::kOk);
  EXPECT_FALSE(d.UpdateData(true));
  EXPECT_EQ(Item<QLineEdit>(d, 50)->selectedText(), QString("30"));
}

// While a box waits for the user, other threads' sends are served; a quit closes the box, which
// then says No, and ends the loop.
TEST_F(QtTest, WhileABoxWaitsSendsAreServedAndAQuitClosesItSayingNo) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::atomic<intptr_t> during{0};
  std::thread other;
  ui::MessageBoxResult answer = ui::MessageBoxResult::kYes;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case a request is lost
    if (id != 1) return;
    d.KillTimer(1);
    QTimer::singleShot(0, [&] {  // once the box runs its loop
      other = std::thread([&] {
        during = d.SendMessage(2030, 2, 0);
        ui::PostQuit(5);
      });
    });
    answer = d.MessageBox("是否退出?", ui::MessageBoxButtons::kYesNo);
  };
  ASSERT_TRUE(d.SetTimer(1, 20));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  EXPECT_EQ(ui::RunMessageLoop(), 5);
  if (other.joinable()) other.join();
  EXPECT_EQ(during, 2032);
  EXPECT_EQ(answer, ui::MessageBoxResult::kNo);
}

// The window goes (the program is ending: a signal, the session closing, the tray's exit) while
// one of its message boxes waits for the user: the box closes, says No, and the window's going
// takes nothing of the box's with it.
TEST_F(QtTest, WindowDestroyedWhileItsMessageBoxIsOpenClosesTheBoxFirst) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  Show(d);
  ui::MessageBoxResult answer = ui::MessageBoxResult::kYes;
  bool box_was_open = false, returned = false;
  d.on_timer = [&](int) {
    d.KillTimer(1);
    WhenOpen<QMessageBox>(&QApplication::activeModalWidget, [&](QMessageBox* box) {
      box_was_open = box->parentWidget() == WindowOf(d);
      d.DestroyWindow();  // from inside the box's own loop
    });
    answer = d.MessageBox("是否退出?", ui::MessageBoxButtons::kYesNo);
    returned = true;
  };
  ASSERT_TRUE(d.SetTimer(1, 20));
  EXPECT_TRUE(RunUntil([&] { return returned; }));
  EXPECT_TRUE(box_was_open);
  EXPECT_EQ(answer, ui::MessageBoxResult::kNo);
  EXPECT_EQ(d.destroys, 1);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A quit asked for while a box runs before the program's loop (a signal during a box at start-up)
// is not lost: the loop, once it starts, ends at once. One asked for once a loop has ended has
// nothing left to end: the next loop runs until its own.
TEST_F(QtTest, AQuitBeforeTheLoopEndsItWhenItStartsAndOneAfterALoopIsDropped) {
  g_backend->AsBeforeTheFirstLoopForTesting();  // earlier tests' loops have ended
  std::thread quitter;
  QTimer::singleShot(0, [&] { quitter = std::thread([] { ui::PostQuit(6); }); });
  EXPECT_EQ(ui::ShowMessageBox("程序已启动"), ui::MessageBoxResult::kOk);
  quitter.join();
  TestDialog d;
  ASSERT_TRUE(d.Create());
  d.on_timer = [&](int id) {
    d.KillTimer(id);
    ui::PostQuit(id);
  };
  ASSERT_TRUE(d.SetTimer(9, 15000));  // a bound in case the request was lost
  EXPECT_EQ(ui::RunMessageLoop(), 6);
  EXPECT_TRUE(d.timers.empty());
  d.KillTimer(9);
  std::thread([] { ui::PostQuit(8); }).join();
  ASSERT_TRUE(d.SetTimer(2, 20));
  EXPECT_EQ(ui::RunMessageLoop(), 2);
}

// A modal run comes to the front, also over a window raised after it was made.
TEST_F(QtTest, ModalRunComesToTheFront) {
  TestDialog main_window;
  ASSERT_TRUE(main_window.Create());
  Show(main_window);
  struct Covered : TestDialog {
    QWidget* cover = nullptr;
    bool OnInitDialog() override {
      WindowOf(*this)->winId();  // made on the screen now, then covered
      cover->raise();
      return TestDialog::OnInitDialog();
    }
  } modal;
  modal.cover = WindowOf(main_window);
  modal.arm_timer = 4;
  bool in_front = false;
  modal.on_timer = [&](int) {
    modal.KillTimer(4);
    QWidget* w = WindowOf(modal);
    QPoint centre = w->mapToGlobal(w->rect().center());
    in_front = QTest::qWaitFor(
        [&] { return QGuiApplication::topLevelAt(centre) == w->windowHandle(); }, kBoundMs);
    modal.EndDialog(1);
  };
  EXPECT_EQ(modal.DoModal(), 1);
  EXPECT_TRUE(in_front);
}

// The window outlives Destroy until its deferred delete. Its controls' signals (a click queued
// behind the one that ended the window) reach neither the dialog nor, once that has gone with
// its peer, freed memory.
TEST_F(QtTest, ControlsOfADestroyedWindowReachNeitherItsDialogNorItsPeer) {
  QPointer<QPushButton> button;
  QPointer<QRadioButton> radio;
  QPointer<QToolButton> arrow;
  {
    TestDialog d;
    ASSERT_TRUE(d.Create());
    button = Item<QPushButton>(d, 11);
    radio = Item<QRadioButton>(d, 31);
    arrow = static_cast<ui::qt::UpDownWidget*>(PeerOf(d)->ItemWidget(70))->up();
    d.DestroyWindow();
    ASSERT_TRUE(button && radio && arrow);
    button->click();
    radio->click();
    arrow->click();
    EXPECT_TRUE(d.commands.empty());
    EXPECT_TRUE(d.steps.empty());
  }
  ASSERT_TRUE(button && radio && arrow);  // the window is still there, its dialog and peer not
  button->click();
  radio->click();
  arrow->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(button);
}

// The suite has no session bus at all, not merely none named: where dbus-x11 is installed,
// libdbus launches a bus for a process that names none, and what Qt does with it (the tray
// protocol, libdbus's own threads under the sanitizers) would depend on the machine.
TEST(QtSuiteEnvironment, HasTheSessionBusDisabled) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_STREQ(bus ? bus : "(unset)", "disabled:");
}

}  // namespace
