// A clock for platform::NowMs and platform::SleepMs whose sleeps only move it on: waits of
// minutes (a device that does not answer, one that asks to be polled in a minute) pass at once,
// and the longest single wait is kept. Installs itself for its life. Portable.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace testsupport {

class VirtualClock : public platform::TestClock {
 public:
  // yieldOnSleep: a sleeper gives its core to the thread it may be waiting for (off where one
  // thread only waits for another that never sleeps on this clock).
  explicit VirtualClock(bool yieldOnSleep = true) : yield_(yieldOnSleep) {
    platform::SetClockForTesting(this);
  }
  ~VirtualClock() override { platform::SetClockForTesting(nullptr); }
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  uint64_t NowMs() override { return now_.load(); }
  void SleepMs(int ms) override {
    if (ms < 0) ms = 0;
    now_ += static_cast<uint64_t>(ms);
    int longest = longest_.load();
    while (ms > longest && !longest_.compare_exchange_weak(longest, ms)) {
    }
    if (yield_) std::this_thread::yield();
  }
  // The longest single SleepMs so far.
  int longestSleepMs() const { return longest_.load(); }

 private:
  std::atomic<uint64_t> now_{1000000};
  std::atomic<int> longest_{0};
  const bool yield_;
};

}  // namespace testsupport
