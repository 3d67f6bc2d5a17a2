// The start of the Qt backend on Linux, decided before Qt runs (Qt would end the process): without
// a display that opens, or with a module that is missing or wrong, the program gets no backend and
// one line saying why, and falls back to headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "ui/backend.h"
#include "ui/qt_module_loader.h"
#include "ui/unix_socket_file.h"

namespace {

using testsupport::ScopedEnv;

// What making a backend wrote on standard error; it must have made none.
std::string NoBackend(const std::function<std::unique_ptr<ui::Backend>()>& make) {
  testing::internal::CaptureStderr();
  std::unique_ptr<ui::Backend> backend = make();
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(backend, nullptr);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("headless"), std::string::npos) << said;
  return said;
}
std::string NoQtBackend() {
  return NoBackend([] { return ui::CreateBackend(ui::BackendKind::kQt); });
}
std::string NoBackendFrom(const std::vector<std::string>& candidates) {
  return NoBackend([&] { return ui::LoadQtBackend(candidates); });
}

TEST(QtBackendFactory, GivesNoBackendWhenNoDisplayOrNoNamedPlatformOpens) {
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  {
    ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    ScopedEnv display("DISPLAY", nullptr);
    EXPECT_NE(NoQtBackend().find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui::CreateBackend(ui::BackendKind::kNative), nullptr);
    testing::internal::GetCapturedStderr();
  }
  ScopedEnv platform("QT_QPA_PLATFORM", "xcb");  // a platform the user named is checked too
  {
    ScopedEnv display("DISPLAY", nullptr);
    EXPECT_NE(NoQtBackend().find("QT_QPA_PLATFORM=xcb: DISPLAY is not set"), std::string::npos);
  }
  ScopedEnv display("DISPLAY", ":4987");  // no X server answers there
  EXPECT_NE(NoQtBackend().find("the X display :4987 does not answer"), std::string::npos);
  ScopedEnv named("QT_QPA_PLATFORM", "nosuchplatform");
  EXPECT_NE(NoQtBackend().find("plugin \"nosuchplatform\" is not installed"), std::string::npos);
}

// Qt's offscreen platform opens without a display, so the module is what decides; the display is
// checked before any module is looked for.
TEST(QtModuleLoader, GivesNoBackendForEachWayTheModuleFails) {
  ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
  testsupport::TempFolder folder;
  std::string missing = folder.file("missing/ovra7server-qt.so");
  std::string garbage = folder.file("ovra7server-qt.so");
  std::ofstream(garbage) << "not a shared library\n";
  EXPECT_NE(
      NoBackendFrom({}).find("ovra7server-qt.so is not installed (package ovra7server-desktop)"),
      std::string::npos);
  EXPECT_NE(NoBackendFrom({missing}).find("is not installed"), std::string::npos);
  // The first candidate that exists is the one loaded, and named.
  EXPECT_NE(NoBackendFrom({missing, garbage}).find("cannot be loaded: " + garbage),
            std::string::npos);
  EXPECT_NE(NoBackendFrom({OVRA7_NOT_A_QT_MODULE, garbage})
                .find("is of another version (no ovra7_qt_module_open_v1)"),
            std::string::npos);
  ScopedEnv xcb("QT_QPA_PLATFORM", "xcb");
  ScopedEnv display("DISPLAY", nullptr);
  EXPECT_NE(NoBackendFrom({OVRA7_NOT_A_QT_MODULE}).find("DISPLAY is not set"), std::string::npos);
}

TEST(QtModuleLoader, LooksInTheInstalledLayoutThenBesideTheProgram) {
  const std::string folder = OVRA7_TEST_FOLDER;
  EXPECT_EQ(ui::QtModuleCandidates(),
            (std::vector<std::string>{folder + "/../lib/ovra7server/ovra7server-qt.so",
                                      folder + "/ovra7server-qt.so"}));
}

}  // namespace
