// POSIX device and power events: a udev monitor on the tty subsystem and logind's
// PrepareForSleep signal on the system bus, both watched by one thread with poll. A "delay"
// sleep inhibitor is held while awake, so that logind waits (up to its InhibitDelayMaxSec) until
// the suspend has been handled before the machine sleeps. Where udev does not run (containers,
// minimal systems) nobody announces devices, so the device folder itself is watched with
// inotify; a folder named by OVRA7_DEV_DIR is always watched, as udev never announces it. The watch
// follows the folder's name: its parent tells when a folder of that name goes or comes (again).
#include "platform/desktop_events.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/port_names.h"

namespace platform {
namespace {

class PosixEventMonitor : public DesktopEventMonitor {
 public:
  PosixEventMonitor(std::function<void(int)> onDevice, std::function<void(int)> onPower)
      : onDevice_(std::move(onDevice)), onPower_(std::move(onPower)) {
    if (pipe(stopPipe_) != 0) stopPipe_[0] = stopPipe_[1] = -1;
    OpenUdev();
    OpenFolderWatch();
    OpenBus();
    if (stopPipe_[0] >= 0) thread_ = std::thread([this] { Run(); });
  }

  ~PosixEventMonitor() override {
    if (stopPipe_[1] >= 0) {
      char c = 0;
      ssize_t ignored = write(stopPipe_[1], &c, 1);
      (void)ignored;
    }
    if (thread_.joinable()) thread_.join();
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
    if (inotify_ >= 0) close(inotify_);
    ReleaseInhibitor();
    if (bus_) sd_bus_flush_close_unref(bus_);
    for (int fd : stopPipe_)
      if (fd >= 0) close(fd);
  }

 private:
  void OpenUdev() {
    udev_ = udev_new();
    if (!udev_) return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      if (monitor_) udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }

  void OpenFolderWatch() {
    const char* dir = getenv("OVRA7_DEV_DIR");
    const bool ownFolder = dir && *dir;
    // udev's own sign of life: its control socket, which libudev checks too.
    if (!ownFolder && access("/run/udev/control", F_OK) == 0) return;
    folder_ = ownFolder ? dir : "/dev";
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
    const size_t slash = folder_.rfind('/');
    folderName_ = slash == std::string::npos ? folder_ : folder_.substr(slash + 1);
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : folder_.substr(0, slash);
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) return;
    parentWatch_ = inotify_add_watch(
        inotify_, parent.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR);
    if (!WatchFolder() && parentWatch_ < 0) {
      close(inotify_);
      inotify_ = -1;  // nothing to watch: devices fall to the periodic scan
    }
  }

  bool WatchFolder() {
    folderWatch_ = inotify_add_watch(
        inotify_, folder_.c_str(),
        IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_MOVE_SELF | IN_ONLYDIR);
    return folderWatch_ >= 0;
  }

  // The folder under the name went (removed, renamed away), and its nodes with it; the first of
  // the several signs of that is reported.
  void FolderGone() {
    if (folderWatch_ < 0) return;
    inotify_rm_watch(inotify_, folderWatch_);  // a renamed folder would go on reporting
    folderWatch_ = -1;
    Report(kDevNodesChanged);
  }

  void Report(int kind) {
    if (onDevice_) onDevice_(kind);
  }

