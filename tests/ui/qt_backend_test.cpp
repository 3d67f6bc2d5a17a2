// The Qt backend under a real X server (Xvfb, the xcb platform): dialogs from templates in dialog
// units, the item operations on real widgets, input through the window system, timers, posts and
// sends from other threads, modal runs and message boxes.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QPointer>

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

TEST_F(QtTest, DialogFromTemplateHasItsControlsByIdWithTheirTextsAndPlaces) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  QWidget* w = WindowOf(d);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(d.inits, 1);
  EXPECT_FALSE(d.IsVisible());  // no visible style in the template
  EXPECT_EQ(w->windowTitle(), QString("测试窗口"));

  // The dialog font has the Chinese glyphs, and the units come from its metrics.
  QFontInfo font(w->font());
  EXPECT_TRUE(QFontMetrics(w->font()).inFont(QChar(0x8BFB))) << font.family().toStdString();
  const DialogUnits& u = PeerOf(d)->units();
  QFontMetrics metrics(w->font());
  EXPECT_LE(u.base_y, metrics.height());  // rows as compact as on Windows, not the CJK spacing
  EXPECT_GE(u.base_x, 4);
  EXPECT_LE(u.base_x, 9);
  EXPECT_EQ(d.GetClientRect(), (ui::Rect{0, 0, u.X(400), u.Y(200)}));
  EXPECT_EQ(Item<QPushButton>(d, 11)->geometry(),
            QRect(u.X(70), u.Y(10), u.X(120) - u.X(70), u.Y(24) - u.Y(10)));
  // The closed combo box is as tall as its text needs, not its 100-unit list.
  QComboBox* combo = Item<QComboBox>(d, 60);
  ASSERT_NE(combo, nullptr);
  EXPECT_LT(combo->height(), u.Y(100));
  EXPECT_TRUE(combo->isEditable());

  // Every kind is the widget it should be.
  EXPECT_NE(Item<QCheckBox>(d, 20), nullptr);
  EXPECT_NE(Item<QRadioButton>(d, 41), nullptr);
  EXPECT_NE(Item<QLineEdit>(d, 51), nullptr);
  EXPECT_NE(Item<QProgressBar>(d, 80), nullptr);
  EXPECT_NE(Item<QLabel>(d, 90), nullptr);
  EXPECT_NE(dynamic_cast<ui::qt::UpDownWidget*>(PeerOf(d)->ItemWidget(70)), nullptr);
  EXPECT_TRUE(Item<QPushButton>(d, 10)->isDefault());
  EXPECT_FALSE(Item<QPushButton>(d, 11)->isDefault());

  EXPECT_EQ(d.GetItemText(10), "启动");
  EXPECT_EQ(d.GetItemText(31), "仅USB");
  EXPECT_EQ(d.GetItemText(50), "600");  // loaded by the data exchange at initialisation
  // A digits-only edit refuses typed letters but takes any text from the program.
  QLineEdit* digits = Item<QLineEdit>(d, 50);
  digits->clear();
  QTest::keyClicks(digits, "3a0");
  EXPECT_EQ(d.GetItemText(50), "30");
  EXPECT_TRUE(d.SetItemText(50, "x1"));
  EXPECT_EQ(d.GetItemText(50), "x1");
  // A label shows reader text as it is, never as markup.
  EXPECT_TRUE(d.SetItemText(90, "<b>已连接</b>"));
  EXPECT_EQ(Item<QLabel>(d, 90)->textFormat(), Qt::PlainText);
  EXPECT_EQ(d.GetItemText(90), "<b>已连接</b>");

  EXPECT_TRUE(d.EnableItem(11, false));
  EXPECT_FALSE(Item<QPushButton>(d, 11)->isEnabled());
  EXPECT_FALSE(d.IsItemEnabled(11));
  EXPECT_FALSE(d.SetItemText(12345, "x"));
  EXPECT_FALSE(d.CheckItem(10, true));  // not a check box

  // Radio groups: the program may set any state; SetRadioIndex leaves one checked.
  EXPECT_TRUE(d.SetRadioIndex(30, 2));
  EXPECT_EQ(d.GetRadioIndex(30), 2);
  EXPECT_TRUE(Item<QRadioButton>(d, 32)->isChecked());
  EXPECT_FALSE(Item<QRadioButton>(d, 30)->isChecked());
  EXPECT_TRUE(d.SetRadioIndex(40, -1));
  EXPECT_EQ(d.GetRadioIndex(40), -1);

  // Combo box: entries in order, a selection puts its text into the edit field.
  EXPECT_EQ(d.ComboAddString(60, "自动"), 0);
  EXPECT_EQ(d.ComboGetCurSel(60), -1);  // adding selects nothing
  EXPECT_EQ(d.GetItemText(60), "");
  EXPECT_EQ(d.ComboAddString(60, "ttyACM0"), 1);
  EXPECT_TRUE(d.ComboSetCurSel(60, 1));
  EXPECT_EQ(d.ComboGetCurSel(60), 1);
  EXPECT_EQ(d.GetItemText(60), "ttyACM0");
  EXPECT_EQ(d.ComboGetString(60, 0), "自动");
  EXPECT_EQ(d.ComboGetCount(60), 2);
  // Typing into the edit field leaves no entry selected and adds none.
  QTest::keyClicks(combo->lineEdit(), "5");
  EXPECT_EQ(d.ComboGetCurSel(60), -1);
  EXPECT_EQ(d.GetItemText(60), "ttyACM05");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(d.ComboGetCount(60), 2);
  EXPECT_FALSE(d.ComboSetCurSel(60, 7));
  EXPECT_EQ(d.ComboGetCurSel(60), -1);
  EXPECT_EQ(d.GetItemText(60), "");
  EXPECT_TRUE(d.ComboResetContent(60));
  EXPECT_EQ(d.ComboGetCount(60), 0);

  // The up-down took the edit before it as its buddy and sits at its right edge.
  EXPECT_EQ(d.GetUpDownBuddy(70), 50);
  QRect edit = Item<QLineEdit>(d, 50)->geometry();
  QRect arrows = PeerOf(d)->ItemWidget(70)->geometry();
  EXPECT_EQ(arrows.left(), edit.right() + 1);
  EXPECT_EQ(arrows.height(), edit.height());
  EXPECT_EQ(edit.left() + edit.width() + arrows.width(), u.X(70));

  // Progress bar: position clamped to its range, and the phase line shown in the bar.
  EXPECT_TRUE(d.SetProgressPos(80, 40));
  EXPECT_EQ(d.GetProgressPos(80), 40);
  EXPECT_TRUE(d.SetProgressPos(80, 140));
  EXPECT_EQ(d.GetProgressPos(80), 100);
  EXPECT_TRUE(d.SetProgressRange(80, 0, 1000));
  EXPECT_TRUE(d.SetProgressPos(80, 140));
  EXPECT_EQ(d.GetProgressPos(80), 140);
  EXPECT_TRUE(PeerOf(d)->SetProgressText(80, "Target 00: Upgrading - Erase Phase (40%)..."));
  EXPECT_EQ(Item<QProgressBar>(d, 80)->text().toStdString(),
            "Target 00: Upgrading - Erase Phase (40%)...");
  EXPECT_EQ(d.GetItemText(80), "Target 00: Upgrading - Erase Phase (40%)...");
  EXPECT_TRUE(Item<QProgressBar>(d, 80)->isTextVisible());
  EXPECT_FALSE(PeerOf(d)->SetProgressText(90, "x"));

  // Icons: the program's ids load (ovra7_app_icons is linked), unknown ones fail.
  EXPECT_TRUE(d.SetIcon(131));
  EXPECT_FALSE(w->windowIcon().isNull());
  EXPECT_FALSE(d.SetIcon(4321));
  EXPECT_TRUE(d.SetCaption("读卡器设置"));
  EXPECT_EQ(w->windowTitle(), QString("读卡器设置"));

  d.DestroyWindow();
  EXPECT_FALSE(d.IsCreated());
  EXPECT_EQ(d.destroys, 1);
  EXPECT_EQ(d.GetItemText(10), "");
}

