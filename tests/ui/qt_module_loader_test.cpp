// The loading of the Qt module: whatever is wrong with it, the program gets no backend and one
// line saying why, and falls back to headless. Qt's offscreen platform opens without a display,
// so the module is what decides.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "ui/qt_module_loader.h"
#include "ui/scoped_env.h"

namespace {

using ui_test::ScopedEnv;

std::string NoBackendFrom(const std::vector<std::string>& candidates) {
  testing::internal::CaptureStderr();
  std::unique_ptr<ui::Backend> backend = ui::LoadQtBackend(candidates);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(backend, nullptr);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("; running headless"), std::string::npos) << said;
  return said;
}

TEST(QtModuleLoader, GivesNoBackendAndOneLineForEachWayTheModuleFails) {
  ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
  testsupport::TempFolder folder;
  std::string missing = folder.file("missing/ovra7server-qt.so");
  std::string garbage = folder.file("ovra7server-qt.so");
  std::ofstream(garbage) << "not a shared library\n";

  EXPECT_NE(NoBackendFrom({}).find("ovra7server-qt.so is not installed (package ovra7server-desktop)"),
            std::string::npos);
  EXPECT_NE(NoBackendFrom({missing}).find("is not installed"), std::string::npos);
  // The first candidate that exists is the one loaded, and named.
  std::string said = NoBackendFrom({missing, garbage});
  EXPECT_NE(said.find("cannot be loaded: " + garbage), std::string::npos) << said;
  said = NoBackendFrom({OVRA7_NOT_A_QT_MODULE, garbage});
  EXPECT_NE(said.find("is of another version (no ovra7_qt_module_open_v1)"), std::string::npos)
      << said;
}

// The display is checked before any module is looked for: a start without one loads nothing.
TEST(QtModuleLoader, ChecksTheDisplayBeforeLookingForTheModule) {
  ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
  ScopedEnv display("DISPLAY", nullptr);
  std::string said = NoBackendFrom({OVRA7_NOT_A_QT_MODULE});
  EXPECT_NE(said.find("DISPLAY is not set"), std::string::npos) << said;
}

TEST(QtModuleLoader, LooksInTheInstalledLayoutThenBesideTheProgram) {
  std::vector<std::string> candidates = ui::QtModuleCandidates();
  ASSERT_EQ(candidates.size(), 2u);
  std::string folder = OVRA7_TEST_FOLDER;
  EXPECT_EQ(candidates[0], folder + "/../lib/ovra7server/ovra7server-qt.so");
  EXPECT_EQ(candidates[1], folder + "/ovra7server-qt.so");
}

}  // namespace
