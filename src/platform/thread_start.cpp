// Starting a thread with a result instead of an exception. Portable.
#include "platform/thread_start.h"

#include <atomic>
#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

namespace platform {

namespace {
std::atomic<int> g_failuresToInject{0};
}

bool StartThread(std::thread* thread, std::function<void()> body) {
  try {
    if (g_failuresToInject.load() > 0) {
      --g_failuresToInject;
      throw std::system_error(EAGAIN, std::generic_category(), "thread creation refused");
    }
    *thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    // The thread's shared state could not be allocated.
    return false;
  }
}

void FailThreadStartsForTesting(int count) { g_failuresToInject.store(count); }

}  // namespace platform
