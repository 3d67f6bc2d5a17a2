// A monotonic millisecond clock and sleeps. Portable: built on <chrono> and <thread>.
#pragma once

#include <cstdint>

namespace platform {

uint64_t NowMs();
void SleepMs(int ms);

}  // namespace platform
