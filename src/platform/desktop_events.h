// Device and power notifications. Windows delivers both as window messages to the main window
// (the dialog framework's OnDeviceChange / OnPowerBroadcast), so its monitor only watches; Linux
// runs a udev monitor on the tty subsystem and listens for logind's PrepareForSleep on D-Bus.
#pragma once

#include <functional>
#include <memory>

namespace platform {

// Event codes as the window handlers know them.
constexpr int kDeviceArrival = 0x8000;
constexpr int kDeviceRemoveComplete = 0x8004;
constexpr int kDevNodesChanged = 0x0007;
constexpr int kPowerSuspend = 4;
constexpr int kPowerResumeAutomatic = 18;

class DesktopEventMonitor {
 public:
  virtual ~DesktopEventMonitor() = default;  // stops the monitor thread and waits for it
};

// onDevice(kind) and onPower(kind) are called on the monitor's own thread (never on the window's
// thread): the caller hands them on. onPower should return only once the event was handled
// (Linux holds off the suspend until then, up to logind's delay limit of a few seconds). Returns a
// monitor even when a source is unavailable (no udev, no system bus): that source is then silent,
// the rest keeps working.
std::unique_ptr<DesktopEventMonitor> StartDesktopEventMonitor(std::function<void(int)> onDevice,
                                                              std::function<void(int)> onPower);

}  // namespace platform
