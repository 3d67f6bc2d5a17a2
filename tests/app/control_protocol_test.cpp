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
  // A request may fill the control line's 64 bytes, not one more.
  const std::string show = "show\r\n";
  ASSERT_TRUE(platform::ParseControlRequest(std::string(58, ' ') + show, &command, &argument));
  EXPECT_EQ(platform::kControlShow, command);
  EXPECT_FALSE(platform::ParseControlRequest(std::string(59, ' ') + show, &command, &argument));
  EXPECT_FALSE(platform::ParseControlRequest(std::string(100, 's'), &command, &argument));

  EXPECT_EQ("mode 3\n", platform::FormatControlRequest(platform::kControlMode, 3));
  EXPECT_EQ("status\n", platform::FormatControlRequest(platform::kControlStatus, 0));
  EXPECT_EQ("", platform::FormatControlRequest(42, 0));
}

TEST(ControlProtocol, UpgradeRequestAndItsReplyCarryTheResultAndTheWholeStatusLine) {
  int command = 0, argument = -1;
  ASSERT_TRUE(platform::ParseControlRequest("upgrade\n", &command, &argument));
  EXPECT_EQ(platform::kControlUpgrade, command);
  EXPECT_EQ(0, argument);
  EXPECT_EQ("upgrade\n", platform::FormatControlRequest(platform::kControlUpgrade, 0));
  EXPECT_FALSE(platform::ParseControlRequest("upgrade now", &command, &argument));

  const std::string done = "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器";
  std::string reply = platform::FormatUpgradeReply(platform::kUpgradeCompleted, done);
  EXPECT_EQ("0 " + done + "\n", reply);
  long result = -1;
  std::string status;
  ASSERT_TRUE(platform::ParseUpgradeReply(reply.substr(0, reply.size() - 1), &result, &status));
  EXPECT_EQ(platform::kUpgradeCompleted, result);
  EXPECT_EQ(done, status);
  // No dialog ran: an empty status line.
  ASSERT_TRUE(platform::ParseUpgradeReply("3 ", &result, &status));
  EXPECT_EQ(platform::kUpgradeNoDevice, result);
  EXPECT_EQ("", status);
  ASSERT_TRUE(platform::ParseUpgradeReply("-1 ", &result, &status));
  EXPECT_EQ(-1, result);
  // A line break in a status cannot end the answer early.
  EXPECT_EQ("1 a b\n", platform::FormatUpgradeReply(1, "a\nb"));
  for (const char* bad : {"", "0", "x 升级", " 0 a", "12345678901 a", "-"})
    EXPECT_FALSE(platform::ParseUpgradeReply(bad, &result, &status)) << bad;
}
