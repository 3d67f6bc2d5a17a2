// An in-memory serial cable with the real time-out behaviour of the reader's port, so relay
// tests need no OS port and run the same on both targets. Portable.
//
// The host end is a platform::SerialPort with the port's read rules: a read of n bytes returns
// when n bytes arrived, when the interval time-out passed after a byte with no further byte, or
// when the total (per-byte × n + constant) passed. The reader end is a SerialPort too, so the
// simulated reader runs unchanged over a cable or a real port.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/serial.h"

namespace testsupport {

struct CableTimeouts {
  int intervalMs = platform::SerialTimeouts::kReadIntervalMs;
  int perByteMs = platform::SerialTimeouts::kReadPerByteMs;
  int constantMs = platform::SerialTimeouts::kReadConstantMs;
};

class SerialCable {
 public:
  explicit SerialCable(CableTimeouts hostTimeouts = CableTimeouts(),
                       CableTimeouts readerTimeouts = CableTimeouts());

  // The end the service opens. May be called more than once (the port reopened after a stop).
  std::unique_ptr<platform::SerialPort> HostEnd();
  // The end the simulated reader uses.
  std::unique_ptr<platform::SerialPort> ReaderEnd();

  // Faults.
  void SetHostWriteFails(bool fails);
  void SetHostShortWrite(int maxBytes);  // 0: no limit
  void SetQueryFails(bool fails);
  void SetErrorFlags(uint32_t flags);  // reported once by the next query
  void Unplug();                       // every later host read and write fails

  int PurgeCount() const;
  // Bytes the host wrote, taken out of the cable without a reader (tests that read directly).
  std::vector<uint8_t> TakeHostWritten();

  struct State;

 private:
  std::shared_ptr<State> state_;
  CableTimeouts hostTimeouts_;
  CableTimeouts readerTimeouts_;
};

// A set of ports for the service's SerialOpener: port numbers that exist have a cable.
class FakePorts {
 public:
  SerialCable& Add(int n, CableTimeouts hostTimeouts = CableTimeouts());
  SerialCable* Get(int n);
  // Opens the cable of port n; a missing port (or one marked to fail) gives nullptr.
  std::unique_ptr<platform::SerialPort> Open(int n, int baud);
  void SetOpenFails(int n, bool fails);
  std::vector<int> OpenedPorts() const;

 private:
  mutable std::mutex mutex_;
  std::map<int, std::unique_ptr<SerialCable>> cables_;
  std::map<int, bool> fails_;
  std::vector<int> opened_;
};

}  // namespace testsupport