TEST_F(QtTest, InputThroughTheWindowSystemReachesTheControlsAndTheDialog) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ShowAndWait(d);
  EXPECT_TRUE(d.IsVisible());

  // A click on a radio button checks it alone in its group and arrives as a command.
  ClickAt(d, Item<QRadioButton>(d, 31));
  EXPECT_EQ(d.GetRadioIndex(30), 1);
  ClickAt(d, Item<QRadioButton>(d, 31));  // a second click keeps it checked
  EXPECT_EQ(d.GetRadioIndex(30), 1);
  // The check box sits inside the group box's frame: the frame lets the click through.
  ClickAt(d, Item<QCheckBox>(d, 20));
  EXPECT_TRUE(d.IsItemChecked(20));
  EXPECT_EQ(d.commands, (std::vector<int>{31, 31, 20}));

  // Up-down: the arrows and the arrow keys in the buddy step with the delta of the arrow.
  auto* arrows = dynamic_cast<ui::qt::UpDownWidget*>(PeerOf(d)->ItemWidget(70));
  ASSERT_NE(arrows, nullptr);
  ClickAt(d, arrows->up());
  ClickAt(d, arrows->down());
  QTest::keyClick(Item<QLineEdit>(d, 50), Qt::Key_Up);
  EXPECT_EQ(d.steps, (std::vector<std::pair<int, int>>{{70, -1}, {70, 1}, {70, -1}}));

  // Enter: a focused push button's command, else the default button's.
  d.commands.clear();
  QTest::keyClick(Item<QLineEdit>(d, 51), Qt::Key_Return);
  EXPECT_EQ(d.commands, std::vector<int>{10});
  d.EnableItem(10, false);
  QTest::keyClick(Item<QLineEdit>(d, 51), Qt::Key_Return);  // a disabled default does nothing
  EXPECT_EQ(d.commands, std::vector<int>{10});

  // A double click in the bottom-left corner, clear of every control, reaches the dialog in
  // client coordinates.
  QWindow* window = WindowOf(d)->windowHandle();
  ui::Rect client = d.GetClientRect();
  QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(3, client.bottom - 3));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d.double_clicks.empty(); }, kBoundMs));
  EXPECT_EQ(d.double_clicks[0], (std::pair<int, int>{3, client.bottom - 3}));

  // Escape hides a modeless dialog; it lives on.
  QTest::keyClick(WindowOf(d), Qt::Key_Escape);
  EXPECT_EQ(d.cancels, 1);
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(d.IsCreated());
  // So does the close box.
  ShowAndWait(d);
  WindowOf(d)->close();
  EXPECT_EQ(d.cancels, 2);
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(d.IsCreated());
}

