// The reader's side of one link's up stream: a thread that sends it as relay frames of random
// size, as fast as the program reads them, until told to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <thread>

#include "plugged_reader.h"

namespace replug {

class UpSender {
 public:
  UpSender(uint64_t runSeed, uint64_t sizeSeed) : runSeed_(runSeed), sizes_(sizeSeed) {}
  ~UpSender() { Stop(); }
  UpSender(const UpSender&) = delete;
  UpSender& operator=(const UpSender&) = delete;

  // Starts link `id`'s stream from its first byte. The reader must stay plugged while it runs.
  void Start(PluggedReader* reader, uint32_t id);
  // Ends the stream after the frame being written; with halfFrame the head and part of one more
  // frame go out first, as a reader does when its cable is pulled. Idempotent.
  void Stop(bool halfFrame = false);

  uint32_t Link() const { return id_; }
  uint64_t Sent() const { return sent_; }  // data bytes of whole frames written
  bool Failed() const { return failed_; }  // a write to the pty failed

 private:
  void Run(PluggedReader* reader);

  const uint64_t runSeed_;
  std::mt19937_64 sizes_;  // the sender's thread while it runs
  uint32_t id_ = 0;
  std::atomic<bool> stop_{false}, halfFrame_{false}, failed_{false};
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

}  // namespace replug
