// Runs a headless host on the virtual clock while other threads (the library's workers, the
// relay) do their part in real time.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"
#include "ui/headless/headless_host.h"

namespace testsupport {

// Time jumps to the next timer (10 ms on when none is due; posts are delivered on the way), and
// the other threads get a moment of real time.
inline void StepHost(ui::headless::HeadlessHost& host) {
  const int64_t next = host.NextTimerInMs();
  host.AdvanceTime(next <= 0 ? 10 : static_cast<uint64_t>(next));
  platform::SleepMs(1);
}

// Steps until `done`; false when it did not come within a generous real-time bound.
inline bool DriveHost(ui::headless::HeadlessHost& host, const std::function<bool()>& done,
                      int boundMs) {
  const uint64_t end = platform::NowMs() + static_cast<uint64_t>(boundMs);
  while (!done()) {
    if (platform::NowMs() > end) return false;
    StepHost(host);
  }
  return true;
}

}  // namespace testsupport
