// Which device interface classes reach a WinUSB-bound USB device on Windows: the rule behind
// the Windows USB backend's enumeration, kept as a pure function so that it is tested on every
// host. Portable.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The device interface class that the reader's driver package registers: its INF binds WinUSB
// to the reader in DFU mode and sets this GUID as the device's "DeviceInterfaceGUIDs" value.
constexpr char kOvra7WinUsbInterfaceGuid[] = "{A2DCE62E-B1DE-4D53-9610-449E52DC40BC}";

// GUID_DEVINTERFACE_USB_DEVICE: the interface the USB hub registers for every whole device
// (not for the interfaces of a composite device). A handle opened through it reaches the
// device's function driver, so it opens a WinUSB-bound device that names no interface class.
constexpr char kUsbDeviceInterfaceGuid[] = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

// The interface classes to try, in order, for one USB device node; the first under which the
// node has an interface gives its path. `service` is the node's function driver service
// (SPDRP_SERVICE); `registryGuids` are the texts of its "DeviceInterfaceGUIDs" and
// "DeviceInterfaceGUID" values. Empty when the node is not bound to WinUSB: winusb.dll drives
// no other driver. Our class comes first, then the node's own (braced, any case; malformed
// texts are skipped), then the whole-device interface.
std::vector<std::string> WinUsbInterfaceClassesToTry(const std::string& service,
                                                     const std::vector<std::string>& registryGuids);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case from a GUID text in either case, with
// or without its braces; "" when the text is not a GUID.
std::string NormalizeGuidText(const std::string& text);

}  // namespace platform
