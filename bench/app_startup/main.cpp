// Measures ovra7server --headless start-up on Linux: time from exec until the instance answers
// on its control socket (window made, tray icon added, service started on the reader), and its
// resident memory once running. A simulated reader answers on a socat pty pair found through a
// fake sysfs tree. Prints figures; asserts nothing.
#include <signal.h>
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

#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/single_instance.h"
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

void FakeSysfs(const fs::path& root) {
  fs::path device = root / "devices/pci0000:00/usb1/1-1";
  fs::create_directories(device / "1-1:1.0/tty/ttyACM0");
  std::ofstream(device / "idVendor") << "0425\n";
  std::ofstream(device / "idProduct") << "8159\n";
  fs::create_directory_symlink("../../../1-1:1.0", device / "1-1:1.0/tty/ttyACM0/device");
  fs::create_directories(root / "class/tty");
  fs::create_directory_symlink("../../devices/pci0000:00/usb1/1-1/1-1:1.0/tty/ttyACM0",
                               root / "class/tty/ttyACM0");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: app_startup PATH/TO/ovra7server [runs]\n");
    return 1;
  }
  std::string program = fs::absolute(argv[1]).string();
  int runs = argc > 2 ? std::atoi(argv[2]) : 10;
  fs::path base = fs::temp_directory_path() / ("ovra7-bench-" + std::to_string(getpid()));
  fs::create_directories(base / "dev");
  fs::create_directories(base / "run");
  fs::permissions(base / "run", fs::perms::owner_all, fs::perm_options::replace);
  FakeSysfs(base / "sys");
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
      execl(program.c_str(), program.c_str(), "--headless", static_cast<char*>(nullptr));
      _exit(127);
    }
    bool ready = false;
    for (int i = 0; i < 5000 && !ready; ++i) {
      ready = platform::ShowRunningInstance("");
      if (!ready) usleep(200);
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
      std::fprintf(stderr, "run %d: not ready (service started: %d)\n", run, started);
  }
  reader.Stop();
  kill(socat, SIGTERM);
  waitpid(socat, nullptr, 0);
  fs::remove_all(base);

  if (readyMs.empty()) return 1;
  std::sort(readyMs.begin(), readyMs.end());
  std::printf("ovra7server --headless, %zu runs with a simulated reader on a pty\n",
              readyMs.size());
  std::printf("time to ready: min %.1f ms, median %.1f ms, max %.1f ms (target < 300 ms)\n",
              readyMs.front(), readyMs[readyMs.size() / 2], readyMs.back());
  std::printf("resident memory: %ld kB running, %ld kB peak (target < 20 MB)\n", rssKb, peakKb);
  return 0;
}
