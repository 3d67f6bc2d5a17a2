// Shared set-up of the Qt backend suites: the backend for the whole executable, and the fixture
// that plays the user through the X server for the shared dialog cases.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <optional>
#include <string>

#include "ui/backend.h"
#include "ui/dialog_contract.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/qt_internal.h"

namespace qt_test {

using ui::qt::QtBackend;
using ui::qt::QtDialogPeer;

// The one Qt backend of the test executable (Qt wants one application per process), made before
// the first test and destroyed after the last.
inline QtBackend* g_backend = nullptr;
class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    g_backend = static_cast<QtBackend*>(ui::qt::CreateQtBackend().release());
    ASSERT_NE(g_backend, nullptr) << "no display: run under Xvfb (run-with-xvfb.sh)";
  }
  void TearDown() override { delete g_backend; }
};
inline testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

inline QtDialogPeer* PeerOf(const ui::Dialog& d) { return static_cast<QtDialogPeer*>(d.peer()); }
inline QWidget* WindowOf(const ui::Dialog& d) { return PeerOf(d)->widget(); }
template <typename T>
T* Item(const ui::Dialog& d, int id) {
  return qobject_cast<T*>(PeerOf(d)->ItemWidget(id));
}

constexpr int kBoundMs = 10000;  // generous: the tests wait for conditions, not times

class QtTest : public ui_test::BackendFixture {
 protected:
  void SetUp() override {
    ASSERT_NE(g_backend, nullptr);
    ui::SetBackend(g_backend);
    g_backend->SetTrayHostForTesting(true);
  }
  void TearDown() override {
    // Windows released with deleteLater go before the next test.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    g_backend->SetTrayHostForTesting(std::nullopt);
    ui::SetBackend(nullptr);
  }

 public:
  // Shown and mapped by the X server, so that input reaches it.
  void Show(ui::Dialog& d) override {
    ASSERT_TRUE(d.ShowWindow(true));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(WindowOf(d), kBoundMs));
  }
  // A click through the window system (hit testing and modal blocking included).
  static void ClickAt(ui::Dialog& d, QWidget* item) {
    QPoint at = item->mapTo(WindowOf(d), item->rect().center());
    QTest::mouseClick(WindowOf(d)->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
  }
  void Click(ui::Dialog& d, int id) override { ClickAt(d, PeerOf(d)->ItemWidget(id)); }
  void Type(ui::Dialog& d, int id, const std::string& text) override {
    auto* edit = Item<QLineEdit>(d, id);
    if (auto* combo = Item<QComboBox>(d, id)) edit = combo->lineEdit();
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(text));
  }
  void Enter(ui::Dialog& d, int focus_id) override {
    d.SetFocusItem(focus_id);
    QTest::keyClick(PeerOf(d)->ItemWidget(focus_id), Qt::Key_Return);
  }
  void Escape(ui::Dialog& d) override { QTest::keyClick(WindowOf(d), Qt::Key_Escape); }
  void CloseBox(ui::Dialog& d) override { WindowOf(d)->close(); }
  void Step(ui::Dialog& d, int id, int delta) override {
    auto* arrows = dynamic_cast<ui::qt::UpDownWidget*>(PeerOf(d)->ItemWidget(id));
    ASSERT_NE(arrows, nullptr);
    ClickAt(d, delta < 0 ? arrows->up() : arrows->down());
  }
  void DoubleClick(ui::Dialog& d, int x, int y) override {
    QTest::mouseDClick(WindowOf(d)->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
  }
  // Once the box is open: records it, checks the icon that goes with its buttons, answers.
  void AnswerNextBox(const std::string&, ui::MessageBoxResult answer) override {
    WhenOpen<QMessageBox>(&QApplication::activeModalWidget, [this, answer](QMessageBox* box) {
      box_caption = box->windowTitle().toStdString();
      box_text = box->text().toStdString();
      bool question = answer != ui::MessageBoxResult::kOk;
      EXPECT_EQ(box->icon(), question ? QMessageBox::Question : QMessageBox::Information);
      box->button(answer == ui::MessageBoxResult::kYes  ? QMessageBox::Yes
                  : answer == ui::MessageBoxResult::kNo ? QMessageBox::No
                                                        : QMessageBox::Ok)
          ->click();
    });
  }
  void PickInNextMenu(int index, int) override {
    WhenOpen<QMenu>(&QApplication::activePopupWidget, [index](QMenu* menu) {
      for (int i = 0; i <= index; ++i) QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Return);
    });
  }
  // Runs the program's loop until done(), polled, or the bound.
  bool RunUntil(const std::function<bool()>& done) override {
    QTimer poll, bound;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (done()) ui::PostQuit(0);
    });
    QObject::connect(&bound, &QTimer::timeout, [] { ui::PostQuit(-1); });
    poll.start(5);
    bound.start(kBoundMs);
    return ui::RunMessageLoop() == 0 && done();
  }

  // Runs act on the first visible widget of type T that find() gives, from a poll.
  template <typename T, typename Act>
  static void WhenOpen(QWidget* (*find)(), Act act) {
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, find, act] {
      auto* w = qobject_cast<T*>(find());
      if (!w || !w->isVisible()) return;
      poll->deleteLater();
      act(w);
    });
    poll->start(10);
  }
};

}  // namespace qt_test
