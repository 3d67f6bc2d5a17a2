// The card server the program connects to: a loopback listener and one thread that accepts and
// reads every connection, feeding all that arrives into one stream check. Linux (poll).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "stream_check.h"

namespace replug {

class LoopbackServer {
 public:
  explicit LoopbackServer(StreamCheck* arriving) : arriving_(arriving) {}
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Listens on 127.0.0.1 (a free port) and starts the thread. False with *why on failure.
  bool Start(std::string* why);
  uint16_t Port() const { return port_; }

  // Connections accepted in all, and those the program has not closed yet.
  int Accepted() const;
  int StillOpen() const;
  // Waits up to timeoutMs until more than `count` connections were accepted.
  bool WaitAcceptedMoreThan(int count, int timeoutMs);

  // Sends all of n bytes to the newest connection (blocking; each send is bounded by the
  // socket's send time-out). Any thread. False with *why when there is none or a send failed.
  bool SendToNewest(const uint8_t* data, size_t n, std::string* why);

  // Shuts every connection down, so a sender blocked in SendToNewest returns with an error.
  void Unblock();
  // Ends the thread and closes every socket. Senders must have returned before.
  void Stop();

 private:
  struct Client {
    platform::SocketHandle socket;
    bool open;  // false once the program closed it
  };
  void Run();

  StreamCheck* arriving_;
  platform::SocketHandle listener_ = platform::kInvalidSocket;
  uint16_t port_ = 0;
  int wake_[2] = {-1, -1};  // a pipe that ends the thread's poll at Stop
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // Sockets stay open (and so keep their numbers) until Stop, even after the program closed its
  // end, so a sender holding a number never writes to a socket that replaced it.
  std::vector<Client> clients_;
  std::thread thread_;
};

}  // namespace replug
