// The wake-up signal on an eventfd: pollable, one descriptor, and raising it never blocks.
#include "platform/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

WakeSignal::WakeSignal() { handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

WakeSignal::~WakeSignal() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

void WakeSignal::Raise() {
  if (handle_ < 0) return;
  uint64_t one = 1;
  // Only a counter at its maximum refuses the write, and that is raised already.
  ssize_t ignored = write(static_cast<int>(handle_), &one, sizeof one);
  (void)ignored;
}

void WakeSignal::Clear() {
  if (handle_ < 0) return;
  uint64_t count = 0;
  ssize_t ignored = read(static_cast<int>(handle_), &count, sizeof count);  // resets it to zero
  (void)ignored;
}

}  // namespace platform
