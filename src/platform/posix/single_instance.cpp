// POSIX single instance and control channel: flock on a file in $XDG_RUNTIME_DIR and a local
// stream socket beside it, mode 0600, that serves one text request per connection to the same
// user only (peer credentials). Only generic Linux code belongs here.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/control_protocol.h"
#include "platform/paths.h"

namespace platform {
namespace {

constexpr int kRequestTimeoutMs = 2000;  // a client gets this long to send its request
constexpr int kReplyTimeoutMs = 60000;   // a start may test the server and talk to the reader
constexpr int kNoTimeout = -1;           // an upgrade's answer: the flash bounds itself
constexpr size_t kRequestMax = 64;
constexpr size_t kReplyMax = 1024;  // a status line of the flashing dialog

std::string RuntimeDir() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir == '/') return dir;
  std::string temp = UserTempDir();  // 0700 and ours, or ""
  if (!temp.empty() && temp.back() == '/') temp.pop_back();
  return temp;
}

std::string LockPath() { return RuntimeDir() + "/ovra7server.lock"; }
std::string SocketPath() { return RuntimeDir() + "/ovra7server.sock"; }

bool FillAddress(sockaddr_un* address) {
  std::string path = SocketPath();
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads up to a line break within timeoutMs; false on time-out, error or a line longer than
// maxLength.
bool ReadLine(int fd, std::string* line, int timeoutMs, size_t maxLength) {
  line->clear();
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char c;
    ssize_t n = recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line->empty();  // the peer closed: what came is the request
    if (c == '\n') return true;
    if (line->size() >= maxLength) return false;
    line->push_back(c);
  }
}

bool SendText(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

class FileLock : public InstanceLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  ~FileLock() override {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_;
};

// An "upgrade" request's connection, kept open until its answer: the last holder closes it.
class PendingConnection {
 public:
  explicit PendingConnection(int fd) : fd_(fd) {}
  ~PendingConnection() {
    if (fd_ >= 0) close(fd_);
  }
  void Answer(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    if (answered_ || fd_ < 0) return;
    answered_ = true;
    SendText(fd_, text);
  }

 private:
  std::mutex lock_;
  int fd_;
  bool answered_ = false;
};

class SocketListener : public ControlListener {
 public:
  SocketListener(int listenFd, std::function<long(int, int)> onCommand,
                 std::function<void()> onShow, std::function<void(UpgradeReply)> onUpgrade)
      : listenFd_(listenFd),
        onCommand_(std::move(onCommand)),
        onShow_(std::move(onShow)),
        onUpgrade_(std::move(onUpgrade)) {
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) stopPipe_[0] = stopPipe_[1] = -1;
    thread_ = std::thread([this] { Run(); });
  }
  ~SocketListener() override {
    if (stopPipe_[1] >= 0) {
      char c = 0;
      ssize_t ignored = write(stopPipe_[1], &c, 1);
      (void)ignored;
    }
    if (thread_.joinable()) thread_.join();
    close(listenFd_);
    unlink(SocketPath().c_str());
    for (int fd : stopPipe_)
      if (fd >= 0) close(fd);
  }

 private:
  void Run() {
    for (;;) {
      struct pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
      int ready = poll(fds, stopPipe_[0] >= 0 ? 2 : 1, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || fds[1].revents) return;
      int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      Serve(client);
      close(client);
    }
  }

  void Serve(int client) {
    struct ucred peer;
    socklen_t size = sizeof peer;
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid())
      return;  // another user: not even an answer
    std::string line;
    int command = 0, argument = 0;
    if (!ReadLine(client, &line, kRequestTimeoutMs, kRequestMax) ||
        !ParseControlRequest(line, &command, &argument)) {
      SendText(client, "error\n");
      return;
    }
    if (command == kControlShow) {
      if (onShow_) onShow_();
      SendText(client, "ok\n");
      return;
    }
    if (command == kControlUpgrade) {
      if (!onUpgrade_) {
        SendText(client, FormatUpgradeReply(kUpgradeNoDevice, ""));
        return;
      }
      // The flash may take minutes: the connection waits for its answer on its own, and this
      // thread goes back to serving the others (a "status", a second start's "show").
      auto connection = std::make_shared<PendingConnection>(fcntl(client, F_DUPFD_CLOEXEC, 0));
      onUpgrade_([connection](long result, const std::string& status) {
        connection->Answer(FormatUpgradeReply(result, status));
      });
      return;
    }
    long result = onCommand_ ? onCommand_(command, argument) : 0;
    SendText(client, std::to_string(result) + "\n");
  }

  int listenFd_;
  int stopPipe_[2] = {-1, -1};
  std::function<long(int, int)> onCommand_;
  std::function<void()> onShow_;
  std::function<void(UpgradeReply)> onUpgrade_;
  std::thread thread_;
};

