// The process-wide HTTP time-outs both backends read. Portable.
#include <mutex>

#include "platform/http.h"

namespace platform {
namespace {

std::mutex& TimeoutLock() {
  static std::mutex lock;
  return lock;
}

HttpTimeouts& Timeouts() {
  static HttpTimeouts timeouts;
  return timeouts;
}

}  // namespace

void SetHttpTimeoutsForTesting(const HttpTimeouts& timeouts) {
  std::lock_guard<std::mutex> hold(TimeoutLock());
  Timeouts() = timeouts;
}

HttpTimeouts CurrentHttpTimeouts() {
  std::lock_guard<std::mutex> hold(TimeoutLock());
  return Timeouts();
}

}  // namespace platform
