// Portable: the standard library serves both systems here.
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

std::atomic<TestClock*> g_testClock{nullptr};

}  // namespace

uint64_t NowMs() {
  if (TestClock* clock = g_testClock.load(std::memory_order_acquire)) return clock->NowMs();
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepMs(int ms) {
  if (TestClock* clock = g_testClock.load(std::memory_order_acquire)) return clock->SleepMs(ms);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetClockForTesting(TestClock* clock) { g_testClock.store(clock, std::memory_order_release); }

}  // namespace platform
