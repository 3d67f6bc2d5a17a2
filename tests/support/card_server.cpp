// The loopback card server's accept-and-read thread.
#include "support/card_server.h"

#include <chrono>

#include "platform/clock.h"

namespace testsupport {

CardServer::CardServer() {
  listener_ = platform::ListenLoopback(0, &port_);
  if (ok()) thread_ = std::thread(&CardServer::Run, this);
}

CardServer::~CardServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  platform::CloseSocket(client_);
  platform::CloseSocket(listener_);
}

void CardServer::Run() {
  uint8_t buffer[65536];
  while (!stop_) {
    platform::SocketHandle incoming = platform::Accept(listener_, 0);
    if (incoming != platform::kInvalidSocket) {
      std::lock_guard<std::mutex> lock(mutex_);
      platform::CloseSocket(client_);
      client_ = incoming;
      ++connections_;
      changed_.notify_all();
    }
    platform::SocketHandle c;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      c = client_;
    }
    if (c == platform::kInvalidSocket || !reading_) {
      platform::SleepMs(1);
      continue;
    }
    if (platform::WaitReadable(c, 1000) <= 0) continue;
    int n = platform::Receive(c, buffer, sizeof buffer);
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      if (client_ == c) {
        platform::CloseSocket(client_);
        client_ = platform::kInvalidSocket;
        changed_.notify_all();
      }
      continue;
    }
    received_.insert(received_.end(), buffer, buffer + n);
    changed_.notify_all();
  }
}

bool CardServer::WaitConnections(int count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return connections_ >= count; });
}

bool CardServer::WaitClientClosed(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return connections_ > 0 && client_ == platform::kInvalidSocket;
  });
}

int CardServer::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool CardServer::Send(const std::vector<uint8_t>& bytes) {
  platform::SocketHandle c;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    c = client_;
  }
  if (c == platform::kInvalidSocket) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    int n = platform::Send(c, bytes.data() + done, static_cast<int>(bytes.size() - done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void CardServer::CloseClient() {
  std::lock_guard<std::mutex> lock(mutex_);
  platform::CloseSocket(client_);
  client_ = platform::kInvalidSocket;
}

void CardServer::SetReading(bool reading) { reading_ = reading; }

std::vector<uint8_t> CardServer::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool CardServer::WaitReceived(size_t bytes, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.size() >= bytes; });
}

}  // namespace testsupport
