// The reader's own USB command channel: tells a running reader to restart into DFU mode over
// its HID interface, or else over its vendor driver's interface. Portable: the frame, the
// report layout, the retries and the decision live here; platform/reader_usb.h moves bytes.
// Runs on the dialog's thread and blocks it for up to waitMs x tries (about 1 s).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/reader_usb.h"

// The enter-DFU frame: 55 AA, length, command 0x31, parameters FF FF, XOR check byte.
constexpr uint8_t kEnterDfuFrame[7] = {0x55, 0xAA, 0x04, 0x31, 0xFF, 0xFF, 0xCA};

// XOR of `n` bytes, the frame's check byte over everything before it.
uint8_t ReaderFrameCheck(const uint8_t* bytes, size_t n);

class ReaderUsbPort {
 public:
  static constexpr size_t kReportSize = 65;
  static constexpr size_t kVendorBufferSize = 64;

  // The first HID interface whose path contains "vid_0425&pid_8159" or "vid_0483&pid_a19b"
  // (exact case), opened without sharing. 1 when open, else 0.
  int OpenHidInterface();
  // The first vendor-driver interface, whatever its ids. 1 when its path was found (an open
  // that failed shows in the exchange).
  int OpenVendorInterface();
  // One 65-byte output report, then up to `tries` polls `waitMs` apart for a 65-byte input
  // report into `in`. 1 when the last call succeeded.
  int HidExchange(const uint8_t* out, uint8_t* in, int waitMs, int tries);
  // One frame (head of 7 bytes, body of L - 4), then up to `tries` polls for a reply frame into
  // the 64-byte `in`. 1 when the last call succeeded.
  int VendorExchange(const uint8_t* out, uint8_t* in, int waitMs, int tries);
  void Close();
  // The whole command; 1 when the reader acknowledged it. Closes whatever it opened.
  int SendEnterDfu();

 private:
  std::unique_ptr<platform::ReaderDeviceIo> m_Handle;  // null: nothing open
};
