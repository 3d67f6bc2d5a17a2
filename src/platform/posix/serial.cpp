// The reader's serial port on a POSIX terminal device (termios, poll) behind platform/serial.h.
// Only generic UNIX code belongs here; the pseudo-terminal helper is the Linux/glibc flavour.
#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/port_names.h"

namespace platform {

PortNameStyle NativePortNameStyle() { return PortNameStyle::kLinux; }

namespace {

// Milliseconds left until deadline (0 when it has passed), in the range poll() takes.
int MsUntil(uint64_t deadline) {
  uint64_t now = NowMs();
  if (now >= deadline) return 0;
  uint64_t left = deadline - now;
  return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

bool BaudToSpeed(int baud, speed_t* speed) {
  static const struct {
    int baud;
    speed_t speed;
  } kRates[] = {{9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& rate : kRates) {
    if (rate.baud == baud) {
      *speed = rate.speed;
      return true;
    }
  }
  return false;
}

// Raw binary line: no echo, no line editing, no signals, no character translation and no
// software flow control (XON/XOFF bytes occur inside frames). Hardware flow control and the
// rest stay as the driver reports them.
void MakeRaw(termios* t) {
  t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                       IXON | IXOFF | IXANY);
  t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
}

// Applies 8N1 at speed on top of raw mode and checks that the driver took it: tcsetattr
// succeeds when any part of a change was applied, so the result is read back.
bool ApplyLineSettings(int fd, speed_t speed) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return false;
  MakeRaw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  t.c_cflag |= CS8 | CREAD | CLOCAL;  // CLOCAL: a missing carrier must not block or hang up
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  termios check;
  if (tcgetattr(fd, &check) != 0) return false;
  return cfgetispeed(&check) == speed && cfgetospeed(&check) == speed &&
         (check.c_cflag & (CSIZE | PARENB | CSTOPB)) == CS8 && (check.c_lflag & ICANON) == 0 &&
         (check.c_iflag & IXON) == 0;
}

class PosixSerialPort : public SerialPort {
 public:
  // fd is open and non-blocking; holdFd (or -1) is kept open for the object's life; exclusive
  // says whether the device is held with TIOCEXCL, released again on close.
  PosixSerialPort(int fd, int holdFd, bool exclusive)
      : fd_(fd), holdFd_(holdFd), exclusive_(exclusive) {}

  ~PosixSerialPort() override {
    if (exclusive_) ioctl(fd_, TIOCNXCL);
    close(fd_);
    if (holdFd_ >= 0) close(holdFd_);
  }

  int Read(uint8_t* buffer, int n) override {
    if (n <= 0) return 0;
    if (!buffer) return -1;
    const uint64_t deadline =
        NowMs() + static_cast<uint64_t>(SerialTimeouts::kReadPerByteMs) * static_cast<uint64_t>(n) +
        SerialTimeouts::kReadConstantMs;
    uint64_t intervalEnd = 0;  // set once the first byte has come
    int got = 0;
    while (got < n) {
      int wait = MsUntil(deadline);
      if (got > 0 && MsUntil(intervalEnd) < wait) wait = MsUntil(intervalEnd);
      if (wait == 0) break;
      pollfd p{fd_, POLLIN, 0};
      int r = poll(&p, 1, wait);
      if (r < 0) {
        if (errno == EINTR) continue;
        return Failed(got);
      }
      if (r == 0) continue;  // the deadlines above end the loop
      if (p.revents & POLLIN) {
        ssize_t k = read(fd_, buffer + got, static_cast<size_t>(n - got));
        if (k > 0) {
          got += static_cast<int>(k);
          intervalEnd = NowMs() + SerialTimeouts::kReadIntervalMs;
          continue;
        }
        if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return Failed(got);  // 0 is end of file: the device hung up
      }
      return Failed(got);  // POLLHUP, POLLERR or POLLNVAL without data
    }
    return got;
  }

