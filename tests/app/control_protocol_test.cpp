// The control command texts both ways, and the garbage a client may send.
#include "platform/control_protocol.h"

#include <gtest/gtest.h>

TEST(ControlProtocol, ParsesTheFiveRequestsAndRejectsAnythingElse) {
  int command = -1, argument = -1;
  ASSERT_TRUE(platform::ParseControlRequest("start\n", &command, &argument));
  EXPECT_EQ(platform::kControlStart, command);
  ASSERT_TRUE(platform::ParseControlRequest(" stop ", &command, &argument));
  EXPECT_EQ(platform::kControlStop, command);
  ASSERT_TRUE(platform::ParseControlRequest("status", &command, &argument));
  EXPECT_EQ(platform::kControlStatus, command);
  ASSERT_TRUE(platform::ParseControlRequest("show\r\n", &command, &argument));
  EXPECT_EQ(platform::kControlShow, command);
  ASSERT_TRUE(platform::ParseControlRequest("mode 2\n", &command, &argument));
  EXPECT_EQ(platform::kControlMode, command);
  EXPECT_EQ(2, argument);
  ASSERT_TRUE(platform::ParseControlRequest("mode -7", &command, &argument));
  EXPECT_EQ(-7, argument);

  for (const char* bad : {"", "mode", "mode x", "mode 1 2", "mode 1234567890", "start now", "START",
                          "\x01\x02", "mode 3x"})
    EXPECT_FALSE(platform::ParseControlRequest(bad, &command, &argument)) << bad;
  EXPECT_FALSE(platform::ParseControlRequest(std::string(100, 's'), &command, &argument));

  EXPECT_EQ("mode 3\n", platform::FormatControlRequest(platform::kControlMode, 3));
  EXPECT_EQ("status\n", platform::FormatControlRequest(platform::kControlStatus, 0));
  EXPECT_EQ("", platform::FormatControlRequest(42, 0));
}
