// Measures ovra7server start-up on Linux, headless (default) or with its Qt window (--gui, on a
// private Xvfb with trayer): time from exec until ready, and resident memory once running.
// Ready: the instance answers on its control socket, which it opens after the window was made,
// the tray icon added and the service started on the reader; with --gui also the icon sits in
// the tray. A simulated reader answers on a socat pty pair found through a fake sysfs tree.
// Prints figures; asserts nothing.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/reader_sysfs.h"
#include "desktop.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "support/simulated_reader.h"

namespace fs = std::filesystem;

namespace {

long ReadStatusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, std::strlen(field), field) == 0)
      return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

// Whether the instance answers on its control socket. The line sent is no command, so the
// instance only answers "error" and does nothing (a "show" would map the window).
bool InstanceAnswers(const fs::path& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  char reply[16];
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            send(fd, "ping\n", 5, MSG_NOSIGNAL) == 5 && recv(fd, reply, sizeof reply, 0) > 0;
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool gui = std::find(args.begin(), args.end(), "--gui") != args.end();
  args.erase(std::remove(args.begin(), args.end(), "--gui"), args.end());
  if (args.empty()) {
    std::fprintf(stderr, "usage: app_startup PATH/TO/ovra7server [runs] [--gui]\n");
    return 1;
  }
  std::string program = fs::absolute(args[0]).string();
  int runs = args.size() > 1 ? std::atoi(args[1].c_str()) : 10;
  bench::BenchDesktop desktop;
  if (gui) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");  // the XEmbed tray of trayer, not a desktop's
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    if (!desktop.Start()) return 1;
  } else {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  fs::path base = fs::temp_directory_path() / ("ovra7-bench-" + std::to_string(getpid()));
  fs::create_directories(base / "dev");
  fs::create_directories(base / "run");
  fs::permissions(base / "run", fs::perms::owner_all, fs::perm_options::replace);
  benchproc::MakeReaderSysfs(base / "sys");
  setenv("XDG_RUNTIME_DIR", (base / "run").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
  setenv("TMPDIR", base.c_str(), 1);
  setenv("OVRA7_SYSFS_ROOT", (base / "sys").c_str(), 1);
  setenv("OVRA7_DEV_DIR", (base / "dev").c_str(), 1);

  // socat links the program's ttyACM0 to the reader's ttyACM7.
  pid_t socat = fork();
  if (socat == 0) {
    std::string a = "pty,raw,echo=0,link=" + (base / "dev/ttyACM0").string();
    std::string b = "pty,raw,echo=0,link=" + (base / "dev/ttyACM7").string();
    execlp("socat", "socat", a.c_str(), b.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 200 && !fs::exists(base / "dev/ttyACM7"); ++i) platform::SleepMs(10);
  auto port = platform::OpenSerialPort(8, 115200);  // ttyACM7
  if (!port) {
    std::fprintf(stderr, "app_startup: no pty (is socat installed?)\n");
    kill(socat, SIGTERM);
    return 1;
  }
  testsupport::ReaderConfig config;
  config.platformPort = 1;  // no card server: the start picks Cat1 after a refused connect
  testsupport::SimulatedReader reader(std::move(port), config);

  std::vector<double> readyMs;
  long rssKb = 0, peakKb = 0;
  for (int run = 0; run < runs; ++run) {
    size_t framesBefore = reader.Frames().size();
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
      // The headless program tells the console what it does; the figures are what matters here.
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDERR_FILENO);
      if (gui) {
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      } else {
        execl(program.c_str(), program.c_str(), "--headless", static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    bool ready = false;
    bool answered = false;
    for (int i = 0; i < 10000 && !ready; ++i) {
      answered = answered || InstanceAnswers(base / "run/ovra7server.sock");
      ready = answered && (!gui || desktop.IconInTray("ovra7server"));
      if (!ready) usleep(500);
    }
    auto end = std::chrono::steady_clock::now();
    bool started = reader.Frames().size() >= framesBefore + 3;  // Cat1, platform, mode
    if (ready && started)
      readyMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    platform::SleepMs(1500);  // a second of steady running: timers, status refreshes
    rssKb = std::max(rssKb, ReadStatusKb(child, "VmRSS:"));
    peakKb = std::max(peakKb, ReadStatusKb(child, "VmHWM:"));
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    if (!ready || !started)
      std::fprintf(stderr, "run %d: not ready (answered: %d, service started: %d)\n", run, answered,
                   started);
  }
  reader.Stop();
  kill(socat, SIGTERM);
  waitpid(socat, nullptr, 0);
  fs::remove_all(base);

  if (readyMs.empty()) return 1;
  std::sort(readyMs.begin(), readyMs.end());
  std::printf("ovra7server %s, %zu runs with a simulated reader on a pty\n",
              gui ? "(Qt window, Xvfb + trayer)" : "--headless", readyMs.size());
  std::printf("time to ready: min %.1f ms, median %.1f ms, max %.1f ms (target < 300 ms)\n",
              readyMs.front(), readyMs[readyMs.size() / 2], readyMs.back());
  std::printf("resident memory: %ld kB running, %ld kB peak (target < %d MB)\n", rssKb, peakKb,
              gui ? 60 : 20);
  return 0;
}
