// USB device access for the DFU library: enumerate interfaces with their descriptors, open a
// device by path, claim an interface, select an alternate setting, control transfers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Results of the calls below: 0 (or a byte count) on success, one of these on failure.
enum UsbResult : int {
  kUsbOk = 0,
  kUsbErrTimeout = -1,      // the transfer did not complete in its time-out
  kUsbErrStall = -2,        // the device refused the request (STALL)
  kUsbErrNoDevice = -3,     // the device is gone (unplugged or reset)
  kUsbErrIo = -4,           // any other transfer failure
  kUsbErrNotFound = -5,     // no device behind that path
  kUsbErrArgument = -6,     // a bad argument (buffer too small, bad index)
  kUsbErrUnsupported = -7,  // the system lacks the ability (driver or library missing)
  kUsbErrBusy = -8,         // the device is open already (WinUSB allows one open at a time)
};

// One interface of a present USB device.
struct UsbInterfaceInfo {
  // The backend's own name for the interface; Open accepts it in any letter case.
  std::string path;
  // The device's product string, "" when it has none or it cannot be read.
  std::string description;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t interfaceNumber = 0;
  uint8_t interfaceClass = 0;
  uint8_t interfaceSubClass = 0;
  uint8_t interfaceProtocol = 0;
};

// One open device. Not thread-safe: one thread uses a device at a time. Destruction releases
// the claimed interface and closes the device.
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;

  // The 18-byte device descriptor. Does not block on the device (cached by the system).
  virtual int GetDeviceDescriptor(uint8_t out[18]) = 0;
  // The whole active configuration descriptor set (configuration, interfaces, class-specific
  // and endpoint descriptors, in device order) into *out, byte for byte as the device reports
  // it. May be a GET_DESCRIPTOR request: blocks up to about 1 s.
  virtual int GetConfigDescriptor(std::vector<uint8_t>* out) = 0;
  // String descriptor `index` in US English as UTF-8 into *out. Blocks up to timeoutMs.
  virtual int GetStringDescriptor(uint8_t index, std::string* out, int timeoutMs) = 0;
  virtual int ClaimInterface(uint8_t number) = 0;
  // SET_INTERFACE on a claimed interface. Blocks up to about 5 s.
  virtual int SetAltSetting(uint8_t number, uint8_t alternate) = 0;
  // A control transfer; bit 7 of requestType gives the direction (set: device to host). The
  // caller owns `data` (length bytes). Returns the number of bytes moved (>= 0) or a UsbResult.
  // Blocks up to timeoutMs.
  virtual int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                              uint8_t* data, uint16_t length, int timeoutMs) = 0;
};

// The system's USB devices. Calls may come from any thread; each call stands alone.
class UsbHost {
 public:
  virtual ~UsbHost() = default;
  // Every interface (first alternate setting) of every present device, in system order.
  //
  // Linux (libusb): every interface of every device the process may see.
  //
  // Windows: only what winusb.dll can open, that is every present USB device node whose
  // function driver is WinUSB, whichever way it was bound:
  //  - by our driver package's INF, which sets "DeviceInterfaceGUIDs" to
  //    kOvra7WinUsbInterfaceGuid (platform/winusb_interfaces.h);
  //  - by a generic WinUSB installer, whose INF sets a GUID of its own in the same value;
  //  - by Windows itself for firmware that announces WinUSB in Microsoft OS descriptors; the
  //    descriptors' "DeviceInterfaceGUID(s)" property lands in the same value;
  //  - by any of these without a GUID (a hand-picked WinUSB driver, a descriptor set without
  //    the property): then through the USB hub's whole-device interface
  //    (GUID_DEVINTERFACE_USB_DEVICE).
  // The node's path is that of its first interface in the order of
  // WinUsbInterfaceClassesToTry. Not found: an interface of a composite device bound to WinUSB
  // with no GUID (the hub registers no interface for it), and devices bound to other drivers
  // (libusbK, libusb0, vendor drivers), which winusb.dll cannot drive.
  virtual int ListInterfaces(std::vector<UsbInterfaceInfo>* out) = 0;
  // Opens the device behind an interface path from ListInterfaces (letter case ignored).
  // kUsbErrBusy when the device is open already, here or in another program: WinUSB refuses
  // a second open, so the core never holds two handles on one device.
  virtual int Open(const std::string& path, std::unique_ptr<UsbDevice>* out) = 0;
};

// The operating system's USB (libusb-1.0 on Linux, SetupAPI + WinUSB on Windows).
UsbHost& SystemUsbHost();

// The host the core uses: the system's, unless a test installed a double.
UsbHost& CurrentUsbHost();
// Installs a double (nullptr restores the system's). Call while no USB operation runs.
void SetUsbHostForTesting(UsbHost* host);

// Text of a UsbResult, for log lines.
const char* UsbResultText(int result);

}  // namespace platform
