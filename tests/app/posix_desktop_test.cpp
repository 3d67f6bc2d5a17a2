// Linux desktop abilities: the autostart entry, the instance lock and the control socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "app/autostart_setting.h"
#include "app/settings_store.h"
#include "platform/app_data.h"
#include "platform/autostart.h"
#include "platform/desktop_events.h"
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

// TryExec names the executable, so that the session skips the entry once the program is
// removed; Icon is the one the package installs.
TEST(PosixDesktop, AutostartEntryHoldsTheQuotedPathAndTogglesBothWays) {
  testsupport::TempFolder temp;
  ScopedEnv env("XDG_CONFIG_HOME", temp.path().string());
  EXPECT_FALSE(app::IsAutostartRegistered());
  EXPECT_TRUE(app::ToggleAutostartRegistration(true));
  std::string entry = ReadAll(temp.file("autostart/OvraNetService.desktop"));
  EXPECT_NE(std::string::npos, entry.find("\nExec=\"" + platform::ExecutablePath() + "\"\n"));
  EXPECT_NE(std::string::npos, entry.find("\nTryExec=" + platform::ExecutablePath() + "\n"));
  EXPECT_NE(std::string::npos, entry.find("\nIcon=ovra7server\n")) << entry;
  EXPECT_TRUE(app::IsAutostartRegistered());
  // Some other command still counts as registered; the click removes it.
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", "\"/elsewhere/ovra7server\""));
  EXPECT_FALSE(app::ToggleAutostartRegistration(false));
  EXPECT_FALSE(app::IsAutostartRegistered());
}

// The desktop's launcher reads a quoted argument with its own escapes: a path holding them (or a
// line end, which would otherwise add keys to the entry) is written so that it reads back whole.
TEST(PosixDesktop, AutostartEntryEscapesWhatTheLauncherWouldReadOtherwise) {
  testsupport::TempFolder temp;
  ScopedEnv env("XDG_CONFIG_HOME", temp.path().string());
  ASSERT_TRUE(platform::AddAutostart("OvraNetService", "\"/opt/a $b\"c`d\\e%f\nTerminal=true/x\""));
  std::string entry = ReadAll(temp.file("autostart/OvraNetService.desktop"));
  EXPECT_NE(std::string::npos,
            entry.find("Exec=\"/opt/a \\\\$b\\\\\"c\\\\`d\\\\\\\\e%%f\\nTerminal=true/x\"\n"))
      << entry;
  EXPECT_NE(std::string::npos, entry.find("\nTryExec=/opt/a $b\"c`d\\\\e%f\\nTerminal=true/x\n"))
      << entry;
  EXPECT_EQ(std::string::npos, entry.find("\nTerminal=true/x")) << entry;
  EXPECT_NE(std::string::npos, entry.find("\nTerminal=false\n")) << entry;
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

int ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// A fresh account has no ~/.config yet (nor the folder $XDG_CONFIG_HOME names): the settings
// folder and the autostart entry get their missing parents, private to the user.
TEST(PosixDesktop, FreshAccountGetsItsMissingConfigFoldersPrivately) {
  testsupport::TempFolder temp;
  ScopedEnv home("HOME", temp.file("home"));
  ASSERT_EQ(0, mkdir(temp.file("home").c_str(), 0755));
  ASSERT_EQ(0, chmod(temp.file("home").c_str(), 0755));
  {
    ScopedEnv noConfig("XDG_CONFIG_HOME", "");  // empty: the default under $HOME
    app::SettingsStore store;
    store.Prepare(platform::ProgramDataFolder());
    EXPECT_EQ(store.path(), temp.file("home/.config/OvraNetService/setting.ini"));
    EXPECT_TRUE(store.WriteInt("Set", "Log", 1));
    EXPECT_EQ(1, store.Load().log);
    EXPECT_EQ(0700, ModeOf(temp.file("home/.config")));
    EXPECT_EQ(0700, ModeOf(temp.file("home/.config/OvraNetService")));
    EXPECT_EQ(0755, ModeOf(temp.file("home"))) << "a folder that exists keeps its mode";
  }
  ScopedEnv config("XDG_CONFIG_HOME", temp.file("elsewhere/deeper/config"));
  app::SettingsStore store;
  store.Prepare(platform::ProgramDataFolder());
  EXPECT_TRUE(store.WriteInt("COM", "PORT", 4));
  EXPECT_EQ(4, store.Load().port);
  EXPECT_EQ(0700, ModeOf(temp.file("elsewhere")));
  EXPECT_EQ(0700, ModeOf(temp.file("elsewhere/deeper/config/OvraNetService")));

  ScopedEnv other("XDG_CONFIG_HOME", temp.file("another/config"));
  EXPECT_TRUE(app::ToggleAutostartRegistration(true, "/opt/ovra7/ovra7server"));
  EXPECT_NE(std::string::npos, ReadAll(temp.file("another/config/autostart/OvraNetService.desktop"))
                                   .find("Exec=\"/opt/ovra7/ovra7server\"\n"));
  EXPECT_EQ(0700, ModeOf(temp.file("another")));
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

namespace {

// The device events a monitor reported, in order.
class EventLog {
 public:
  void Add(int kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    kinds_.push_back(kind);
    changed_.notify_all();
  }
  // The first `count` events once that many came (within a minute), else what came.
  std::vector<int> First(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::minutes(1), [&] { return kinds_.size() >= count; });
    return std::vector<int>(kinds_.begin(), kinds_.begin() + std::min(count, kinds_.size()));
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> kinds_;
};

void Touch(const std::string& path) { std::ofstream(path).put('x'); }

}  // namespace

// Without udev (or in a folder udev never announces) the device folder itself is watched: a serial
// port's node coming and going is an arrival and a removal; other names in the folder are not.
TEST(PosixDesktop, DeviceFolderWatchReportsSerialNodesOnly) {
  testsupport::TempFolder temp;
  ScopedEnv dev("OVRA7_DEV_DIR", temp.dir());
  EventLog events;
  auto monitor = platform::StartDesktopEventMonitor([&](int kind) { events.Add(kind); }, nullptr);
  ASSERT_TRUE(monitor);

  Touch(temp.file("ttyS0x"));  // not a reader's port name
  Touch(temp.file("notes.txt"));
  ASSERT_EQ(0, symlink("/dev/null", temp.file("ttyACM3").c_str()));  // as reader-sim links it
  ASSERT_EQ(0, rename(temp.file("notes.txt").c_str(), temp.file("ttyUSB0").c_str()));
  ASSERT_EQ(0, unlink(temp.file("ttyACM3").c_str()));
  ASSERT_EQ(0, rename(temp.file("ttyUSB0").c_str(), temp.file("kept").c_str()));
  EXPECT_EQ(events.First(4),
            (std::vector<int>{platform::kDeviceArrival, platform::kDeviceArrival,
                              platform::kDeviceRemoveComplete, platform::kDeviceRemoveComplete}));
  monitor.reset();  // stops its thread: nothing is reported after this
}