TEST_F(QtTest, WindowRectangleHalvesAndDoublesKeepingItsPlace) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ShowAndWait(d);
  ui::Rect w = d.GetWindowRect();
  EXPECT_EQ(w.left, PeerOf(d)->units().X(0));
  ui::Rect half = w;
  half.right = w.left + w.Width() / 2;
  ASSERT_TRUE(d.MoveWindow(half));
  ASSERT_TRUE(QTest::qWaitFor([&] { return WindowOf(d)->width() == half.Width(); }, kBoundMs));
  EXPECT_EQ(d.GetWindowRect(), half);
  EXPECT_EQ(d.GetClientRect().Width(), half.Width());
  // A control now beyond the right edge is out of the user's reach (drawn outside).
  EXPECT_GT(Item<QPushButton>(d, 99)->geometry().left(), d.GetClientRect().right);
  ASSERT_TRUE(d.MoveWindow(w));
  EXPECT_EQ(d.GetWindowRect(), w);
}

TEST_F(QtTest, TimersPostsAndSendsArriveOnTheLoopThread) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  const std::thread::id loop = std::this_thread::get_id();
  std::atomic<intptr_t> sent{0};
  std::thread other;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case the loop never ends
    if (id == 1 && d.timers.size() == 2) {
      d.KillTimer(1);
      other = std::thread([&] {
        d.PostMessage(2031, 0, 5);
        d.PostDeviceChange(ui::kDeviceArrival);
        d.PostPowerBroadcast(ui::kPowerSuspend);
        sent = d.SendMessage(2030, 4, 0);  // answered only by the loop
        ui::PostQuit(7);
      });
    }
  };
  ASSERT_TRUE(d.SetTimer(1, 30));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  int code = ui::RunMessageLoop();
  if (other.joinable()) other.join();
  EXPECT_EQ(code, 7);
  EXPECT_EQ(d.timers, (std::vector<int>{1, 1}));
  // Posts and sends keep their order here: one queue carries them.
  EXPECT_EQ(d.messages, (std::vector<intptr_t>{5, 0}));
  EXPECT_EQ(sent, 2034);
  EXPECT_EQ(d.devices, std::vector<int>{ui::kDeviceArrival});
  EXPECT_EQ(d.powers, std::vector<int>{ui::kPowerSuspend});
  for (std::thread::id t : d.message_threads) EXPECT_EQ(t, loop);

  // Setting a running timer again restarts it with the new period; a killed one stays quiet.
  d.timers.clear();
  d.on_timer = [&](int id) {
    if (id == 3) ui::PostQuit(0);
  };
  ASSERT_TRUE(d.SetTimer(2, 20));
  ASSERT_TRUE(d.SetTimer(2, 60000));
  ASSERT_TRUE(d.SetTimer(3, 200));
  EXPECT_TRUE(d.KillTimer(9));
  EXPECT_FALSE(d.KillTimer(9));
  ui::RunMessageLoop();
  EXPECT_EQ(d.timers, std::vector<int>{3});

  // Once the loop has ended, no thread waits for it: a send answers -1, a post is refused.
  intptr_t late = 0;
  bool posted = true;
  std::thread([&] {
    late = d.SendMessage(2030, 1, 0);
    posted = d.PostMessage(2031, 0, 1);
  }).join();
  EXPECT_EQ(late, -1);
  EXPECT_FALSE(posted);
}

