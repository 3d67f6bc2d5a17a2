// The reader's own USB interfaces for its enter-DFU command: the HID interface (reports) and
// the vendor driver's interface (four control codes). Backends only move bytes; choosing the
// interface, building the frame and judging the reply is portable code (dfu/reader_usb_port.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Codes for ReaderDeviceIo::Control. The two HID codes move one 65-byte report (byte 0 is the
// report id); the vendor codes move a frame head (7 bytes) or body.
constexpr uint32_t kHidSetOutputReport = 0x000B0195;
constexpr uint32_t kHidGetInputReport = 0x000B01A2;
constexpr uint32_t kVendorWriteHead = 0x00222020;
constexpr uint32_t kVendorWriteBody = 0x00222024;
constexpr uint32_t kVendorReadHead = 0x00222028;
constexpr uint32_t kVendorReadBody = 0x0022202C;

// One open interface. Control sends `inLength` bytes of `in` and/or fills `outLength` bytes of
// `out` (caller's buffers) for one code; true when the system call succeeded. Does not wait for
// the reader: a read with nothing pending fails at once. Destruction closes the handle.
class ReaderDeviceIo {
 public:
  virtual ~ReaderDeviceIo() = default;
  virtual bool Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                       uint32_t outLength) = 0;
};

// The system's reader interfaces. Called on the dialog's thread; nothing here blocks for long.
class ReaderUsbHost {
 public:
  virtual ~ReaderUsbHost() = default;
  // Paths of the present HID interfaces, in system order. A path contains the interface's
  // "vid_xxxx&pid_xxxx" in lower-case hex. False when the enumeration cannot be made.
  virtual bool ListHidPaths(std::vector<std::string>* out) = 0;
  // Opens a HID path for reading and writing without sharing; nullptr on failure.
  virtual std::unique_ptr<ReaderDeviceIo> OpenHid(const std::string& path) = 0;
  // Path of the first interface of the vendor-driver class; false when there is none.
  virtual bool FirstVendorPath(std::string* out) = 0;
  // Opens a vendor path for reading and writing, shared; nullptr on failure.
  virtual std::unique_ptr<ReaderDeviceIo> OpenVendor(const std::string& path) = 0;
};

// Windows: SetupAPI over the HID and vendor-driver interface classes, DeviceIoControl.
// Linux: hidraw nodes whose HID parent has the ids; no vendor route (always absent).
ReaderUsbHost& SystemReaderUsbHost();

// The host the core uses: the system's unless a test installed a double (nullptr restores).
ReaderUsbHost& CurrentReaderUsbHost();
void SetReaderUsbHostForTesting(ReaderUsbHost* host);

}  // namespace platform
