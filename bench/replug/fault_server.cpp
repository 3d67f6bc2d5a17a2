// The fault soak's card server thread.
#include "fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace replug {

namespace {

// The largest chunk the server writes at once.
constexpr size_t kMaxChunk = 4095;

}  // namespace

bool FaultServer::Start(std::string* why) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *why = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (!Listen(why)) return false;
  thread_ = std::thread(&FaultServer::Run, this);
  return true;
}

bool FaultServer::Listen(std::string* why) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    *why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);  // 0 the first time: a free one
  socklen_t length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *why = "cannot listen on 127.0.0.1:" + std::to_string(port_) + ": " + std::strerror(errno);
    close(s);
    return false;
  }
  port_ = ntohs(address.sin_port);
  listener_ = s;
  return true;
}

void FaultServer::Stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    const char stop = 1;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : connections_) {
    if (c->fd >= 0) close(c->fd);
    c->fd = -1;
  }
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void FaultServer::Do(const std::function<void()>& action) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable() || stopping_) return;
  actions_.push_back(action);
  const uint64_t mine = ++actionsPosted_;
  const char wake = 1;
  while (write(wake_[1], &wake, 1) < 0 && errno == EINTR) {
  }
  done_.wait(lock, [&] { return actionsDone_ >= mine || stopping_; });
}

bool FaultServer::CloseNewest(bool reset, std::string* why) {
  bool closed = false;
  Do([&] {
    Connection* c = connections_.empty() ? nullptr : connections_.back().get();
    if (!c || c->fd < 0) return;
    closed = true;
    if (reset) {
      // A zero linger makes the close an RST: the program's next receive fails at once.
      const linger hard{1, 0};
      setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      Drop(*c);
    } else {
      // FIN: the server reads on until the program closes its end.
      shutdown(c->fd, SHUT_WR);
      c->writing = false;
    }
  });
  if (!closed) *why = "no open connection to close";
  return closed;
}

bool FaultServer::SetListening(bool on, std::string* why) {
  bool ok = true;
  Do([&] {
    if (!on && listener_ >= 0) {
      close(listener_);
      listener_ = -1;
    } else if (on && listener_ < 0) {
      ok = Listen(why);
    }
  });
  return ok;
}

void FaultServer::SetReading(bool on) {
  Do([&] { reading_ = on; });
}

void FaultServer::SetSending(bool on) {
  Do([&] { sending_ = on; });
}

int FaultServer::Accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(connections_.size());
}

FaultServer::Link FaultServer::Describe(const Connection& c) {
  Link link;
  link.id = c.id;
  link.open = c.fd >= 0;
  link.up = c.up->Current();
  link.downSent = c.downSent;
  return link;
}

FaultServer::Link FaultServer::Newest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_.empty() ? Link() : Describe(*connections_.back());
}

std::vector<FaultServer::Link> FaultServer::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Link> links;
  for (const auto& c : connections_) links.push_back(Describe(*c));
  return links;
}

EpochTotals FaultServer::UpTotals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  EpochTotals sum;
  for (const auto& c : connections_) {
    const EpochTotals t = c->up->Totals();
    sum.links += t.links;
    sum.bytes += t.bytes;
    sum.wrong += t.wrong;
    sum.badHeads += t.badHeads;
    sum.outside += t.outside;
  }
  return sum;
}

uint64_t FaultServer::DownSent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t sum = 0;
  for (const auto& c : connections_) sum += c->downSent;
  return sum;
}

void FaultServer::Drop(Connection& c) {
  if (c.fd >= 0) close(c.fd);
  c.fd = -1;
  c.reading = c.writing = false;
}

void FaultServer::Accept() {
  int s = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) return;
  auto c = std::make_unique<Connection>();
  c->fd = s;
  c->id = static_cast<uint32_t>(connections_.size() + 1);
  c->up = std::make_unique<EpochCheck>(runSeed_, Direction::kUp);
  c->up->Begin();
  connections_.push_back(std::move(c));
}

void FaultServer::ReadFrom(Connection& c) {
  uint8_t buffer[65536];
  const ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n > 0) {
    c.up->Feed(buffer, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    Drop(c);  // the program closed its end (or reset it)
  }
}

void FaultServer::WriteTo(Connection& c) {
  uint8_t chunk[kMaxChunk];
  std::uniform_int_distribution<size_t> pick(1, kMaxChunk);
  const size_t n = pick(sizes_);
  FillEpoch(runSeed_, Direction::kDown, c.id, c.downSent, chunk, n);
  const ssize_t sent = send(c.fd, chunk, n, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent > 0) {
    c.downSent += static_cast<uint64_t>(sent);
  } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    c.writing = false;
  }
}

void FaultServer::Run() {
  std::vector<pollfd> fds;
  std::vector<Connection*> polled;
  while (true) {
    fds.clear();
    polled.clear();
    fds.push_back({wake_[0], POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fds.push_back({listener_, POLLIN, 0});  // a negative descriptor is skipped by poll
      for (size_t i = 0; i < connections_.size(); ++i) {
        Connection& c = *connections_[i];
        if (c.fd < 0) continue;
        short events = 0;
        if (reading_ && c.reading) events |= POLLIN;
        // Only the newest connection gets the down stream: the program reads only that one.
        if (sending_ && c.writing && i + 1 == connections_.size()) events |= POLLOUT;
        // Not polled at all while nothing is wanted of it: a hang-up would wake poll at once.
        if (!events) continue;
        fds.push_back({c.fd, events, 0});
        polled.push_back(&c);
      }
    }
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
    std::vector<std::function<void()>> actions;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      done_.notify_all();
      return;
    }
    if (fds[0].revents) {
      char drain[64];
      while (read(wake_[0], drain, sizeof drain) > 0) {
      }
    }
    if (fds[1].fd >= 0 && (fds[1].revents & POLLIN) && listener_ == fds[1].fd) Accept();
    for (size_t k = 2; k < fds.size(); ++k) {
      Connection& c = *polled[k - 2];
      if (c.fd != fds[k].fd || !fds[k].revents) continue;
      if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) && reading_ && c.reading) ReadFrom(c);
      if (c.fd >= 0 && (fds[k].revents & (POLLOUT | POLLERR | POLLHUP)) && c.writing) WriteTo(c);
    }
    actions.swap(actions_);
    for (auto& action : actions) action();
    actionsDone_ += actions.size();
    if (!actions.empty()) done_.notify_all();
  }
}

}  // namespace replug
