// The flashing dialog's whole sequence (package check to leave) for a 256 KiB package on the
// simulated device with realistic poll time-outs, on the headless host with the real clock.
// Measures, never asserts: the time from the dialog's start to "升级完成…" against the device's
// own waits, by phase, and the share of the dialog's timers (500 ms steps, 300 ms polls).
// Usage: flash_dialog_bench [--console]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfuprt.h"
#include "platform/clock.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_host.h"

namespace {

constexpr uint32_t kBytes = 256 * 1024;
constexpr int kSteps = 5;  // timers 1, 3, 4, 5 and 7 each wait one 500 ms period

double WallMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// One library operation as the bench saw it: launched, ended (a watcher polls every 1 ms), and
// noticed by the dialog (its phase line reaching 100 %); the device's waits during it.
struct Phase {
  const char* name = "";
  double launched = 0, ended = 0, noticed = 0;
  uint64_t waitAtLaunch = 0, waitAtEnd = 0;
};

std::mutex g_lock;
std::vector<Phase> g_phases;
std::shared_ptr<testsupport::SimDfuDevice> g_device;
double g_done = 0;

class TimedHost : public ui::headless::HeadlessHost {
 public:
  explicit TimedHost(bool print) : HeadlessHost(ui::headless::ClockMode::kReal) {
    SetPrintMessageBoxes(print);
  }
  void Announce(const std::string& line) override {
    HeadlessHost::Announce(line);
    std::lock_guard<std::mutex> hold(g_lock);
    if (line.find("100%") != std::string::npos && !g_phases.empty() && !g_phases.back().noticed)
      g_phases.back().noticed = WallMs();
    if (line.rfind("升级完成", 0) == 0) g_done = WallMs();
  }
};

class TimedDialog : public DFUpgradeDialog {
 protected:
  uint32_t LaunchOperation(OperationContext* context, DfuOperationHandle* handle) override {
    static const char* const names[] = {"detach", "leave", "read back", "erase", "download"};
    Phase p;
    p.name = context->operation <= 4 ? names[context->operation] : "?";
    p.launched = WallMs();
    p.waitAtLaunch = g_device->requiredWaitMs();
    uint32_t r = DFUpgradeDialog::LaunchOperation(context, handle);
    if (r != STDFU_NOERROR) return r;
    size_t index;
    {
      std::lock_guard<std::mutex> hold(g_lock);
      g_phases.push_back(p);
      index = g_phases.size() - 1;
    }
    DfuOperationHandle h = *handle;
    watchers_.emplace_back([h, index] {
      for (;;) {
        OperationContext now;
        if (STDFUPRT_GetOperationStatus(h, &now) != STDFU_NOERROR) return;
        if (now.percent == 100 || now.errorCode != STDFU_NOERROR) break;
        platform::SleepMs(1);
      }
      std::lock_guard<std::mutex> hold(g_lock);
      g_phases[index].ended = WallMs();
      g_phases[index].waitAtEnd = g_device->requiredWaitMs();
    });
    return r;
  }

 public:
  ~TimedDialog() override {
    for (std::thread& t : watchers_) t.join();
  }

 private:
  std::vector<std::thread> watchers_;
};

}  // namespace

// --console: print what a console running --headless shows (status lines, phase steps).
int main(int argc, char** argv) {
  TimedHost host(argc > 1 && std::string(argv[1]) == "--console");
  ui::ScopedBackend scoped(&host);
  testsupport::SimUsbBus bus;
  testsupport::SimDfuOptions o;
  o.writePollMs = 5;    // per command and 2 KiB block
  o.erasePollMs = 100;  // per sector erase
  g_device = bus.Add(o);
  testsupport::TempFolder folder;
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  std::vector<uint8_t> data = testsupport::Pattern(kBytes, 42);
  file.images.push_back(testsupport::OneElementImage(0, 0x08000000, data));
  const std::string path = folder.file("bench.dfu");
  if (!testsupport::WritePackage(path, file)) return 1;

  double start = 0, end = 0;
  std::string last;
  {
    TimedDialog dialog;
    dialog.SetHasDFUDevice(1);
    dialog.StartUpgrade(path);
    start = WallMs();
    dialog.DoModal();  // on a console the dialog ends by itself once the leave has run
    end = WallMs();
    last = dialog.lastStatus();
  }
  std::vector<uint8_t> flash;
  g_device->Read(0x08000000, kBytes, &flash);

  std::printf("flash_dialog_bench: 256 KiB through the dialog, poll %u ms per block, %u ms per "
              "erase\n", o.writePollMs, o.erasePollMs);
  std::printf("%-10s %11s %12s %12s %14s\n", "phase", "library ms", "device wait", "host extra",
              "noticed after");
  double library = 0, pollDelay = 0;
  uint64_t waits = 0;
  for (const Phase& p : g_phases) {
    const double took = p.ended - p.launched;
    const uint64_t waited = p.waitAtEnd - p.waitAtLaunch;
    std::printf("%-10s %11.1f %12llu %12.1f %11.1f ms\n", p.name, took,
                static_cast<unsigned long long>(waited), took - static_cast<double>(waited),
                p.noticed - p.ended);
    library += took;
    waits += waited;
    pollDelay += p.noticed - p.ended;
  }
  const double wall = end - start;
  const double toDone = g_done - start;
  const double steps = kSteps * 500.0;
  const double timers = steps + pollDelay;
  const double extra = wall - static_cast<double>(waits) - timers;
  std::printf("start to \"升级完成…\": %.1f ms; start to the dialog's end: %.1f ms\n", toDone, wall);
  std::printf("device waits %llu ms; timers %.1f ms (steps %.0f ms + polls noticing the ends "
              "%.1f ms); library beyond the device %.1f ms\n",
              static_cast<unsigned long long>(waits), timers, steps, pollDelay,
              library - static_cast<double>(waits));
  std::printf("host beyond the device's waits and the timers' periods: %.1f ms (%.1f%% of "
              "%.1f ms)\n", extra, 100.0 * extra / (static_cast<double>(waits) + timers),
              static_cast<double>(waits) + timers);
  std::printf("last status: %s; flash %s the package\n", last.c_str(),
              flash == data ? "equals" : "DIFFERS FROM");
  return 0;
}
