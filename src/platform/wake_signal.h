// A signal that ends another thread's wait in WaitRelayEvents at once: how Stop reaches a relay
// thread that sleeps until the reader or the server has something. Linux: an eventfd, waited on
// with the port and the socket. Windows has no such wait (the port is not waited on with the
// socket there): Handle() is -1 and the relay polls instead.
#pragma once

#include <cstdint>

namespace platform {

class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // What WaitRelayEvents waits on, or -1 when there is none (not supported, or creating it failed:
  // the waiter must then not wait without a time-out).
  intptr_t Handle() const { return handle_; }
  // Any thread. Stays raised until Clear.
  void Raise();
  // The waiting thread, once it woke for it.
  void Clear();

 private:
  intptr_t handle_ = -1;
};

}  // namespace platform
