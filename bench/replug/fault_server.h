// The card server of the fault soak: one thread that accepts, reads and checks every connection
// (each carries one link's stream up) and writes the newest connection's stream down as fast as
// the program takes it, in chunks of random size as a card server writes them. The faults a
// busy counter meets are carried out by that thread on request: a close with FIN or with RST,
// a listener closed for a while (connections refused), reading stopped (a stalled server).
// Linux (poll).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "epoch_stream.h"

namespace replug {

class FaultServer {
 public:
  explicit FaultServer(uint64_t runSeed) : runSeed_(runSeed), sizes_(runSeed ^ 0x5E4D) {}
  ~FaultServer() { Stop(); }
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  // Listens on a free port of 127.0.0.1 and starts the thread. False with *why on failure.
  bool Start(std::string* why);
  uint16_t Port() const { return port_; }
  // Ends the thread and closes every socket. Idempotent.
  void Stop();

  // Faults and switches; each is done when it returns. False with *why when it could not be
  // done (no connection to close, the port could not be listened on again).
  bool CloseNewest(bool reset, std::string* why);
  bool SetListening(bool on, std::string* why);
  void SetReading(bool on);
  void SetSending(bool on);

  struct Link {
    uint32_t id = 0;  // the connection's number, from 1; 0 = none yet
    bool open = false;
    EpochTally up;          // what arrived from the program
    uint64_t downSent = 0;  // bytes written to the program, head included
  };
  int Accepted() const;
  Link Newest() const;
  std::vector<Link> All() const;  // every connection, in the order accepted
  EpochTotals UpTotals() const;
  uint64_t DownSent() const;  // over all connections

 private:
  struct Connection {
    int fd = -1;
    uint32_t id = 0;
    bool reading = true;  // false after a FIN of ours was answered, or the program closed
    bool writing = true;  // false after our FIN or a failed write
    uint64_t downSent = 0;
    std::unique_ptr<EpochCheck> up;
  };
  static Link Describe(const Connection& c);
  void Run();
  // Runs `action` on the server's thread and waits for it.
  void Do(const std::function<void()>& action);
  bool Listen(std::string* why);  // (server thread or before it starts)
  void Accept();
  void ReadFrom(Connection& c);
  void WriteTo(Connection& c);
  void Drop(Connection& c);

  const uint64_t runSeed_;
  uint16_t port_ = 0;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  bool reading_ = true, sending_ = true;  // the server's thread only
  std::mt19937_64 sizes_;                 // down chunk sizes (the server's thread)
  mutable std::mutex mutex_;              // guards what follows
  std::condition_variable done_;
  std::vector<std::function<void()>> actions_;
  uint64_t actionsDone_ = 0, actionsPosted_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace replug
