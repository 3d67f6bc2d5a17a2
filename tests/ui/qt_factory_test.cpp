// The Qt backend's factory on Linux: the fall-back to headless when no display can be opened,
// decided before Qt is started (Qt would end the process), with one line saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "support/temp_folder.h"
#include "ui/backend.h"
#include "ui/scoped_env.h"

namespace {

using ui_test::ScopedEnv;
using ui_test::UnixSocketFile;

// Builds the Qt backend, expecting none; returns what it wrote on standard error.
std::string NoQtBackend() {
  testing::internal::CaptureStderr();
  std::unique_ptr<ui::Backend> backend = ui::CreateBackend(ui::BackendKind::kQt);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(backend, nullptr);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  return said;
}

// Without a display to draw on the program must fall back to headless, never abort in the
// toolkit. (Windows builds have no Qt at all.)
TEST(QtBackendFactory, GivesNoBackendAndOneLineWhenNoDisplayIsThere) {
  ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  {
    ScopedEnv display("DISPLAY", nullptr);
    EXPECT_NE(NoQtBackend().find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui::CreateBackend(ui::BackendKind::kNative), nullptr);
    testing::internal::GetCapturedStderr();
  }
  ScopedEnv display("DISPLAY", ":4987");  // no X server answers there
  EXPECT_NE(NoQtBackend().find("the X display :4987 does not answer"), std::string::npos);
}

// A platform the user named is checked too: Qt aborts when it cannot open it.
TEST(QtBackendFactory, GivesNoBackendWhenTheNamedPlatformCannotOpen) {
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  {
    ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
    {
      ScopedEnv display("DISPLAY", nullptr);
      std::string said = NoQtBackend();
      EXPECT_NE(said.find("QT_QPA_PLATFORM=xcb: DISPLAY is not set"), std::string::npos) << said;
      EXPECT_NE(said.find("headless"), std::string::npos) << said;
    }
    ScopedEnv display("DISPLAY", ":4987");
    EXPECT_NE(NoQtBackend().find("the X display :4987 does not answer"), std::string::npos);
  }
  {
    ScopedEnv platform("QT_QPA_PLATFORM", "nosuchplatform");
    EXPECT_NE(NoQtBackend().find("plugin \"nosuchplatform\" is not installed"), std::string::npos);
  }
  // A stale Wayland display: its socket file is there, its compositor gone. A plugin file is
  // put where Qt would look, so that the socket is what decides.
  testsupport::TempFolder runtime;
  std::ofstream(runtime.file("libqwayland.so")) << "";
  UnixSocketFile stale(runtime.file("wayland-9"), false);
  ASSERT_TRUE(stale.ok());
  ScopedEnv plugins("QT_QPA_PLATFORM_PLUGIN_PATH", runtime.path().string());
  ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().string());
  ScopedEnv platform("QT_QPA_PLATFORM", "wayland");
  ScopedEnv display("DISPLAY", nullptr);
  {
    ScopedEnv name("WAYLAND_DISPLAY", "wayland-9");
    std::string said = NoQtBackend();
    EXPECT_NE(said.find("wayland-9 does not accept connections"), std::string::npos) << said;
  }
  ScopedEnv name("WAYLAND_DISPLAY", "wayland-missing");
  EXPECT_NE(NoQtBackend().find("wayland-missing does not accept"), std::string::npos);
}

}  // namespace
