// The loopback card server's accept-and-read thread.
#include "loopback_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace replug {

namespace {

// A send blocked this long means the program stopped reading; the cycle's give-up is as long.
constexpr int kSendTimeoutMs = 30000;

}  // namespace

LoopbackServer::~LoopbackServer() { Stop(); }

bool LoopbackServer::Start(std::string* why) {
  listener_ = platform::ListenLoopback(0, &port_);
  if (listener_ == platform::kInvalidSocket) {
    *why = "cannot listen on 127.0.0.1";
    return false;
  }
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *why = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  thread_ = std::thread(&LoopbackServer::Run, this);
  return true;
}

void LoopbackServer::Run() {
  std::vector<uint8_t> buffer(65536);
  while (true) {
    std::vector<pollfd> fds;
    std::vector<size_t> which;  // clients_ index of each fds entry after the first two
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({static_cast<int>(listener_), POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; i < clients_.size(); ++i) {
        if (!clients_[i].open) continue;
        fds.push_back({static_cast<int>(clients_[i].socket), POLLIN, 0});
        which.push_back(i);
      }
    }
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) {
      platform::SocketHandle s = platform::Accept(listener_, 0);
      if (s != platform::kInvalidSocket) {
        platform::SetSendTimeout(s, kSendTimeoutMs);
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.push_back({s, true});
      }
      changed_.notify_all();
    }
    for (size_t k = 2; k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      platform::SocketHandle s;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        s = clients_[which[k - 2]].socket;
      }
      int n = platform::Receive(s, buffer.data(), static_cast<int>(buffer.size()));
      if (n > 0) {
        arriving_->Feed(buffer.data(), static_cast<size_t>(n));
        continue;
      }
      // The program closed the connection (or it failed): stop reading it.
      shutdown(static_cast<int>(s), SHUT_RDWR);
      std::lock_guard<std::mutex> lock(mutex_);
      clients_[which[k - 2]].open = false;
    }
  }
}

int LoopbackServer::Accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(clients_.size());
}

int LoopbackServer::StillOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Client& c : clients_) n += c.open;
  return n;
}

bool LoopbackServer::WaitAcceptedMoreThan(int count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return static_cast<int>(clients_.size()) > count; });
}

bool LoopbackServer::SendToNewest(const uint8_t* data, size_t n, std::string* why) {
  platform::SocketHandle s = platform::kInvalidSocket;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!clients_.empty() && clients_.back().open) s = clients_.back().socket;
  }
  if (s == platform::kInvalidSocket) {
    *why = "the program holds no open server connection";
    return false;
  }
  size_t done = 0;
  while (done < n) {
    int k = platform::Send(s, data + done, static_cast<int>(n - done));
    if (k <= 0) {
      *why = "send to the program failed (closed, or not read for 30 s)";
      return false;
    }
    done += static_cast<size_t>(k);
  }
  return true;
}

void LoopbackServer::Unblock() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Client& c : clients_) shutdown(static_cast<int>(c.socket), SHUT_RDWR);
}

void LoopbackServer::Stop() {
  if (thread_.joinable()) {
    const char stop = 1;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (Client& c : clients_) platform::CloseSocket(c.socket);
  clients_.clear();
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  platform::CloseSocket(listener_);
  listener_ = platform::kInvalidSocket;
}

}  // namespace replug