TEST_F(QtTest, SendsAreServedDuringAMessageBoxAndFailOnceTheWindowIsGone) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::atomic<intptr_t> during{0};
  std::thread sender;
  BoxSeen seen;
  ui::MessageBoxResult answer = ui::MessageBoxResult::kNo;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);
    if (id != 1) return;
    d.KillTimer(1);
    // While the box waits for the user, another thread's send is still served.
    sender = std::thread([&] {
      during = d.SendMessage(2030, 2, 0);
      QMetaObject::invokeMethod(qApp, [&seen] { AnswerNextBox(QMessageBox::Yes, &seen); },
                                Qt::QueuedConnection);
    });
    answer = d.MessageBox("继续吗?", ui::MessageBoxButtons::kYesNo);
    ui::PostQuit(0);
  };
  ASSERT_TRUE(d.SetTimer(1, 10));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  ui::RunMessageLoop();
  sender.join();
  EXPECT_EQ(during, 2032);
  EXPECT_EQ(answer, ui::MessageBoxResult::kYes);
  EXPECT_EQ(seen.title, QString("提示"));

  // A window that is gone answers no send; its queued calls are dropped, not run.
  d.DestroyWindow();
  intptr_t after = 0;
  std::thread([&] { after = d.SendMessage(2030, 1, 0); }).join();
  EXPECT_EQ(after, -1);
  EXPECT_FALSE(d.PostMessage(2031, 0, 1));
}

TEST_F(QtTest, QuestionBoxCarriesItsCaptionIconAndAnswer) {
  BoxSeen seen;
  AnswerNextBox(QMessageBox::Yes, &seen);
  EXPECT_EQ(ui::ShowMessageBox("继续吗?", ui::MessageBoxButtons::kYesNo),
            ui::MessageBoxResult::kYes);
  EXPECT_EQ(seen.title, QString("提示"));
  EXPECT_EQ(seen.text, QString("继续吗?"));
  EXPECT_EQ(seen.icon, QMessageBox::Question);

  AnswerNextBox(QMessageBox::No, &seen);
  EXPECT_EQ(ui::ShowMessageBox("退出吗?", ui::MessageBoxButtons::kYesNo),
            ui::MessageBoxResult::kNo);

  // An OK box of a window: the application's name as caption, its text as plain text.
  TestDialog d;
  ASSERT_TRUE(d.Create());
  AnswerNextBox(QMessageBox::Ok, &seen);
  EXPECT_EQ(d.MessageBox("<i>设置心跳间隔成功</i>"), ui::MessageBoxResult::kOk);
  EXPECT_EQ(seen.title.toStdString(), ui::ApplicationName());
  EXPECT_EQ(seen.text, QString("<i>设置心跳间隔成功</i>"));
  EXPECT_EQ(seen.icon, QMessageBox::Information);
}

