// A serial port in front of the reader's pty that takes the host's relay frames out of the byte
// stream and feeds their data to a sink, which also hears of the host's connect results; every
// other frame passes on to the simulated reader unchanged. So the reader answers commands as
// usual while a long soak is checked on the fly instead of being stored by the reader.
//
// Writes go out through a thread of their own, as a reader's output does: the reader's reading
// and answering never wait for a host that is not reading, and the host is never left waiting
// on a reader whose writer is blocked.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/serial.h"
#include "relay_sink.h"

namespace replug {

class DivertingPort : public platform::SerialPort {
 public:
  // strayBytes counts bytes from the host that were part of no valid frame.
  DivertingPort(std::unique_ptr<platform::SerialPort> pty, RelaySink* relayed,
                std::atomic<uint64_t>* strayBytes)
      : pty_(std::move(pty)), relayed_(relayed), strayBytes_(strayBytes) {
    writer_ = std::thread(&DivertingPort::WriteOut, this);
  }
  ~DivertingPort() override;

  // Read and QueryStatus: the simulated reader's thread only. Read returns what passes on, which
  // may be nothing when all that came was relay data.
  int Read(uint8_t* buffer, int n) override;
  bool QueryStatus(uint32_t* errors, uint32_t* queued) override;
  // Any thread (the simulated reader serialises its writes): queues all n bytes, or -1 once a
  // write to the pty failed.
  int Write(const uint8_t* buffer, int n) override;
  void PurgeReceive() override;

  // Waits up to timeoutMs until fewer than `bytes` wait to go out; false on time-out or failure.
  bool WaitRoom(size_t bytes, int timeoutMs);
  // Bytes queued but not yet written to the pty.
  size_t Queued() const;

 private:
  std::unique_ptr<platform::SerialPort> pty_;
  RelaySink* relayed_;
  std::atomic<uint64_t>* strayBytes_;
  std::vector<uint8_t> pending_;  // bytes of a frame not complete yet
  std::vector<uint8_t> passOn_;   // whole frames for the simulated reader

  void WriteOut();
  mutable std::mutex outLock_;
  std::condition_variable outChanged_;
  std::vector<uint8_t> out_;  // bytes for the host, in order, from outHead_ on
  size_t outHead_ = 0;
  bool outFailed_ = false, outStop_ = false;
  std::thread writer_;
};

}  // namespace replug
