// Shared set-up of the Qt backend suites: the backend for the whole executable, and a fixture with
// the ways a test waits for the window system and plays the user.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <optional>
#include <string>

#include "ui/backend.h"
#include "ui/qt/qt_internal.h"

namespace qt_test {


using ui::qt::QtBackend;
using ui::qt::QtDialogPeer;

// The one Qt backend of the test executable (Qt wants one application per process), made before
// the first test and destroyed after the last (qt_fixture.cpp).
extern QtBackend* g_backend;

inline QtDialogPeer* PeerOf(const ui::Dialog& d) { return static_cast<QtDialogPeer*>(d.peer()); }
inline QWidget* WindowOf(const ui::Dialog& d) { return PeerOf(d)->widget(); }
template <typename T>
T* Item(const ui::Dialog& d, int id) {
  return qobject_cast<T*>(PeerOf(d)->ItemWidget(id));
}

// Generous bounds: the conditions, not the times, are what the tests wait for.
constexpr int kBoundMs = 10000;

class QtTest : public testing::Test {
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

  // Shows the window and waits until the X server has mapped it, so input reaches it.
  static void ShowAndWait(ui::Dialog& d) {
    ASSERT_TRUE(d.ShowWindow(true));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(WindowOf(d), kBoundMs));
  }
  // A click through the window system (hit testing and modal blocking included).
  static void ClickAt(ui::Dialog& d, QWidget* item) {
    QPoint at = item->mapTo(WindowOf(d), item->rect().center());
    QTest::mouseClick(WindowOf(d)->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
  }
  // Answers the next message box with button, once it is open; records what it showed.
  struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
  };
  static void AnswerNextBox(QMessageBox::StandardButton button, BoxSeen* seen) {
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      seen->title = box->windowTitle();
      seen->text = box->text();
      seen->icon = box->icon();
      poll->deleteLater();
      if (QAbstractButton* b = box->button(button)) b->click();
    });
    poll->start(10);
  }
};

}  // namespace qt_test
