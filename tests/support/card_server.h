// A loopback card server on a real TCP socket: accepts the relay's connections, records what
// arrives, sends chunks back, and can close, stop reading or refuse. Portable (platform/socket.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace testsupport {

class CardServer {
 public:
  CardServer();
  ~CardServer();
  CardServer(const CardServer&) = delete;
  CardServer& operator=(const CardServer&) = delete;

  bool ok() const { return listener_ != platform::kInvalidSocket; }
  uint16_t port() const { return port_; }

  // Waits until `count` connections were accepted in all.
  bool WaitConnections(int count, int timeoutMs);
  int Connections() const;
  // Waits until the newest client's connection ended (the server read its end).
  bool WaitClientClosed(int timeoutMs);
  // Sends to the newest client; false when none or the send failed.
  bool Send(const std::vector<uint8_t>& bytes);
  // Closes the newest client (the relay sees the peer close).
  void CloseClient();
  // While false the server does not read, so the relay's sends fill the socket buffers.
  void SetReading(bool reading);

  std::vector<uint8_t> Received() const;
  bool WaitReceived(size_t bytes, int timeoutMs);

 private:
  void Run();

  platform::SocketHandle listener_ = platform::kInvalidSocket;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  platform::SocketHandle client_ = platform::kInvalidSocket;
  int connections_ = 0;
  std::vector<uint8_t> received_;
  std::atomic<bool> reading_{true};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testsupport
