// Windows desktop abilities: the Run value with the quoted path, and the session mutex.
#include <gtest/gtest.h>

#include "app/autostart_setting.h"
#include "platform/autostart.h"
#include "platform/executable.h"
#include "platform/single_instance.h"

TEST(Win32Desktop, RunValueTogglesAndOverlongDataReadsAsAbsent) {
  platform::RemoveAutostart("OvraNetService");
  EXPECT_FALSE(app::IsAutostartRegistered());
  EXPECT_TRUE(app::ToggleAutostartRegistration(true));
  EXPECT_TRUE(app::IsAutostartRegistered());
  EXPECT_FALSE(app::ToggleAutostartRegistration(false));
  EXPECT_FALSE(app::IsAutostartRegistered());
  // Data longer than 260 bytes: not registered; a click overwrites it with our own path.
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", "\"" + std::string(300, 'x') + "\""));
  EXPECT_EQ(platform::AutostartState::kAbsent, platform::QueryAutostart("OvraNetService"));
  EXPECT_TRUE(app::ToggleAutostartRegistration(true));
  EXPECT_EQ(platform::AutostartState::kPresent, platform::QueryAutostart("OvraNetService"));
  EXPECT_TRUE(platform::RemoveAutostart("OvraNetService"));
  EXPECT_FALSE(platform::ExecutablePath().empty());
}

TEST(Win32Desktop, SecondMutexSeesTheFirst) {
  bool running = true;
  auto first = platform::AcquireInstanceLock(&running);
  EXPECT_FALSE(running);
  auto second = platform::AcquireInstanceLock(&running);
  EXPECT_TRUE(running);
  long result = 0;
  EXPECT_FALSE(platform::SendControlCommand("no such window title 9f3c", 3, 0, &result));
}
