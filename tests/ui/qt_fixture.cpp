// The Qt backend of the test executable, made once: Qt wants one application per process.
#include "ui/qt/qt_backend.h"
#include "ui/qt_fixture.h"

namespace qt_test {

QtBackend* g_backend = nullptr;

namespace {

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::unique_ptr<ui::Backend> b = ui::qt::CreateQtBackend();
    ASSERT_NE(b, nullptr) << "no display: run under Xvfb (run-with-xvfb.sh)";
    g_backend = static_cast<QtBackend*>(b.release());
  }
  void TearDown() override {
    delete g_backend;
    g_backend = nullptr;
  }
};

const testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

}  // namespace qt_test
