// The reader's serial port: the OS boundary for opening, reading, writing and querying it.
// Portable contract; the implementations live in posix/serial.cpp and win32/serial.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Fixed line and time-out settings of the reader's link (115200 8N1).
struct SerialTimeouts {
  static constexpr int kReadIntervalMs = 1000;   // silence between two bytes that ends a read
  static constexpr int kReadPerByteMs = 2;       // read total: 2 ms per requested byte ...
  static constexpr int kReadConstantMs = 1000;   // ... plus 1000 ms
  static constexpr int kWritePerByteMs = 2;      // write total: 2 ms per byte ...
  static constexpr int kWriteConstantMs = 1000;  // ... plus 1000 ms
};

// An open, exclusive serial port. All calls block at most for the time-outs above.
// Read is called from one thread only (the relay thread); Write may be called from any thread
// but the caller serialises writes (the service's port lock).
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Reads up to n bytes. Returns the count read (0..n; fewer than n when a time-out expired),
  // or -1 when the read itself failed (device gone, I/O error). A short count is not a failure.
  virtual int Read(uint8_t* buffer, int n) = 0;

  // Writes n bytes with one call. Returns the count written (may be short on time-out) or -1.
  virtual int Write(const uint8_t* buffer, int n) = 0;

  // Reads and clears the error state and reports the number of bytes queued for reading.
  // errors is 0 when the line reports no error (Linux reports none). Returns false when the query
  // itself failed; on Linux that includes a device that has gone (unplugged, pty peer closed).
  virtual bool QueryStatus(uint32_t* errors, uint32_t* queued) = 0;

  // Drops whatever is queued for reading; the transmit side is left alone.
  virtual void PurgeReceive() = 0;

  // A descriptor the relay may wait on for readability together with the server socket, or -1
  // when the port cannot be waited on that way (Windows, in-memory doubles).
  virtual intptr_t WaitHandle() const { return -1; }
};

// Opens port number n (Windows: COMn; Linux: the node PortNameFromNumber(n) under /dev, or under
// $OVRA7_DEV_DIR when set), exclusive, at the given baud rate with 8N1 and the time-outs above.
// Returns nullptr on any failure (absent, busy, line settings or time-outs refused).
// Blocks only for the open itself (non-blocking on Linux, so a missing carrier cannot hang it).
std::unique_ptr<SerialPort> OpenSerialPort(int n, int baud);

// As OpenSerialPort, for a device given by its path (UTF-8): "COM8", "\\.\COM12",
// "/dev/ttyUSB0", a pty slave. For tools that are told a device rather than a port number.
// Linux accepts the usual rates 9600 to 921600; another baud fails the open.
std::unique_ptr<SerialPort> OpenSerialDevice(const std::string& path, int baud);

// The device path OpenSerialPort uses for n: "COM9", "\\.\COM10"; "/dev/ttyACM2".
std::string SerialDevicePath(int n);

// The far end of a cable for simulators and benchmarks: creates a pseudo-terminal pair and
// returns its controlling side as a port with the same read and write time-outs (its line
// settings are left alone, they belong to the other side). *peerPath receives the path of the
// other side, which OpenSerialDevice opens like a real port. The port owns the pair; the peer
// path stops working when the port is destroyed. nullptr where the system has no
// pseudo-terminals (Windows: use a COM port pair instead) or on failure.
std::unique_ptr<SerialPort> OpenPseudoTerminal(std::string* peerPath);

// Port names as the port list shows them, and back. Windows: "COMn" is n. Linux: "ttyACMk" is
// k + 1 and "ttyUSBk" is 1001 + k. PortNumberFromName returns -1 for a name it cannot map.
std::string PortNameFromNumber(int n);
int PortNumberFromName(const std::string& name);

}  // namespace platform
