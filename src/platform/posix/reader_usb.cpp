// Linux reader interfaces: /dev/hidraw* nodes found through sysfs (OVRA7_SYSFS_ROOT and
// OVRA7_DEV_DIR move both roots for tests). Paths read "hid#vid_vvvv&pid_pppp#<node path>".
#include "platform/reader_usb.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace platform {

namespace {

std::string Root(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

// HID_ID=0003:00000425:00008159 in the HID device's uevent.
bool ReadHidIds(const std::string& ueventPath, unsigned* vid, unsigned* pid) {
  std::ifstream in(ueventPath);
  std::string line;
  while (std::getline(in, line)) {
    unsigned bus = 0;
    if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, vid, pid) == 3) return true;
  }
  return false;
}

class HidrawDevice : public ReaderDeviceIo {
 public:
  explicit HidrawDevice(int fd) : fd_(fd) {}
  ~HidrawDevice() override { close(fd_); }

  bool Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
               uint32_t outLength) override {
    if (code == kHidSetOutputReport && in && inLength > 0) return SendReport(in, inLength);
    if (code == kHidGetInputReport && out && outLength > 0) return ReadReport(out, outLength);
    return false;
  }

 private:
  // HIDIOCSOUTPUT where the kernel has it (5.11 and later), else a plain write: both take the
  // report id in byte 0. The exchange starts here, so input reports queued before it (from an
  // earlier command, or sent by the reader on its own) are dropped first: the read() fallback
  // would otherwise take a stale report for the reply.
  bool SendReport(const uint8_t* report, uint32_t n) {
    DrainInputQueue();
    std::string copy(reinterpret_cast<const char*>(report), n);
    if (ioctl(fd_, HIDIOCSOUTPUT(n), copy.data()) >= 0) return true;
    return write(fd_, report, n) == static_cast<ssize_t>(n);
  }

  // HIDIOCGINPUT asks the device for its current input report; the fallback takes a report the
  // device sent on its own, without blocking (the node is non-blocking), and puts the report
  // id 0 in front as the ioctl would.
  bool ReadReport(uint8_t* report, uint32_t n) {
    std::memset(report, 0, n);
    if (ioctl(fd_, HIDIOCGINPUT(n), report) >= 0) return true;
    ssize_t got = read(fd_, report + 1, n - 1);
    return got > 0;
  }

  // Reads queued reports until none is left (the node is non-blocking). Bounded, so that a
  // device that streams reports cannot hold the exchange.
  void DrainInputQueue() {
    uint8_t discard[256];
    for (int i = 0; i < kMaxStaleReports; ++i) {
      if (read(fd_, discard, sizeof discard) <= 0) break;
    }
  }

  static constexpr int kMaxStaleReports = 64;
  int fd_;
};

class HidrawHost : public ReaderUsbHost {
 public:
  bool ListHidPaths(std::vector<std::string>* out) override {
    out->clear();
    std::string classDir = Root("OVRA7_SYSFS_ROOT", "/sys") + "/class/hidraw";
    DIR* dir = opendir(classDir.c_str());
    if (!dir) return true;  // no hidraw at all: an empty list, not a failure
    while (dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
      unsigned vid = 0, pid = 0;
      if (!ReadHidIds(classDir + "/" + entry->d_name + "/device/uevent", &vid, &pid)) continue;
      char prefix[48];
      std::snprintf(prefix, sizeof prefix, "hid#vid_%04x&pid_%04x#", vid & 0xFFFF, pid & 0xFFFF);
      out->push_back(prefix + Root("OVRA7_DEV_DIR", "/dev") + "/" + entry->d_name);
    }
    closedir(dir);
    return true;
  }

  std::unique_ptr<ReaderDeviceIo> OpenHid(const std::string& path) override {
    size_t hash = path.rfind('#');
    if (hash == std::string::npos) return nullptr;
    int fd = open(path.c_str() + hash + 1, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::unique_ptr<ReaderDeviceIo>(new HidrawDevice(fd));
  }

  bool FirstVendorPath(std::string*) override { return false; }
  std::unique_ptr<ReaderDeviceIo> OpenVendor(const std::string&) override { return nullptr; }
};

}  // namespace

ReaderUsbHost& SystemReaderUsbHost() {
  static HidrawHost host;
  return host;
}

}  // namespace platform
