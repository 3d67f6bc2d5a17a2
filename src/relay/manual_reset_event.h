// A manual-reset event: stays signalled until reset. Portable (std::condition_variable).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace relay {

class ManualResetEvent {
 public:
  void Set() {
    std::lock_guard<std::mutex> guard(mutex_);
    signalled_ = true;
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    signalled_ = false;
  }
  // True when signalled within timeoutMs, false on time-out.
  bool Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace relay
