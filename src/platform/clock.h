// A monotonic millisecond clock and sleeps. Portable: built on <chrono> and <thread>.
#pragma once

#include <cstdint>

namespace platform {

// Any thread.
uint64_t NowMs();
void SleepMs(int ms);

// A clock a test puts in place of the real one, so that waits of minutes (a device that stops
// answering, a device that asks to be polled again in a minute) pass at once. NowMs and SleepMs
// are called from any thread.
class TestClock {
 public:
  virtual ~TestClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(int ms) = 0;
};
// nullptr restores the real clock. Call while no other thread uses the clock.
void SetClockForTesting(TestClock* clock);

}  // namespace platform
