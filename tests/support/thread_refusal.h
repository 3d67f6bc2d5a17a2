// Makes thread creation fail while an object of this class lives. On Linux the refusal is the
// system's own: the default stack of new threads is made larger than the address space, so
// pthread_create, and with it std::thread, fails. Windows gives no such lever short of
// exhausting the machine, so there the thread start is told to fail the way std::thread does.
#pragma once

#include "platform/thread_start.h"

#ifdef _WIN32

namespace testsupport {

class ThreadRefusal {
 public:
  ThreadRefusal() { platform::FailThreadStartsForTesting(1000); }
  ~ThreadRefusal() { platform::FailThreadStartsForTesting(0); }
  ThreadRefusal(const ThreadRefusal&) = delete;
  ThreadRefusal& operator=(const ThreadRefusal&) = delete;
  bool active() const { return true; }
};

}  // namespace testsupport

#else

#include <pthread.h>

#include <cstddef>

namespace testsupport {

class ThreadRefusal {
 public:
  ThreadRefusal() {
    saved_ok_ = pthread_getattr_default_np(&saved_) == 0;
    if (!saved_ok_) return;
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    // 1 PiB: more than a 47-bit user address space can map.
    active_ = pthread_attr_setstacksize(&huge, static_cast<size_t>(1) << 50) == 0 &&
              pthread_setattr_default_np(&huge) == 0;
    pthread_attr_destroy(&huge);
  }
  ~ThreadRefusal() {
    if (!saved_ok_) return;
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }
  ThreadRefusal(const ThreadRefusal&) = delete;
  ThreadRefusal& operator=(const ThreadRefusal&) = delete;
  // False when the refusal could not be set up (the test then proves nothing).
  bool active() const { return active_; }

 private:
  pthread_attr_t saved_;
  bool saved_ok_ = false;
  bool active_ = false;
};

}  // namespace testsupport

#endif
