// The byte streams of the fault soak. Every link (one server connection) carries, each way, a
// stream of its own that opens with an 8-byte head naming the link: "O7EP" and the link's number
// (32-bit little-endian), then the bytes of that link's seeded stream. A checker that meets any
// other first bytes knows the link did not begin with a fresh frame (the tail of an old one came
// first); every later byte is checked where the stream puts it.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "relay_sink.h"

namespace replug {

constexpr size_t kEpochHeadSize = 8;

enum class Direction : uint8_t { kUp = 'U', kDown = 'D' };

// Bytes [offset, offset + n) of link `id`'s stream in one direction, head included.
void FillEpoch(uint64_t runSeed, Direction direction, uint32_t id, uint64_t offset, uint8_t* out,
               size_t n);

// What one link carried, as its checker saw it.
struct EpochTally {
  bool open = false;       // a link began and bytes may come
  bool headOk = false;     // the first 8 bytes named a link
  uint32_t id = 0;         // the link the head named
  uint64_t received = 0;   // bytes, head included
  uint64_t wrong = 0;      // bytes not where the stream puts them (a bad head counts 8)
  int64_t firstWrong = -1; // offset of the first of them
  uint64_t firstNs = 0;    // arrival of the link's first byte
};

// Totals over all links a checker saw.
struct EpochTotals {
  uint64_t links = 0;
  uint64_t bytes = 0;        // received, heads included
  uint64_t wrong = 0;
  uint64_t badHeads = 0;     // links whose first bytes were not a head
  uint64_t outside = 0;      // bytes that came while no link was open
};

// Thread-safe: one thread feeds, others read.
class EpochCheck : public RelaySink {
 public:
  explicit EpochCheck(uint64_t runSeed, Direction direction)
      : runSeed_(runSeed), direction_(direction) {}

  void Feed(const uint8_t* data, size_t n) override;
  // A new link begins: what comes next must open with a head.
  void ConnectResult(bool connected) override {
    if (connected) Begin();
  }
  void Begin();
  // The link is over (its reader was unplugged): bytes before the next Begin count as outside.
  void End();

  EpochTally Current() const;
  EpochTotals Totals() const;
  // Every link that ended, in order.
  std::vector<EpochTally> Ended() const;

 private:
  void Close();  // folds the current link into the totals (mutex held)

  const uint64_t runSeed_;
  const Direction direction_;
  mutable std::mutex mutex_;
  EpochTally current_;
  uint8_t head_[kEpochHeadSize] = {};
  EpochTotals totals_;
  std::vector<EpochTally> ended_;
};

}  // namespace replug
