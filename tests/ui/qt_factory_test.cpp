// The Qt backend's factory on Linux: the fall-back to headless when no display is there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ui/backend.h"

namespace {

// Sets an environment variable for one scope (unset when value is null).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// Without a display the program must fall back to headless, never abort in the toolkit: no
// display named, or one named that does not answer. (Windows builds have no Qt at all.)
TEST(BackendFactory, GivesNoWindowBackendWithoutADisplayToDrawOn) {
  ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  {
    ScopedEnv display("DISPLAY", nullptr);
    EXPECT_EQ(ui::CreateBackend(ui::BackendKind::kQt), nullptr);
    EXPECT_EQ(ui::CreateBackend(ui::BackendKind::kNative), nullptr);
  }
  ScopedEnv display("DISPLAY", ":4987");  // no X server answers there
  EXPECT_EQ(ui::CreateBackend(ui::BackendKind::kQt), nullptr);
}

}  // namespace
