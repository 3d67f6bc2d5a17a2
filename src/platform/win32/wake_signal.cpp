// No wake-up signal on Windows: the reader's port is opened without overlapped I/O, so the relay
// cannot sleep on it and the socket together and looks every millisecond instead.
#include "platform/wake_signal.h"

namespace platform {

WakeSignal::WakeSignal() = default;
WakeSignal::~WakeSignal() = default;
void WakeSignal::Raise() {}
void WakeSignal::Clear() {}

}  // namespace platform
