// Linux desktop abilities: the autostart entry, the instance lock and the control socket, the
// device folder watch, and the session-end block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/autostart_setting.h"
#include "app/settings_store.h"
#include "platform/app_data.h"
#include "platform/autostart.h"
#include "platform/control_protocol.h"
#include "platform/desktop_events.h"
#include "platform/executable.h"
#include "platform/session_end.h"
#include "platform/single_instance.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace {

using testsupport::ScopedEnv;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

// TryExec names the executable, so that the session skips the entry once the program is
// removed; Icon is the one the package installs. The desktop's launcher reads a quoted argument
// with its own escapes: a path holding them (or a line end, which would otherwise add keys to
// the entry) is written so that it reads back whole. A path that cannot be had registers
// nothing: an entry with an empty quoted command would start nothing and read as registered.
TEST(PosixDesktop, AutostartEntryHoldsThePathEscapedForTheLauncherAndTogglesBothWays) {
  struct Case {
    std::string path, exec, tryExec;  // exec empty: no entry
  };
  const std::string self = platform::ExecutablePath();
  const Case cases[] = {
      {self, "\nExec=\"" + self + "\"\n", "\nTryExec=" + self + "\n"},
      {"/opt/a $b\"c`d\\e%f\nTerminal=true/x",
       "\nExec=\"/opt/a \\\\$b\\\\\"c\\\\`d\\\\\\\\e%%f\\nTerminal=true/x\"\n",
       "\nTryExec=/opt/a $b\"c`d\\\\e%f\\nTerminal=true/x\n"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    testsupport::TempFolder temp;
    ScopedEnv env("XDG_CONFIG_HOME", temp.path().string());
    EXPECT_FALSE(app::IsAutostartRegistered());
    // The program's own path is the one the box's click takes.
    EXPECT_EQ(!c.exec.empty(), c.path == self ? app::ToggleAutostartRegistration(true)
                                              : app::ToggleAutostartRegistration(true, c.path));
    EXPECT_EQ(!c.exec.empty(), app::IsAutostartRegistered());
    const std::string entry = ReadAll(temp.file("autostart/OvraNetService.desktop"));
    if (c.exec.empty()) {
      EXPECT_FALSE(std::filesystem::exists(temp.file("autostart/OvraNetService.desktop")));
      continue;
    }
    EXPECT_NE(std::string::npos, entry.find(c.exec)) << entry;
    EXPECT_NE(std::string::npos, entry.find(c.tryExec)) << entry;
    EXPECT_NE(std::string::npos, entry.find("\nIcon=ovra7server\n")) << entry;
    EXPECT_NE(std::string::npos, entry.find("\nTerminal=false\n")) << entry;
    EXPECT_EQ(std::string::npos, entry.find("\nTerminal=true")) << entry;
    // Some other command still counts as registered; the click removes it.
    ASSERT_TRUE(platform::AddAutostart("OvraNetService", "\"/elsewhere/ovra7server\""));
    EXPECT_FALSE(app::ToggleAutostartRegistration(false, c.path));
    EXPECT_FALSE(app::IsAutostartRegistered());
  }
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

// The watch follows the folder's name: removed and made again, or renamed away and a new one made
// under the name, the new folder's nodes are reported and the renamed one's are not.
TEST(PosixDesktop, DeviceFolderWatchFollowsTheNameAcrossRemovalAndRename) {
  for (bool renamed : {false, true}) {
    SCOPED_TRACE(renamed ? "renamed away" : "removed");
    testsupport::TempFolder temp;
    const std::string dev = temp.file("dev");
    ASSERT_EQ(0, mkdir(dev.c_str(), 0700));
    ScopedEnv env("OVRA7_DEV_DIR", dev);
    EventLog events;
    auto monitor = platform::StartDesktopEventMonitor([&](int kind) { events.Add(kind); }, nullptr);
    ASSERT_EQ(0, renamed ? rename(dev.c_str(), temp.file("old").c_str()) : rmdir(dev.c_str()));
    const int changed = platform::kDevNodesChanged;
    ASSERT_EQ(events.First(1), std::vector<int>{changed});  // its nodes went with it
    if (renamed) Touch(temp.file("old/ttyACM1"));
    ASSERT_EQ(0, mkdir(dev.c_str(), 0700));
    ASSERT_EQ(events.First(2), (std::vector<int>{changed, changed}));  // it may hold nodes already
    Touch(dev + "/ttyACM2");
    EXPECT_EQ(events.First(3), (std::vector<int>{changed, changed, platform::kDeviceArrival}));
  }
}

// "upgrade" is answered when the flash has ended, however long that takes, and the channel
// keeps answering the other requests meanwhile: "status" (a flash runs), a second start's
// "show". An answer that never comes (the instance ended) is told apart from no instance.
TEST(PosixDesktop, UpgradeIsAnsweredWhenTheFlashEndsAndOtherRequestsAreServedMeanwhile) {
  testsupport::TempFolder temp;
  ScopedEnv env("XDG_RUNTIME_DIR", temp.path().string());
  std::mutex mutex;
  std::condition_variable queued;
  std::vector<platform::UpgradeReply> pending;
  std::atomic<int> shows{0};
  auto listener = platform::StartControlListener(
      [](int command, int) -> long { return command == 3 ? platform::kStatusFlashing : 1; },
      [&] { ++shows; },
      [&](platform::UpgradeReply reply) {
        std::lock_guard<std::mutex> lock(mutex);
        pending.push_back(std::move(reply));
        queued.notify_all();
      });
  ASSERT_NE(nullptr, listener);
  auto waitPending = [&](size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return queued.wait_for(lock, std::chrono::seconds(10), [&] { return pending.size() >= n; });
  };

  std::atomic<int> exchange{-1};
  long result = -1;
  std::string status;
  std::thread client([&] {
    exchange = static_cast<int>(platform::SendUpgradeCommand(&result, &status));
  });
  ASSERT_TRUE(waitPending(1));
  long answer = 0;
  EXPECT_TRUE(platform::SendControlCommand("", 3, 0, &answer));
  EXPECT_EQ(platform::kStatusFlashing, answer);
  EXPECT_TRUE(platform::ShowRunningInstance(""));
  EXPECT_EQ(1, shows.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(-1, exchange.load());  // still waiting for the flash
  pending[0](platform::kUpgradeCompleted, "升级完成");
  client.join();
  EXPECT_EQ(static_cast<int>(platform::UpgradeExchange::kAnswered), exchange.load());
  EXPECT_EQ(platform::kUpgradeCompleted, result);
  EXPECT_EQ("升级完成", status);

  std::thread second([&] {
    exchange = static_cast<int>(platform::SendUpgradeCommand(&result, &status));
  });
  ASSERT_TRUE(waitPending(2));
  {
    std::lock_guard<std::mutex> lock(mutex);
    pending.clear();  // the instance went away without answering
  }
  second.join();
  EXPECT_EQ(static_cast<int>(platform::UpgradeExchange::kNoAnswer), exchange.load());
  listener.reset();
  EXPECT_EQ(platform::UpgradeExchange::kNoInstance, platform::SendUpgradeCommand(&result, &status));
}

namespace {

// logind's Inhibit on a private bus that stands in for the system bus: records the request and
// hands out one end of a pipe, whose other end tells when the caller let go.
class FakeLogind {
 public:
  FakeLogind() {
    FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (!daemon) return;
    char line[512] = {};
    if (std::fgets(line, sizeof line, daemon)) address_ = line;
    if (std::fgets(line, sizeof line, daemon)) pid_ = std::atoi(line);
    pclose(daemon);
    while (!address_.empty() && (address_.back() == '\n' || address_.back() == '\r'))
      address_.pop_back();
    if (address_.empty() || sd_bus_new(&bus_) < 0) return;
    if (sd_bus_set_address(bus_, address_.c_str()) < 0 || sd_bus_set_bus_client(bus_, 1) < 0 ||
        sd_bus_start(bus_) < 0 ||
        sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0 ||
        sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kVtable, this) < 0)
      return;
    ready_ = true;
    thread_ = std::thread([this] {
      while (!stop_) {
        const int sleeping = sleep_.exchange(-1);  // the bus is this thread's alone
        if (sleeping >= 0)
          sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                             "PrepareForSleep", "b", sleeping);
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
        sd_bus_wait(bus_, 20 * 1000);
      }
    });
  }
  ~FakeLogind() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (bus_) sd_bus_flush_close_unref(bus_);
    if (held_ >= 0) close(held_);
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  bool ready() const { return ready_; }
  // logind announces the machine going to sleep (true) or waking (false).
  void PrepareForSleep(bool sleeping) { sleep_ = sleeping ? 1 : 0; }
  const std::string& address() const { return address_; }
  std::vector<std::string> request() {
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
  }
  // Whether the caller still holds the inhibitor, waiting up to timeoutMs for it to let go
  // (0: whether it holds it now).
  bool Held(int timeoutMs) {
    int fd;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fd = held_;
    }
    if (fd < 0) return false;
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 0;
  }

 private:
  static int Inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
    auto* fake = static_cast<FakeLogind*>(self);
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    if (sd_bus_message_read(call, "ssss", &what, &who, &why, &mode) < 0) return -EINVAL;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -errno;
    {
      std::lock_guard<std::mutex> lock(fake->mutex_);
      fake->request_ = {what, who, why, mode};
      if (fake->held_ >= 0) close(fake->held_);
      fake->held_ = ends[0];
    }
    int r = sd_bus_reply_method_return(call, "h", ends[1]);
    close(ends[1]);  // the caller's copy is now the only write end
    return r;
  }
  static const sd_bus_vtable kVtable[];

  sd_bus* bus_ = nullptr;
  std::string address_;
  int pid_ = -1;
  bool ready_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> sleep_{-1};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> request_;
  int held_ = -1;
};