  int Write(const uint8_t* buffer, int n) override {
    if (n <= 0) return 0;
    if (!buffer) return -1;
    const uint64_t deadline =
        NowMs() +
        static_cast<uint64_t>(SerialTimeouts::kWritePerByteMs) * static_cast<uint64_t>(n) +
        SerialTimeouts::kWriteConstantMs;
    int done = 0;
    while (done < n) {
      ssize_t k = write(fd_, buffer + done, static_cast<size_t>(n - done));
      if (k > 0) {
        done += static_cast<int>(k);
        continue;
      }
      if (k < 0 && errno != EAGAIN && errno != EINTR) return -1;
      int wait = MsUntil(deadline);
      if (wait == 0) break;  // time-out: the short count is the result
      pollfd p{fd_, POLLOUT, 0};
      int r = poll(&p, 1, wait);
      if (r < 0 && errno != EINTR) return -1;
      if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
        return -1;
      }
    }
    return done;
  }

  bool QueryStatus(uint32_t* errors, uint32_t* queued) override {
    // A hung-up terminal keeps answering FIONREAD on some drivers; poll tells that it is gone.
    pollfd p{fd_, 0, 0};
    if (poll(&p, 1, 0) < 0 && errno != EINTR) return false;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
    int count = 0;
    if (ioctl(fd_, FIONREAD, &count) != 0 || count < 0) return false;
    if (errors) *errors = 0;
    if (queued) *queued = static_cast<uint32_t>(count);
    return true;
  }

  void PurgeReceive() override { tcflush(fd_, TCIFLUSH); }

  intptr_t WaitHandle() const override { return fd_; }

 private:
  // A failure after some bytes came still hands those over; the next read reports the failure.
  static int Failed(int got) { return got > 0 ? got : -1; }

  int fd_;
  int holdFd_;
  bool exclusive_;
};

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(int n, int baud) {
  if (n <= 0) return nullptr;
  return OpenSerialDevice(SerialDevicePath(n), baud);
}

std::unique_ptr<SerialPort> OpenSerialDevice(const std::string& path, int baud) {
  speed_t speed;
  if (path.empty() || !BaudToSpeed(baud, &speed)) return nullptr;
  // Non-blocking: an open must not wait for a carrier, and reads are bounded by poll() instead.
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    close(fd);
    return nullptr;
  }
  // TIOCEXCL keeps other programs out but does not bind root, nor a second open of our own;
  // the advisory lock covers both. The lock comes first so that a refused open never clears
  // the exclusive mode of whoever holds the port.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  if (ioctl(fd, TIOCEXCL) != 0 || !ApplyLineSettings(fd, speed)) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSerialPort>(fd, -1, true);
}

std::string SerialDevicePath(int n) {
  std::string name = PortNameFromNumber(n, PortNameStyle::kLinux);
  if (name.empty()) return std::string();
  const char* dir = getenv("OVRA7_DEV_DIR");
  return std::string(dir && *dir ? dir : "/dev") + "/" + name;
}

std::unique_ptr<SerialPort> OpenPseudoTerminal(std::string* peerPath) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return nullptr;
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    close(master);
    return nullptr;
  }
  // The pair keeps one handle on the other side for itself: without it the controlling side
  // reads EIO whenever no program has the peer open, and a peer reopened later would find the
  // line reset to cooked mode with echo.
  int hold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  termios t;
  if (hold < 0 || tcgetattr(hold, &t) != 0) {
    if (hold >= 0) close(hold);
    close(master);
    return nullptr;
  }
  MakeRaw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  int flags = fcntl(master, F_GETFL);
  if (tcsetattr(hold, TCSANOW, &t) != 0 || flags < 0 ||
      fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
    close(hold);
    close(master);
    return nullptr;
  }
  if (peerPath) *peerPath = name;
  return std::make_unique<PosixSerialPort>(master, hold, false);
}

}  // namespace platform