TEST_F(QtTest, DataExchangeOutOfRangeTellsTheUserAndFocusesTheField) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ShowAndWait(d);
  QLineEdit* usb = Item<QLineEdit>(d, 50);
  usb->clear();
  QTest::keyClicks(usb, "30");
  BoxSeen seen;
  AnswerNextBox(QMessageBox::Ok, &seen);
  EXPECT_FALSE(d.UpdateData(true));
  EXPECT_EQ(seen.text.toStdString(), ui::RangeMessage(60, 600));
  EXPECT_EQ(d.GetFocusItem(), 50);
  EXPECT_EQ(usb->selectedText(), QString("30"));
  EXPECT_EQ(d.usb, 600);  // the field keeps its value
  usb->setText("120");
  EXPECT_TRUE(d.UpdateData(true));
  EXPECT_EQ(d.usb, 120);
}

TEST_F(QtTest, ModalRunBlocksTheOtherWindowsAndEndsWithTheCodeGiven) {
  struct Arming : TestDialog {
    bool OnInitDialog() override {
      SetTimer(4, 50);
      return TestDialog::OnInitDialog();
    }
  } modal;
  TestDialog main_window;
  ASSERT_TRUE(main_window.Create());
  ShowAndWait(main_window);
  bool was_modal = false;
  modal.on_timer = [&](int id) {
    if (id != 4) return;
    modal.KillTimer(4);
    was_modal = QApplication::activeModalWidget() == WindowOf(modal);
    // The user clicks a button of the other window: the modal run keeps it from arriving.
    ClickAt(main_window, Item<QPushButton>(main_window, 11));
    QCoreApplication::processEvents();
    modal.EndDialog(42);
  };
  EXPECT_EQ(modal.DoModal(), 42);
  EXPECT_TRUE(was_modal);
  EXPECT_TRUE(main_window.commands.empty());
  EXPECT_FALSE(modal.IsCreated());
  EXPECT_EQ(modal.destroys, 1);
  // After the run the other window takes input again.
  ClickAt(main_window, Item<QPushButton>(main_window, 11));
  EXPECT_EQ(main_window.commands, std::vector<int>{11});

  // Escape ends a modal run with kIdCancel.
  struct Escaping : TestDialog {
    bool OnInitDialog() override {
      QTimer::singleShot(0, [this] { QTest::keyClick(WindowOf(*this), Qt::Key_Escape); });
      return TestDialog::OnInitDialog();
    }
  } escaping;
  EXPECT_EQ(escaping.DoModal(), ui::kIdCancel);
}

TEST_F(QtTest, QuitWhileAMessageBoxIsOpenEndsTheLoopAndTheBoxSaysNo) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::thread quitter;
  ui::MessageBoxResult answer = ui::MessageBoxResult::kYes;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case the request is lost
    if (id != 1) return;
    d.KillTimer(1);
    // Once the box runs its loop, another thread asks the program to quit.
    QTimer::singleShot(0, [&] { quitter = std::thread([] { ui::PostQuit(5); }); });
    answer = d.MessageBox("是否退出?", ui::MessageBoxButtons::kYesNo);
  };
  ASSERT_TRUE(d.SetTimer(1, 20));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  int code = ui::RunMessageLoop();
  quitter.join();
  EXPECT_EQ(code, 5);
  EXPECT_EQ(answer, ui::MessageBoxResult::kNo);
}

// The window goes (the program is ending: a signal, the session closing, the tray's exit) while
// one of its message boxes waits for the user: the box closes, says No, and the window's going
// takes nothing of the box's with it.
TEST_F(QtTest, WindowDestroyedWhileItsMessageBoxIsOpenClosesTheBoxFirst) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ShowAndWait(d);
  ui::MessageBoxResult answer = ui::MessageBoxResult::kYes;
  bool box_was_open = false;
  QTimer bound;  // in case the box never closes (the window's own timers go with it)
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] { ui::PostQuit(-1); });
  bound.start(15000);
  d.on_timer = [&](int id) {
    if (id != 1) return;
    d.KillTimer(1);
    // Once the box is up, the window is destroyed from inside the box's own loop.
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &d, &box_was_open] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      box_was_open = box->parentWidget() == WindowOf(d);
      poll->deleteLater();
      d.DestroyWindow();
    });
    poll->start(10);
    answer = d.MessageBox("是否退出?", ui::MessageBoxButtons::kYesNo);
    ui::PostQuit(3);
  };
  ASSERT_TRUE(d.SetTimer(1, 20));
  EXPECT_EQ(ui::RunMessageLoop(), 3);
  EXPECT_TRUE(box_was_open);
  EXPECT_EQ(answer, ui::MessageBoxResult::kNo);
  EXPECT_FALSE(d.IsCreated());
  EXPECT_EQ(d.destroys, 1);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A quit asked for while a message box runs before the program's loop (a signal during a box at
