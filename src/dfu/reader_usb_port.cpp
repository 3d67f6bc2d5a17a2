// The enter-DFU command over the reader's HID or vendor-driver interface. Portable.
#include "dfu/reader_usb_port.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"

uint8_t ReaderFrameCheck(const uint8_t* bytes, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= bytes[i];
  return x;
}

int ReaderUsbPort::OpenHidInterface() {
  platform::ReaderUsbHost& host = platform::CurrentReaderUsbHost();
  std::vector<std::string> paths;
  std::string chosen;
  if (host.ListHidPaths(&paths)) {
    for (const std::string& p : paths) {
      if (p.size() >= 260) continue;  // longer than the system's path buffer: not ours
      if (p.find("vid_0425&pid_8159") != std::string::npos ||
          p.find("vid_0483&pid_a19b") != std::string::npos) {
        chosen = p;
        break;
      }
    }
  }
  m_Handle.reset();
  if (chosen.empty()) return 0;
  m_Handle = host.OpenHid(chosen);
  return m_Handle ? 1 : 0;
}

int ReaderUsbPort::OpenVendorInterface() {
  m_Handle.reset();
  platform::ReaderUsbHost& host = platform::CurrentReaderUsbHost();
  std::string path;
  if (!host.FirstVendorPath(&path)) return 0;
  m_Handle = host.OpenVendor(path);
  return 1;
}

int ReaderUsbPort::HidExchange(const uint8_t* out, uint8_t* in, int waitMs, int tries) {
  if (!m_Handle) return 0;
  if (!m_Handle->Control(platform::kHidSetOutputReport, out, kReportSize, nullptr, 0)) return 0;
  bool ok = false;
  for (int i = 0; i < tries; ++i) {
    platform::SleepMs(waitMs);
    ok = m_Handle->Control(platform::kHidGetInputReport, nullptr, 0, in, kReportSize);
    if (ok) break;
  }
  return ok ? 1 : 0;
}

int ReaderUsbPort::VendorExchange(const uint8_t* out, uint8_t* in, int waitMs, int tries) {
  if (!m_Handle) return 0;
  if (!m_Handle->Control(platform::kVendorWriteHead, out, 7, nullptr, 0)) return 0;
  // L counts command, parameters and check byte; the head carries 4 of the L + 3 bytes. A
  // frame too long for the 64-byte buffer is refused rather than read past.
  uint32_t outBody = out[2] > 4 ? out[2] - 4u : 0;
  if (7 + outBody > kVendorBufferSize) return 0;
  if (!m_Handle->Control(platform::kVendorWriteBody, out + 7, outBody, nullptr, 0)) return 0;
  bool ok = false;
  for (int i = 0; i < tries; ++i) {
    platform::SleepMs(waitMs);
    ok = m_Handle->Control(platform::kVendorReadHead, nullptr, 0, in, 7);
    if (!ok || in[0] != 0x55 || in[1] != 0xAA) {
      ok = false;
      continue;
    }
    if (in[2] <= 4) break;
    uint32_t inBody = in[2] - 4u;
    if (7 + inBody > kVendorBufferSize) {
      ok = false;
      continue;
    }
    ok = m_Handle->Control(platform::kVendorReadBody, nullptr, 0, in + 7, inBody);
    if (ok) break;
  }
  return ok ? 1 : 0;
}

void ReaderUsbPort::Close() { m_Handle.reset(); }

int ReaderUsbPort::SendEnterDfu() {
  if (OpenHidInterface()) {
    uint8_t out[kReportSize] = {};
    uint8_t in[kReportSize] = {};
    std::memcpy(out + 1, kEnterDfuFrame, sizeof kEnterDfuFrame);
    HidExchange(out, in, 200, 5);
    Close();
    return in[4] == 0x31 && in[5] == 0xFF ? 1 : 0;
  }
  if (OpenVendorInterface()) {
    uint8_t out[kVendorBufferSize] = {};
    uint8_t in[kVendorBufferSize] = {};
    std::memcpy(out, kEnterDfuFrame, sizeof kEnterDfuFrame);
    VendorExchange(out, in, 200, 5);
    Close();
    return in[3] == 0x31 && in[4] == 0xFF ? 1 : 0;
  }
  Close();
  return 0;
}
