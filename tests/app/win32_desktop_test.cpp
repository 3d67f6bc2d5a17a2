// Windows desktop abilities: the Run value with the quoted path, and the session mutex.
#include <gtest/gtest.h>

#include <algorithm>

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
  // Data longer than 260 characters: not registered; a click overwrites it with our own path.
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", "\"" + std::string(300, 'x') + "\""));
  EXPECT_EQ(platform::AutostartState::kAbsent, platform::QueryAutostart("OvraNetService"));
  EXPECT_TRUE(app::ToggleAutostartRegistration(true));
  EXPECT_EQ(platform::AutostartState::kPresent, platform::QueryAutostart("OvraNetService"));
  EXPECT_TRUE(platform::RemoveAutostart("OvraNetService"));
  EXPECT_FALSE(platform::ExecutablePath().empty());
}

// The value is read into 260 characters: a quoted path of 259 characters (a per-user install
// under a long or Chinese user name) still reads as registered, one more does not.
TEST(Win32Desktop, RunValueUpTo259CharactersReadsAsRegistered) {
  const std::string user = "\"C:\\Users\\" + std::string(40, 'u') + "张三丰\\AppData\\Local\\";
  const std::string tail = "\\Ovra7Server.exe\"";
  auto characters = [](const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
  };
  const size_t fixedChars = characters(user) + characters(tail);
  const std::string fits = user + std::string(259 - fixedChars, 'p') + tail;
  ASSERT_EQ(characters(fits), 259u);
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", fits));
  EXPECT_EQ(platform::AutostartState::kPresent, platform::QueryAutostart("OvraNetService"));
  EXPECT_TRUE(app::IsAutostartRegistered());
  const std::string over = user + std::string(260 - fixedChars, 'p') + tail;
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", over));
  EXPECT_EQ(platform::AutostartState::kAbsent, platform::QueryAutostart("OvraNetService"));
  // Registered: the click removes it rather than writing it again.
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", fits));
  EXPECT_FALSE(app::ToggleAutostartRegistration(false));
  EXPECT_EQ(platform::AutostartState::kAbsent, platform::QueryAutostart("OvraNetService"));
}

// An executable path that cannot be had (260 characters or more) registers nothing.
TEST(Win32Desktop, UnknownExecutablePathWritesNothingAndLeavesTheBoxClear) {
  platform::RemoveAutostart("OvraNetService");
  EXPECT_FALSE(app::ToggleAutostartRegistration(true, ""));
  EXPECT_EQ(platform::AutostartState::kAbsent, platform::QueryAutostart("OvraNetService"));
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
