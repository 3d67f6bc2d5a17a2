// Win32 device and power events arrive as WM_DEVICECHANGE and WM_POWERBROADCAST at the main
// window itself (top-level windows receive both), so there is nothing to watch here.
#include "platform/desktop_events.h"

namespace platform {
namespace {

class WindowMessageMonitor : public DesktopEventMonitor {};

}  // namespace

std::unique_ptr<DesktopEventMonitor> StartDesktopEventMonitor(std::function<void(int)>,
                                                              std::function<void(int)>) {
  return std::make_unique<WindowMessageMonitor>();
}

}  // namespace platform