// Sends one request and reads the one-line answer. *connected (optional) tells whether anybody
// took the request.
bool Exchange(const std::string& request, std::string* reply, int timeoutMs = kReplyTimeoutMs,
              bool* connected = nullptr) {
  if (connected) *connected = false;
  sockaddr_un address;
  if (!FillAddress(&address)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            SendText(fd, request);
  if (connected) *connected = ok;
  ok = ok && ReadLine(fd, reply, timeoutMs, kReplyMax);
  close(fd);
  return ok;
}

}  // namespace

std::unique_ptr<InstanceLock> AcquireInstanceLock(bool* alreadyRunning) {
  *alreadyRunning = false;
  std::string dir = RuntimeDir();
  if (dir.empty()) return std::make_unique<FileLock>(-1);
  int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return std::make_unique<FileLock>(-1);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *alreadyRunning = (errno == EWOULDBLOCK);
    close(fd);
    return std::make_unique<FileLock>(-1);
  }
  return std::make_unique<FileLock>(fd);
}

bool ShowRunningInstance(const std::string&) {
  std::string reply;
  return Exchange(FormatControlRequest(kControlShow, 0), &reply) && reply == "ok";
}

bool SendControlCommand(const std::string&, int command, int argument, long* result) {
  std::string request = FormatControlRequest(command, argument);
  std::string reply;
  if (request.empty() || !Exchange(request, &reply) || reply.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(reply.c_str(), &end, 10);
  if (errno != 0 || end == reply.c_str() || *end != '\0') return false;
  *result = value;
  return true;
}

bool InstanceRunning(const std::string&) {
  sockaddr_un address;
  if (!FillAddress(&address)) return false;
  // Non-blocking: a listener busy with other clients has a full backlog, which refuses with
  // EAGAIN instead of waiting, and is running all the same.
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool listening =
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
  close(fd);
  return listening;
}

bool ControlChannelCarriesUpgrade() { return true; }

UpgradeExchange SendUpgradeCommand(long* result, std::string* statusLine) {
  std::string reply;
  bool connected = false;
  if (Exchange(FormatControlRequest(kControlUpgrade, 0), &reply, kNoTimeout, &connected) &&
      ParseUpgradeReply(reply, result, statusLine))
    return UpgradeExchange::kAnswered;
  return connected ? UpgradeExchange::kNoAnswer : UpgradeExchange::kNoInstance;
}

std::unique_ptr<ControlListener> StartControlListener(std::function<long(int, int)> onCommand,
                                                      std::function<void()> onShow,
                                                      std::function<void(UpgradeReply)> onUpgrade) {
  sockaddr_un address;
  if (RuntimeDir().empty() || !FillAddress(&address)) return nullptr;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  // We hold the instance lock, so a socket file left here is a stale one from a crash.
  unlink(address.sun_path);
  mode_t old = umask(0177);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  umask(old);
  if (bound != 0 || chmod(address.sun_path, 0600) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<SocketListener>(fd, std::move(onCommand), std::move(onShow),
                                          std::move(onUpgrade));
}

void WatchTerminationSignals(std::function<void()> onSignal) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  // Blocked here, in the main thread, so that every thread started later inherits the mask and
  // only the watcher below receives them.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, onSignal = std::move(onSignal)]() mutable {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) == 0 && onSignal) onSignal();
    }
  }).detach();
}

}  // namespace platform
