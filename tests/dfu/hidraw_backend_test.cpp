// The Linux hidraw backend over a fake sysfs and device folder: paths carry the ids in lower
// case so the portable matching rule holds, the node behind a path opens, and the exchange
// runs over a pty standing in for the reader's node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "dfu/reader_usb_port.h"
#include "platform/reader_usb.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// hidraw5 is the reader, played by a pty: the ioctls fail on it (ENOTTY) as on kernels without
// HIDIOCSOUTPUT/HIDIOCGINPUT, so the backend writes the output report and reads input reports
// from the queue, which the test fills through the master side. hidraw0 is another device.
class FakeHidraw {
 public:
  FakeHidraw() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    termios raw;
    if (slave_ < 0 || tcgetattr(slave_, &raw) != 0) return;
    cfmakeraw(&raw);
    ok_ = tcsetattr(slave_, TCSANOW, &raw) == 0;
    fs::create_directories(dev());
    for (const char* node : {"hidraw0", "hidraw5"}) {
      fs::create_directories(root_.path() / "sys/class/hidraw" / node / "device");
      std::ofstream(root_.path() / "sys/class/hidraw" / node / "device/uevent")
          << "DRIVER=hid-generic\nHID_ID=0003:"
          << (node[6] == '0' ? "0000046D:0000C52B" : "00000425:00008159") << "\nHID_NAME=x\n";
    }
    std::ofstream(dev() / "hidraw0") << "";
    fs::create_symlink(ptsname(master_), dev() / "hidraw5");
    setenv("OVRA7_SYSFS_ROOT", (root_.path() / "sys").c_str(), 1);
    setenv("OVRA7_DEV_DIR", dev().c_str(), 1);
  }
  ~FakeHidraw() {
    unsetenv("OVRA7_SYSFS_ROOT");
    unsetenv("OVRA7_DEV_DIR");
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return ok_; }
  fs::path dev() const { return root_.path() / "dev"; }
  // One input report as hidraw gives it: 64 bytes, no report id (the reports are unnumbered).
  bool QueueInputReport(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> report(64, 0);
    std::copy(frame.begin(), frame.end(), report.begin());
    return write(master_, report.data(), report.size()) == 64;
  }
  // Waits (bounded generously) for the 65-byte output report the host wrote.
  std::vector<uint8_t> TakeOutputReport() {
    std::vector<uint8_t> got;
    while (got.size() < 65) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) break;
      uint8_t buffer[128];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  testsupport::TempFolder root_;
  int master_ = -1;
  int slave_ = -1;
  bool ok_ = false;
};

const std::vector<uint8_t> kPositive = {0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA};
const std::vector<uint8_t> kNegative = {0x55, 0xAA, 0x04, 0x31, 0x00, 0x00, 0xCA};

}  // namespace

TEST(HidrawBackend, ListsNodesWithTheirIdsAndOpensThem) {
  FakeHidraw nodes;
  ASSERT_TRUE(nodes.ok());
  platform::ReaderUsbHost& host = platform::SystemReaderUsbHost();
  std::vector<std::string> paths;
  ASSERT_TRUE(host.ListHidPaths(&paths));
  std::sort(paths.begin(), paths.end());
  ASSERT_EQ(2u, paths.size());
  EXPECT_EQ("hid#vid_0425&pid_8159#" + (nodes.dev() / "hidraw5").string(), paths[0]);
  EXPECT_EQ("hid#vid_046d&pid_c52b#" + (nodes.dev() / "hidraw0").string(), paths[1]);
  EXPECT_NE(nullptr, host.OpenHid(paths[0]));
  EXPECT_EQ(nullptr, host.OpenHid("hid#vid_0425&pid_8159#/nonexistent"));
  std::string vendor;
  EXPECT_FALSE(host.FirstVendorPath(&vendor));  // no vendor route on Linux
}

// Reports left in the queue before the command (a reply to an earlier one, or one the reader
// sent on its own) must not be taken for the reply to this one.
TEST(HidrawBackend, StaleInputReportsAreDroppedBeforeTheExchange) {
  {
    // A stale acknowledgement and a reader that never answers: the command failed.
    FakeHidraw node;
    ASSERT_TRUE(node.ok());
    ASSERT_TRUE(node.QueueInputReport(kPositive));
    ReaderUsbPort port;
    EXPECT_EQ(0, port.SendEnterDfu());
    std::vector<uint8_t> sent = node.TakeOutputReport();
    ASSERT_EQ(65u, sent.size());
    EXPECT_EQ(0x00, sent[0]);  // report id
    EXPECT_TRUE(std::equal(std::begin(kEnterDfuFrame), std::end(kEnterDfuFrame), sent.begin() + 1));
  }
  // A stale refusal, then the reader acknowledges this command: it succeeded.
  FakeHidraw node;
  ASSERT_TRUE(node.ok());
  ASSERT_TRUE(node.QueueInputReport(kNegative));
  std::thread reader([&] {
    if (node.TakeOutputReport().size() == 65) node.QueueInputReport(kPositive);
  });
  ReaderUsbPort port;
  EXPECT_EQ(1, port.SendEnterDfu());
  reader.join();
}
