// The reader's serial port on a Win32 COM device behind platform/serial.h. Only Windows code
// belongs here.
#include "platform/serial.h"

#include <windows.h>

#include <cstdio>

#include "platform/port_names.h"
#include "platform/win32/utf.h"

namespace platform {

PortNameStyle NativePortNameStyle() { return PortNameStyle::kWindows; }

namespace {

class Win32SerialPort : public SerialPort {
 public:
  explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
  ~Win32SerialPort() override { CloseHandle(handle_); }

  // Synchronous I/O: the time-outs set at open bound both calls, and a time-out is a
  // successful call with a short count.
  int Read(uint8_t* buffer, int n) override {
    if (n <= 0) return 0;
    if (!buffer) return -1;
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(n), &got, nullptr)) return -1;
    return static_cast<int>(got);
  }

  int Write(const uint8_t* buffer, int n) override {
    if (n <= 0) return 0;
    if (!buffer) return -1;
    DWORD done = 0;
    if (!WriteFile(handle_, buffer, static_cast<DWORD>(n), &done, nullptr)) return -1;
    return static_cast<int>(done);
  }

  bool QueryStatus(uint32_t* errors, uint32_t* queued) override {
    DWORD flags = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof stat);
    if (!ClearCommError(handle_, &flags, &stat)) return false;
    if (errors) *errors = flags;
    if (queued) *queued = stat.cbInQue;
    return true;
  }

  void PurgeReceive() override { PurgeComm(handle_, PURGE_RXCLEAR); }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(int n, int baud) {
  return OpenSerialDevice(SerialDevicePath(n), baud);
}

std::unique_ptr<SerialPort> OpenSerialDevice(const std::string& path, int baud) {
  if (path.empty()) return nullptr;
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = SerialTimeouts::kReadIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = SerialTimeouts::kReadPerByteMs;
  timeouts.ReadTotalTimeoutConstant = SerialTimeouts::kReadConstantMs;
  timeouts.WriteTotalTimeoutMultiplier = SerialTimeouts::kWritePerByteMs;
  timeouts.WriteTotalTimeoutConstant = SerialTimeouts::kWriteConstantMs;
  // The driver's own line settings are read first so that only the four values below change.
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  bool ok = SetCommTimeouts(h, &timeouts) && GetCommState(h, &dcb);
  if (ok) {
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ok = SetCommState(h, &dcb) != 0;
  }
  if (!ok) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<Win32SerialPort>(h);
}

std::string SerialDevicePath(int n) {
  // COM1 to COM9 are reserved names; from COM10 on only the device namespace reaches them.
  char name[16];
  if (n < 10) {
    std::snprintf(name, sizeof name, "COM%d", n);
  } else {
    std::snprintf(name, sizeof name, "\\\\.\\%s%d", "COM", n);
  }
  return name;
}

std::unique_ptr<SerialPort> OpenPseudoTerminal(std::string* peerPath) {
  if (peerPath) peerPath->clear();
  return nullptr;
}

}  // namespace platform
