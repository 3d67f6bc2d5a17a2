// The main of every test executable: starts the socket library as the program does.
#include <gtest/gtest.h>

#include "platform/socket.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  platform::NetStartup();
  int result = RUN_ALL_TESTS();
  platform::NetCleanup();
  return result;
}
