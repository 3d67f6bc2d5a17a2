// Linux serial peer: a pty whose slave stands in for /dev/ttyACM<n-1> through $OVRA7_DEV_DIR.
// The master side is driven with plain system calls, independent of the code under test.
#include "platform/serial_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/port_names.h"

namespace testsupport {
namespace {

// One device folder per test process, removed at exit.
class DeviceFolder {
 public:
  DeviceFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ovra7-dev-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    if (!path_.empty()) setenv("OVRA7_DEV_DIR", path_.c_str(), 1);
  }
  ~DeviceFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Describe(const termios& t) {
  std::string text;
  speed_t s = cfgetospeed(&t);
  text = s == B115200 ? "115200" : s == B9600 ? "9600" : "other";
  unsigned size = t.c_cflag & CSIZE;
  text += " ";
  text += size == CS8 ? "8" : size == CS7 ? "7" : "?";
  text += (t.c_cflag & PARENB) ? "E" : "N";
  text += (t.c_cflag & CSTOPB) ? "2" : "1";
  std::string cooked;
  if (t.c_lflag & ICANON) cooked += " icanon";
  if (t.c_lflag & ECHO) cooked += " echo";
  if (t.c_lflag & ISIG) cooked += " isig";
  if (t.c_iflag & IXON) cooked += " ixon";
  if (t.c_iflag & ICRNL) cooked += " icrnl";
  if (t.c_oflag & OPOST) cooked += " opost";
  return text + (cooked.empty() ? " raw" : cooked);
}

class PtyPeer : public SerialPeer {
 public:
  PtyPeer(int master, int hold, std::string link) : master_(master), hold_(hold), link_(link) {}
  ~PtyPeer() override {
    Vanish();
    unlink(link_.c_str());
  }

  bool Send(const uint8_t* data, int n) override {
    int done = 0;
    while (done < n && master_ >= 0) {
      ssize_t k = write(master_, data + done, static_cast<size_t>(n - done));
      if (k > 0) {
        done += static_cast<int>(k);
      } else if (k < 0 && errno != EINTR && errno != EAGAIN) {
        return false;
      } else {
        pollfd p{master_, POLLOUT, 0};
        if (poll(&p, 1, 2000) <= 0) return false;
      }
    }
    return done == n;
  }

  int Receive(uint8_t* data, int n, int timeoutMs) override {
    if (master_ < 0) return -1;
    pollfd p{master_, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r == 0) return 0;
    if (r < 0) return -1;
    ssize_t k = read(master_, data, static_cast<size_t>(n));
    return k < 0 ? (errno == EAGAIN ? 0 : -1) : static_cast<int>(k);
  }

  std::string LineSettings() override {
    termios t;
    if (hold_ < 0 || tcgetattr(hold_, &t) != 0) return "gone";
    return Describe(t);
  }

  void Vanish() override {
    if (master_ >= 0) close(master_);
    if (hold_ >= 0) close(hold_);
    master_ = hold_ = -1;
  }

 private:
  int master_;
  int hold_;  // keeps the slave's settings readable and the master free of EIO between opens
  std::string link_;
};

}  // namespace

std::unique_ptr<SerialPeer> SerialPeer::Create(int n, std::string* why) {
  static DeviceFolder folder;
  if (folder.path().empty()) {
    *why = "no device folder";
    return nullptr;
  }
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0) {
    *why = "no pty";
    if (master >= 0) close(master);
    return nullptr;
  }
  int hold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  if (hold < 0 || tcgetattr(hold, &t) != 0) {
    *why = "pty slave does not open";
    close(master);
    if (hold >= 0) close(hold);
    return nullptr;
  }
  // A cooked 9600 7E2 line, so that every setting the port reports was made by the open.
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB;
  t.c_lflag |= ICANON | ECHO | ISIG;
  t.c_iflag |= IXON | ICRNL;
  t.c_oflag |= OPOST;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  tcsetattr(hold, TCSANOW, &t);
  std::string link =
      folder.path() + "/" + platform::PortNameFromNumber(n, platform::PortNameStyle::kLinux);
  unlink(link.c_str());
  if (symlink(name, link.c_str()) != 0) {
    *why = "cannot link " + link;
    close(master);
    close(hold);
    return nullptr;
  }
  return std::make_unique<PtyPeer>(master, hold, link);
}

}  // namespace testsupport
