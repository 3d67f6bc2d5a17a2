// The Qt backend's layout on small screens: dialog units as compact as Windows makes them whatever
// the CJK face's line spacing, the main window inside the work area of a 1366 x 768 screen and of
// 1920 x 1080 at 150 % (1280 x 720), each with a panel, and a line of text in every label.
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>

#include "app/main_window_template.h"
#include "ui/qt_fixture.h"
#include "ui/test_dialog.h"

namespace {

using namespace qt_test;
using ui_test::TestDialog;

// Room for a window manager's title bar and borders (openbox about 25 px, Breeze 30, GNOME 37).
constexpr int kFrameAllowance = 40;
constexpr int kPanel = 40;

TEST_F(QtTest, MainWindowFitsTheWorkAreaOfSmallScreensWithAPanel) {
  ui::Dialog d(app::MainWindowTemplate());  // the layout alone, none of the window's logic
  ASSERT_TRUE(d.Create());
  ui::Rect client = d.GetClientRect();
  const ui::qt::DialogUnits& u = PeerOf(d)->units();
  // Windows' 8-point dialog font at 96 dpi measures 13 down; the rows were drawn for that.
  EXPECT_EQ(u.base_y, 13);
  for (QSize screen : {QSize(1366, 768), QSize(1280, 720)}) {
    SCOPED_TRACE(testing::Message() << screen.width() << "x" << screen.height());
    EXPECT_LE(client.Height() + kFrameAllowance, screen.height() - kPanel);
    EXPECT_LE(client.Width() + kFrameAllowance, screen.width());  // expanded
  }
  // The bottom row (关于) lies inside the client area.
  QWidget* about = PeerOf(d)->ItemWidget(app::ids::kAbout);
  ASSERT_NE(about, nullptr);
  EXPECT_LE(about->geometry().bottom(), client.Height());

  // Every label, check box and radio button holds one line of its text without cutting its foot.
  for (QWidget* w : WindowOf(d)->findChildren<QWidget*>()) {
    if (!qobject_cast<QLabel*>(w) && !qobject_cast<QCheckBox*>(w) &&
        !qobject_cast<QRadioButton*>(w))
      continue;
    EXPECT_GE(w->height(), w->fontMetrics().height()) << w->objectName().toStdString();
  }
}

TEST_F(QtTest, WindowIsPlacedInsideThePrimaryScreensWorkArea) {
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  ui::DialogTemplate t = ui_test::TestTemplate();
  t.x = 2000;  // asks for a place right of any test screen
  t.y = 2000;
  TestDialog d(t);
  ASSERT_TRUE(d.Create());
  QRect frame = WindowOf(d)->frameGeometry();
  EXPECT_TRUE(screen->availableGeometry().contains(frame))
      << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
}

}  // namespace
