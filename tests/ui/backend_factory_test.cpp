// The backend factory: which backends a build offers.
#include <gtest/gtest.h>

#include "ui/backend.h"
#include "ui/headless/headless_host.h"

namespace {

using ui::headless::ClockMode;
using ui::headless::HeadlessHost;

TEST(BackendFactory, BuildsTheHeadlessHostWithARealClock) {
  std::unique_ptr<ui::Backend> b = ui::CreateBackend(ui::BackendKind::kHeadless);
  auto* host = dynamic_cast<HeadlessHost*>(b.get());
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->clock_mode(), ClockMode::kReal);
}

}  // namespace
