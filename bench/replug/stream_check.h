// Deterministic byte streams and a running check of one as it arrives, so that a sender and a
// checker on different threads agree on every byte without keeping the stream in memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "relay_sink.h"

namespace replug {

// Byte `offset` of the stream named `seed`: random access, so any slice can be made on demand.
uint8_t StreamByte(uint64_t seed, uint64_t offset);
void FillStream(uint64_t seed, uint64_t offset, uint8_t* out, size_t n);

// What arrived so far against what was expected. Every byte that is not where the stream puts
// it counts once: wrong (arrived at another position or altered), missing (never came) or extra
// (came after the end).
struct StreamTally {
  uint64_t expected = 0;
  uint64_t received = 0;
  uint64_t wrong = 0;
  int64_t firstWrongOffset = -1;
  uint64_t firstByteNs = 0;  // monotonic arrival time of the first byte, 0 before it
  uint64_t lastByteNs = 0;

  uint64_t Missing() const { return received < expected ? expected - received : 0; }
  uint64_t Extra() const { return received > expected ? received - expected : 0; }
  uint64_t Faults() const { return wrong + Missing() + Extra(); }
  bool Complete() const { return received >= expected; }
};

// Thread-safe: one thread feeds, any other expects, waits and reads the tally.
class StreamCheck : public RelaySink {
 public:
  // Starts over, expecting `length` bytes of stream `seed`.
  void Expect(uint64_t seed, uint64_t length);
  // Bytes as they arrive, in order.
  void Feed(const uint8_t* data, size_t n) override;
  // Waits up to timeoutMs for at least the expected count of bytes; true when it arrived.
  bool WaitComplete(int timeoutMs);
  StreamTally Tally() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t seed_ = 0;
  StreamTally tally_;
};

// Nanoseconds on the monotonic clock.
uint64_t NowNs();

}  // namespace replug
