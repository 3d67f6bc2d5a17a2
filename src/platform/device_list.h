// The devices present on the machine, as the reader port discovery needs them. The rule that
// decides which of them is a reader lives in portable code (app/port_discovery.h).
// Called on the window's thread; a listing takes a few milliseconds.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct DeviceRecord {
  std::string className;  // Windows: the device class ("Ports"); Linux: "Ports" for every tty
  bool hasHardwareId = false;
  std::string hardwareId;  // first hardware id text as the system reports it (any case)
  bool hasPortName = false;
  std::string portName;  // "COM5"; Linux: the device node's name, "ttyACM0"
};

// Every present device in enumeration order; an empty list when enumeration fails.
// Windows: SetupAPI over all classes, hardware-id property and the "PortName" value of the
// device's hardware key (read for "Ports" devices only). Linux: /sys/class/tty/* (the sysfs root
// is $OVRA7_SYSFS_ROOT when set, standing for /sys), the hardware id "USB\VID_v&PID_p" from the
// nearest ancestor of the tty's device with idVendor and idProduct; ordered by port number.
std::vector<DeviceRecord> ListDevices();

}  // namespace platform
