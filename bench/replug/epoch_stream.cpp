// The links' streams and their check.
#include "epoch_stream.h"

#include <algorithm>
#include <cstring>

#include "stream_check.h"

namespace replug {

namespace {

const uint8_t kMagic[4] = {'O', '7', 'E', 'P'};

uint64_t EpochSeed(uint64_t runSeed, Direction direction, uint32_t id) {
  return (runSeed << 40) ^ (static_cast<uint64_t>(direction) << 32) ^ id;
}

void Head(uint32_t id, uint8_t* out) {
  std::memcpy(out, kMagic, sizeof kMagic);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(id >> (8 * i));
}

}  // namespace

void FillEpoch(uint64_t runSeed, Direction direction, uint32_t id, uint64_t offset, uint8_t* out,
               size_t n) {
  uint8_t head[kEpochHeadSize];
  Head(id, head);
  size_t i = 0;
  for (; i < n && offset + i < kEpochHeadSize; ++i) out[i] = head[offset + i];
  if (i < n)
    FillStream(EpochSeed(runSeed, direction, id), offset + i - kEpochHeadSize, out + i, n - i);
}

void EpochCheck::Feed(const uint8_t* data, size_t n) {
  if (n == 0) return;
  const uint64_t now = NowNs();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!current_.open) {
    totals_.outside += n;
    return;
  }
  if (current_.received == 0) current_.firstNs = now;
  size_t i = 0;
  for (; i < n && current_.received < kEpochHeadSize; ++i) head_[current_.received++] = data[i];
  if (current_.received == kEpochHeadSize && i > 0) {
    current_.headOk = std::memcmp(head_, kMagic, sizeof kMagic) == 0;
    current_.id = 0;
    for (int k = 0; k < 4; ++k) current_.id |= static_cast<uint32_t>(head_[4 + k]) << (8 * k);
    if (!current_.headOk) {
      current_.wrong += kEpochHeadSize;
      current_.firstWrong = 0;
    }
  }
  if (i == n) return;
  const size_t rest = n - i;
  if (!current_.headOk) {
    // Nothing after a bad head can be placed: all of it is wrong.
    current_.wrong += rest;
    current_.received += rest;
    return;
  }
  uint8_t want[4096];
  for (size_t done = 0; done < rest;) {
    const size_t part = std::min(rest - done, sizeof want);
    FillEpoch(runSeed_, direction_, current_.id, current_.received, want, part);
    for (size_t k = 0; k < part; ++k) {
      if (data[i + done + k] == want[k]) continue;
      if (current_.firstWrong < 0)
        current_.firstWrong = static_cast<int64_t>(current_.received + k);
      ++current_.wrong;
    }
    current_.received += part;
    done += part;
  }
}

void EpochCheck::Close() {
  if (!current_.open) return;
  ++totals_.links;
  totals_.bytes += current_.received;
  totals_.wrong += current_.wrong;
  if (current_.received >= kEpochHeadSize && !current_.headOk) ++totals_.badHeads;
  ended_.push_back(current_);
  current_ = EpochTally();
}

void EpochCheck::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  Close();
}

std::vector<EpochTally> EpochCheck::Ended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

void EpochCheck::Begin() {
  std::lock_guard<std::mutex> lock(mutex_);
  Close();
  current_.open = true;
}

EpochTally EpochCheck::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_;
}

EpochTotals EpochCheck::Totals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  EpochTotals totals = totals_;
  // The open link counts as far as it came.
  if (current_.open) {
    ++totals.links;
    totals.bytes += current_.received;
    totals.wrong += current_.wrong;
    if (current_.received >= kEpochHeadSize && !current_.headOk) ++totals.badHeads;
  }
  return totals;
}

}  // namespace replug
