// The relay benchmark's two ends and its measurements: a pty playing the reader and a loopback
// card server, driven the same way whichever relay (ours or socat) sits between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial.h"
#include "platform/socket.h"

namespace relaybench {

// How bytes look on each side of the relay under test. Ours wraps reader data in relay frames
// (5 bytes more per frame); a byte pipe such as socat carries the frames through unchanged and
// server chunks unwrapped.
struct Framing {
  bool relayUnwraps;  // the server sees only a frame's data
  bool relayWraps;    // the reader sees each server chunk inside a relay frame
};

struct Figures {
  std::string name;
  std::vector<double> upUs;    // reader frame written -> its bytes at the server
  std::vector<double> downUs;  // server chunk sent -> its frame at the reader
  double upBytesPerSecond = 0;
  double downBytesPerSecond = 0;
  double idleCpuMsPerSecond = -1;    // CPU time of the relay per second of wall time while idle
  double idleWakeupsPerSecond = -1;  // its context switches per second meanwhile
  std::string error;                 // what went wrong; the other figures are then partial
};

// The reader's pty and the server's connection for one relay under test. Not thread-safe
// except where a measurement runs its own second thread.
class Ends {
 public:
  Ends(platform::SerialPort* reader, platform::SocketHandle server, Framing framing)
      : reader_(reader), server_(server), framing_(framing) {}

  // rounds ping-pongs of payloadBytes each way, one at a time.
  bool MeasureRoundTrips(int rounds, int payloadBytes, Figures* out);
  // A continuous stream for seconds; frame data of frameData bytes up, chunks of chunkBytes down.
  bool MeasureUpstream(double seconds, int frameData, Figures* out);
  bool MeasureDownstream(double seconds, int chunkBytes, Figures* out);
  // Reads whatever is still in flight on both sides until both are quiet for quietMs.
  void Drain(int quietMs);

 private:
  bool ServerReceiveExactly(uint8_t* data, int n, int timeoutMs);
  bool ReaderReceiveExactly(uint8_t* data, int n, int timeoutMs);

  platform::SerialPort* reader_;
  platform::SocketHandle server_;
  Framing framing_;
};

// The relay frame carrying data (55 AA, length, 0x04, data, XOR).
std::vector<uint8_t> RelayFrame(const uint8_t* data, int n);

// Nanoseconds on a monotonic clock.
uint64_t NowNs();

// Idle CPU time and wake-ups per second of process pid over `seconds` of nothing moving.
void MeasureIdle(int pid, double seconds, Figures* out);

// Median and 99th percentile of samples (sorted in place).
double Percentile(std::vector<double>* samples, double p);

void PrintFigures(const std::vector<Figures>& all);

}  // namespace relaybench
