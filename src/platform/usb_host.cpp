// The choice between the system's USB host and a test double, and result texts. Portable.
#include <atomic>

#include "platform/usb.h"

namespace platform {

namespace {
std::atomic<UsbHost*> g_testHost{nullptr};
}

UsbHost& CurrentUsbHost() {
  UsbHost* host = g_testHost.load();
  return host ? *host : SystemUsbHost();
}

void SetUsbHostForTesting(UsbHost* host) { g_testHost.store(host); }

const char* UsbResultText(int result) {
  if (result >= 0) return "ok";
  switch (result) {
    case kUsbErrTimeout:
      return "time-out";
    case kUsbErrStall:
      return "stalled";
    case kUsbErrNoDevice:
      return "no device";
    case kUsbErrNotFound:
      return "not found";
    case kUsbErrArgument:
      return "bad argument";
    case kUsbErrUnsupported:
      return "unsupported";
    case kUsbErrBusy:
      return "busy";
    default:
      return "i/o error";
  }
}

}  // namespace platform
