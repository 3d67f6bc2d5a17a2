// The choice between the system's reader interfaces and a test double. Portable.
#include "platform/reader_usb.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<ReaderUsbHost*> g_testHost{nullptr};
}

ReaderUsbHost& CurrentReaderUsbHost() {
  ReaderUsbHost* host = g_testHost.load();
  return host ? *host : SystemReaderUsbHost();
}

void SetReaderUsbHostForTesting(ReaderUsbHost* host) { g_testHost.store(host); }

}  // namespace platform