const sd_bus_vtable FakeLogind::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

}  // namespace

// The flash holds logind's "block" inhibitor for shutdown and sleep, on a private bus standing in
// for the system bus (never the machine's own), and lets go when it ends.
TEST(PosixDesktop, SessionEndBlockHoldsALogindBlockInhibitorUntilReleased) {
  FakeLogind logind;
  ASSERT_TRUE(logind.ready()) << "dbus-daemon is needed (package dbus-daemon)";
  ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", logind.address());
  auto block = platform::BlockSessionEnd("正在升级读卡器，请勿关机");
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(logind.request(), (std::vector<std::string>{"shutdown:sleep", "Ovra7Server",
                                                        "正在升级读卡器，请勿关机", "block"}));
  EXPECT_TRUE(logind.Held(0));
  block.reset();
  EXPECT_FALSE(logind.Held(5000));

  // No bus at all: no block, and no wait.
  ScopedEnv none("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + std::string("/nonexistent/bus"));
  EXPECT_EQ(nullptr, platform::BlockSessionEnd("x"));
}

// The monitor holds a "delay" sleep inhibitor while awake, so that logind waits for the window
// to tell the reader: the suspend is reported, then let go; the resume reported and taken again.
TEST(PosixDesktop, SuspendIsReportedUnderADelayInhibitorTakenAgainOnResume) {
  FakeLogind logind;
  ASSERT_TRUE(logind.ready()) << "dbus-daemon is needed (package dbus-daemon)";
  testsupport::TempFolder temp;
  ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", logind.address());
  ScopedEnv dev("OVRA7_DEV_DIR", temp.dir());
  EventLog power;
  auto monitor = platform::StartDesktopEventMonitor(nullptr, [&](int kind) { power.Add(kind); });
  ASSERT_TRUE(monitor);
  EXPECT_EQ(logind.request(), (std::vector<std::string>{"sleep", "Ovra7Server",
                                                        "tell the card reader before suspend",
                                                        "delay"}));
  EXPECT_TRUE(logind.Held(0));
  logind.PrepareForSleep(true);
  EXPECT_EQ(power.First(1), std::vector<int>{platform::kPowerSuspend});
  EXPECT_FALSE(logind.Held(5000));
  logind.PrepareForSleep(false);
  EXPECT_EQ(power.First(2),
            (std::vector<int>{platform::kPowerSuspend, platform::kPowerResumeAutomatic}));
  for (int i = 0; i < 500 && !logind.Held(0); ++i) usleep(10000);
  EXPECT_TRUE(logind.Held(0));
}