  // Nodes of serial ports come and go as device arrivals and removals; anything else in the
  // folder is not the window's business.
  void HandleFolderEvents() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      ssize_t n = read(inotify_, buffer, sizeof buffer);
      if (n <= 0) return;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (at > n) break;
        const bool ours = event->len > 0 && folderName_ == event->name;
        if (event->mask & IN_Q_OVERFLOW) {
          // Events were lost (the folder may have come back among them): one scan finds the truth.
          if (folderWatch_ < 0) WatchFolder();
          Report(kDevNodesChanged);
        } else if (event->wd == parentWatch_) {
          if (event->mask & IN_IGNORED) parentWatch_ = -1;  // the parent went: no more returns
          if (!ours) continue;
          if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
            FolderGone();
          } else if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
            // A new folder under the name, maybe holding nodes already (or one moved over the
            // watched folder, which is gone then).
            if (folderWatch_ >= 0) inotify_rm_watch(inotify_, folderWatch_);
            WatchFolder();
            Report(kDevNodesChanged);
          }
        } else if (event->wd == folderWatch_) {
          if (event->mask & (IN_IGNORED | IN_MOVE_SELF)) {
            FolderGone();
          } else if (event->len > 0 && PortNumberFromName(event->name, PortNameStyle::kLinux) > 0) {
            Report((event->mask & (IN_CREATE | IN_MOVED_TO)) ? kDeviceArrival
                                                             : kDeviceRemoveComplete);
          }
        }
        // Anything else comes from a folder no longer watched.
      }
    }
  }

  void OpenBus() {
    if (sd_bus_open_system(&bus_) < 0) {
      bus_ = nullptr;
      return;
    }
    if (sd_bus_match_signal(bus_, nullptr, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep", &OnSleepSignal,
                            this) < 0) {
      sd_bus_flush_close_unref(bus_);
      bus_ = nullptr;
      return;
    }
    TakeInhibitor();
  }

  void TakeInhibitor() {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_call_method(bus_, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                           "sleep", "Ovra7Server", "tell the card reader before suspend",
                           "delay") >= 0) {
      int fd = -1;
      if (sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0)
        inhibitor_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);  // the message owns fd; keep a copy
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
  }

  void ReleaseInhibitor() {
    if (inhibitor_ >= 0) close(inhibitor_);
    inhibitor_ = -1;
  }

  static int OnSleepSignal(sd_bus_message* message, void* self, sd_bus_error*) {
    int goingToSleep = 0;
    if (sd_bus_message_read(message, "b", &goingToSleep) < 0) return 0;
    auto* monitor = static_cast<PosixEventMonitor*>(self);
    // onPower returns once the window has handled the event; only then may the machine sleep.
    if (monitor->onPower_) monitor->onPower_(goingToSleep ? kPowerSuspend : kPowerResumeAutomatic);
    if (goingToSleep)
      monitor->ReleaseInhibitor();
    else if (monitor->inhibitor_ < 0)
      monitor->TakeInhibitor();
    return 0;
  }

  void HandleUdev() {
    struct udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) return;
    const char* action = udev_device_get_action(device);
    int kind = kDevNodesChanged;
    if (action && std::strcmp(action, "add") == 0) kind = kDeviceArrival;
    if (action && std::strcmp(action, "remove") == 0) kind = kDeviceRemoveComplete;
    udev_device_unref(device);
    if (onDevice_) onDevice_(kind);
  }

  void Run() {
    for (;;) {
      struct pollfd fds[4];
      int n = 0;
      fds[n++] = {stopPipe_[0], POLLIN, 0};
      int udevIndex = -1, busIndex = -1, folderIndex = -1;
      if (monitor_) {
        udevIndex = n;
        fds[n++] = {udev_monitor_get_fd(monitor_), POLLIN, 0};
      }
      if (inotify_ >= 0) {
        folderIndex = n;
        fds[n++] = {inotify_, POLLIN, 0};
      }
      if (bus_) {
        // Drain whatever the bus holds before sleeping on its descriptor.
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
        int events = sd_bus_get_events(bus_);
        if (events >= 0) {
          busIndex = n;
          fds[n++] = {sd_bus_get_fd(bus_), static_cast<short>(events), 0};
        }
      }
      if (poll(fds, static_cast<nfds_t>(n), -1) < 0) continue;
      if (fds[0].revents) return;
      if (udevIndex >= 0 && (fds[udevIndex].revents & POLLIN)) HandleUdev();
      if (udevIndex >= 0 && (fds[udevIndex].revents & (POLLERR | POLLHUP | POLLNVAL))) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;  // a broken monitor would wake us forever; devices fall to the scan
      }
      if (folderIndex >= 0 && fds[folderIndex].revents) HandleFolderEvents();
      if (busIndex >= 0 && (fds[busIndex].revents & (POLLERR | POLLHUP))) {
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;  // the bus went away: power events stay silent from now on
      }
    }
  }

  std::function<void(int)> onDevice_;
  std::function<void(int)> onPower_;
  int stopPipe_[2] = {-1, -1};
  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
  // Where udev does not announce devices: the device folder's watch and its parent's.
  int inotify_ = -1;
  std::string folder_;      // the device folder's path ...
  std::string folderName_;  // ... and its last part, as the parent's events name it
  int folderWatch_ = -1;    // -1 while no folder has the name
  int parentWatch_ = -1;
  sd_bus* bus_ = nullptr;
  int inhibitor_ = -1;  // logind's delay lock, held while awake
  std::thread thread_;
};

}  // namespace

std::unique_ptr<DesktopEventMonitor> StartDesktopEventMonitor(std::function<void(int)> onDevice,
                                                              std::function<void(int)> onPower) {
  return std::make_unique<PosixEventMonitor>(std::move(onDevice), std::move(onPower));
}

}  // namespace platform
