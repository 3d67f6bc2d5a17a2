// The stream generator (a counter-based mix, eight bytes per counter) and the running check.
#include "stream_check.h"

#include <chrono>

namespace replug {

namespace {

// splitmix64's finaliser: every counter value gives eight well-mixed bytes.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t Block(uint64_t seed, uint64_t index) { return Mix(Mix(seed) ^ index); }

}  // namespace

uint8_t StreamByte(uint64_t seed, uint64_t offset) {
  return static_cast<uint8_t>(Block(seed, offset / 8) >> (8 * (offset % 8)));
}

void FillStream(uint64_t seed, uint64_t offset, uint8_t* out, size_t n) {
  size_t i = 0;
  while (i < n) {
    uint64_t at = offset + i;
    uint64_t block = Block(seed, at / 8);
    for (unsigned shift = static_cast<unsigned>(at % 8); shift < 8 && i < n; ++shift, ++i)
      out[i] = static_cast<uint8_t>(block >> (8 * shift));
  }
}

void StreamCheck::Expect(uint64_t seed, uint64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  seed_ = seed;
  tally_ = StreamTally();
  tally_.expected = length;
}

void StreamCheck::Feed(const uint8_t* data, size_t n) {
  if (n == 0) return;
  const uint64_t now = NowNs();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tally_.firstByteNs == 0) tally_.firstByteNs = now;
    tally_.lastByteNs = now;
    // Only positions inside the stream can be wrong; the rest are extra and counted as such.
    uint64_t inside = tally_.received < tally_.expected ? tally_.expected - tally_.received : 0;
    if (inside > n) inside = n;
    uint8_t want[4096];
    for (uint64_t done = 0; done < inside;) {
      size_t part = static_cast<size_t>(inside - done < sizeof want ? inside - done : sizeof want);
      FillStream(seed_, tally_.received + done, want, part);
      for (size_t i = 0; i < part; ++i) {
        if (data[done + i] == want[i]) continue;
        if (tally_.firstWrongOffset < 0)
          tally_.firstWrongOffset = static_cast<int64_t>(tally_.received + done + i);
        ++tally_.wrong;
      }
      done += part;
    }
    tally_.received += n;
  }
  changed_.notify_all();
}

bool StreamCheck::WaitComplete(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return tally_.Complete(); });
}

StreamTally StreamCheck::Tally() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tally_;
}

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace replug
