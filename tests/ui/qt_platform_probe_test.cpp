// The check of the window system before Qt starts, with a real X server (Xvfb) beside Wayland
// sockets made by the test: which platform the program starts Qt with.
#include "ui/qt/qt_platform_probe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "ui/unix_socket_file.h"

namespace {

using ui::qt::ChooseQtPlatform;
using testsupport::ScopedEnv;
using ui_test::UnixSocketFile;

// A runtime folder with a compositor's socket (wayland-1, taking connections), a gone one's
// (wayland-9) and the Wayland plugin where Qt would look for it.
class WaylandBeside : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under Xvfb (run-with-xvfb.sh)";
    std::ofstream(runtime_.file("libqwayland.so")) << "";
    ASSERT_TRUE(live_.ok());
    ASSERT_TRUE(stale_.ok());
  }

  testsupport::TempFolder runtime_;
  UnixSocketFile live_{runtime_.file("wayland-1"), true};
  UnixSocketFile stale_{runtime_.file("wayland-9"), false};
  ScopedEnv plugins_{"QT_QPA_PLATFORM_PLUGIN_PATH", runtime_.path().string()};
  ScopedEnv xdg_{"XDG_RUNTIME_DIR", runtime_.path().string()};
  ScopedEnv platform_{"QT_QPA_PLATFORM", nullptr};
};

// X11 (XWayland on a Wayland session) while DISPLAY answers: the tray and window placement work
// fully there. Wayland when the X display does not answer; nothing when neither can open.
TEST_F(WaylandBeside, PrefersAnAnsweringXDisplayThenAWaylandSocketThatAccepts) {
  ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-1");
  EXPECT_EQ(ChooseQtPlatform().platform, "xcb");
  {
    ScopedEnv display("DISPLAY", ":4987");
    EXPECT_EQ(ChooseQtPlatform().platform, "wayland");
    ScopedEnv stale("WAYLAND_DISPLAY", "wayland-9");
    ui::qt::PlatformChoice none = ChooseQtPlatform();
    EXPECT_EQ(none.platform, "");
    EXPECT_NE(none.why_not.find("the X display :4987 does not answer"), std::string::npos);
    EXPECT_NE(none.why_not.find("wayland-9 does not accept connections"), std::string::npos);
  }
  ScopedEnv display("DISPLAY", nullptr);
  EXPECT_EQ(ChooseQtPlatform().platform, "wayland");
  ScopedEnv absolute("WAYLAND_DISPLAY", runtime_.file("wayland-1"));  // a path is used as is
  ScopedEnv no_runtime("XDG_RUNTIME_DIR", nullptr);
  EXPECT_EQ(ChooseQtPlatform().platform, "wayland");
}

// A platform list the user named is kept to, entry by entry, options included.
TEST_F(WaylandBeside, TakesTheFirstNamedPlatformThatCanOpen) {
  ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-1");
  {
    ScopedEnv named("QT_QPA_PLATFORM", "wayland");
    EXPECT_EQ(ChooseQtPlatform().platform, "wayland");  // not X11, though it answers
  }
  {
    ScopedEnv stale("WAYLAND_DISPLAY", "wayland-9");
    ScopedEnv named("QT_QPA_PLATFORM", "wayland;xcb:nograb");
    EXPECT_EQ(ChooseQtPlatform().platform, "xcb:nograb");
  }
  ScopedEnv named("QT_QPA_PLATFORM", "nosuchplatform;offscreen");
  EXPECT_EQ(ChooseQtPlatform().platform, "offscreen");
}

}  // namespace