// start-up) is not lost: the box closes, and the loop, once it starts, ends at once with the code.
TEST_F(QtTest, QuitDuringABoxBeforeTheLoopEndsTheLoopWhenItStarts) {
  g_backend->AsBeforeTheFirstLoopForTesting();  // earlier tests' loops have ended
  std::thread quitter;
  QTimer::singleShot(0, [&] { quitter = std::thread([] { ui::PostQuit(6); }); });
  EXPECT_EQ(ui::ShowMessageBox("程序已启动", ui::MessageBoxButtons::kOk),
            ui::MessageBoxResult::kOk);
  quitter.join();
  TestDialog d;
  ASSERT_TRUE(d.Create());
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case the request was lost
  };
  ASSERT_TRUE(d.SetTimer(9, 15000));
  EXPECT_EQ(ui::RunMessageLoop(), 6);
  EXPECT_TRUE(d.timers.empty());
  // Honoured once: the next loop runs until its own quit.
  d.on_timer = [&](int id) { ui::PostQuit(id); };
  ASSERT_TRUE(d.SetTimer(2, 20));
  EXPECT_EQ(ui::RunMessageLoop(), 2);
}

// Once a loop has ended, a quit from another thread has nothing left to end: the next loop runs
// until its own.
TEST_F(QtTest, AQuitAfterTheLoopHasEndedIsDropped) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  d.on_timer = [&](int id) {
    d.KillTimer(id);
    ui::PostQuit(id);
  };
  ASSERT_TRUE(d.SetTimer(1, 10));
  EXPECT_EQ(ui::RunMessageLoop(), 1);
  std::thread([] { ui::PostQuit(8); }).join();
  ASSERT_TRUE(d.SetTimer(2, 30));
  EXPECT_EQ(ui::RunMessageLoop(), 2);
  EXPECT_EQ(d.timers, (std::vector<int>{1, 2}));
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

// Without a tray host hiding minimises the window, so it gets the minimise box to match, also
// when its template has none and when it is already shown.
TEST_F(QtTest, WithoutATrayHostTheWindowGetsAMinimiseBox) {
  g_backend->SetTrayHostForTesting(false);
  struct WithIcon : TestDialog {
    ui::TrayIcon icon;
    bool OnInitDialog() override {
      TestDialog::OnInitDialog();
      icon.Add(*this, 131, 131, "读卡服务");
      return true;
    }
  } d;
  ASSERT_TRUE(d.Create());
  EXPECT_TRUE(WindowOf(d)->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(WindowOf(d)->isVisible());

  TestDialog shown;
  ASSERT_TRUE(shown.Create());
  ShowAndWait(shown);
  EXPECT_FALSE(WindowOf(shown)->windowFlags() & Qt::WindowMinimizeButtonHint);
  ui::TrayIcon late;
  ASSERT_TRUE(late.Add(shown, 132, 131, "读卡服务"));
  EXPECT_TRUE(WindowOf(shown)->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(WindowOf(shown)->isVisible());  // new flags hide a window: shown again
  ASSERT_TRUE(shown.ShowWindow(false));
  EXPECT_TRUE(WindowOf(shown)->isMinimized());
}

// The suite has no session bus at all, not merely none named: where dbus-x11 is installed,
// libdbus launches a bus for a process that names none, and what Qt does with it (the tray
// protocol, libdbus's own threads under the sanitizers) would depend on the machine.
TEST(QtSuiteEnvironment, HasTheSessionBusDisabled) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_STREQ(bus ? bus : "(unset)", "disabled:");
}

}  // namespace
