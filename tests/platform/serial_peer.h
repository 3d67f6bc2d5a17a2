// The far end of a real serial port for the serial backend's tests: it makes port n exist and
// plays the device on it: a pty that a helper process links in as the port (through
// $OVRA7_DEV_DIR on Linux, as COMn under wine) and carries over loopback TCP.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace testsupport {

class SerialPeer {
 public:
  virtual ~SerialPeer() = default;

  // Makes port number n openable with platform::OpenSerialPort(n, ...) for the peer's life.
  // nullptr (with *why filled in) when the peer cannot be set up.
  static std::unique_ptr<SerialPeer> Create(int n, std::string* why);

  // Bytes for the port to read. False when they could not be handed over.
  virtual bool Send(const uint8_t* data, int n) = 0;

  // Up to n bytes that the port wrote, waiting at most timeoutMs for the first; 0 when none
  // came, -1 on failure.
  virtual int Receive(uint8_t* data, int n, int timeoutMs) = 0;

  // The line settings the device side sees, as "115200 8N1 raw"; a line not in raw mode lists
  // what is still on instead of "raw" (for example "9600 7E2 icanon echo").
  virtual std::string LineSettings() = 0;

  // False where the system under the test does not keep a second handle off an open port
  // (wine opens a COM device twice; Windows itself and Linux refuse).
  virtual bool RefusesSecondOpen() const = 0;

  // The device disappears as an unplugged reader does; the port's handle stays open.
  virtual void Vanish() = 0;
};

}  // namespace testsupport
