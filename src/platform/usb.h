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
  // and endpoint descriptors, in device order) into *out.
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
  virtual int ListInterfaces(std::vector<UsbInterfaceInfo>* out) = 0;
  // Opens the device behind an interface path from ListInterfaces (letter case ignored).
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
