// Linux desktop abilities: the autostart entry, the instance lock and the control socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/autostart_setting.h"
#include "platform/autostart.h"
#include "platform/executable.h"
#include "platform/single_instance.h"
#include "support/temp_folder.h"

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(PosixDesktop, AutostartEntryHoldsTheQuotedPathAndTogglesBothWays) {
  testsupport::TempFolder temp;
  ScopedEnv env("XDG_CONFIG_HOME", temp.path().string());
  EXPECT_FALSE(app::IsAutostartRegistered());
  EXPECT_TRUE(app::ToggleAutostartRegistration(true));
  std::string entry = ReadAll(temp.file("autostart/OvraNetService.desktop"));
  EXPECT_NE(std::string::npos, entry.find("Exec=\"" + platform::ExecutablePath() + "\"\n"));
  EXPECT_TRUE(app::IsAutostartRegistered());
  // Some other command still counts as registered; the click removes it.
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", "\"/elsewhere/ovra7server\""));
  EXPECT_FALSE(app::ToggleAutostartRegistration(false));
  EXPECT_FALSE(app::IsAutostartRegistered());
}

// An executable path that cannot be had registers nothing: an entry with an empty quoted
// command would start nothing at the next logon and would read as registered.
TEST(PosixDesktop, UnknownExecutablePathWritesNothingAndLeavesTheBoxClear) {
  testsupport::TempFolder temp;
  ScopedEnv env("XDG_CONFIG_HOME", temp.path().string());
  EXPECT_FALSE(app::ToggleAutostartRegistration(true, ""));
  EXPECT_FALSE(app::IsAutostartRegistered());
  EXPECT_FALSE(std::filesystem::exists(temp.file("autostart/OvraNetService.desktop")));
}

TEST(PosixDesktop, SecondLockFailsAndTheControlSocketServesOnlyWellFormedRequests) {
  testsupport::TempFolder temp;
  ScopedEnv env("XDG_RUNTIME_DIR", temp.path().string());
  bool running = true;
  auto first = platform::AcquireInstanceLock(&running);
  EXPECT_FALSE(running);
  auto second = platform::AcquireInstanceLock(&running);
  EXPECT_TRUE(running);

  long result = 0;
  EXPECT_FALSE(platform::SendControlCommand("", 3, 0, &result));  // nobody listens yet
  EXPECT_FALSE(platform::ShowRunningInstance(""));

  int lastCommand = -1, lastArgument = -1, shows = 0;
  auto listener = platform::StartControlListener(
      [&](int command, int argument) -> long {
        lastCommand = command;
        lastArgument = argument;
        return command == 2 && argument == 3 ? -1 : 1;
      },
      [&] { ++shows; });
  ASSERT_NE(nullptr, listener);
  struct stat st;
  ASSERT_EQ(0, stat(temp.file("ovra7server.sock").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);

  ASSERT_TRUE(platform::SendControlCommand("", 2, 3, &result));
  EXPECT_EQ(-1, result);
  EXPECT_EQ(2, lastCommand);
  EXPECT_EQ(3, lastArgument);
  EXPECT_TRUE(platform::ShowRunningInstance(""));
  EXPECT_EQ(1, shows);

  // Garbage, and a client that connects and goes away, get no command run and no hang.
  lastCommand = -1;
  for (const char* junk : {"bogus\n", "", "mode\n"}) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = temp.file("ovra7server.sock");
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    if (*junk) {
      ASSERT_GT(send(fd, junk, std::strlen(junk), 0), 0);
    }
    shutdown(fd, SHUT_WR);
    char reply[16] = {};
    ssize_t n = recv(fd, reply, sizeof reply - 1, 0);
    if (*junk) {
      EXPECT_GT(n, 0);
      EXPECT_STREQ("error\n", reply);
    }
    close(fd);
  }
  EXPECT_EQ(-1, lastCommand);
  ASSERT_TRUE(platform::SendControlCommand("", 0, 0, &result));
  EXPECT_EQ(0, lastCommand);
  listener.reset();
  EXPECT_FALSE(platform::SendControlCommand("", 0, 0, &result));
}
