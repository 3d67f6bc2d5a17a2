// A serial port in front of the reader's pty that takes the host's relay frames out of the byte
// stream and feeds their data to a stream check; every other frame passes on to the simulated
// reader unchanged. So the reader answers commands as usual while a long soak is checked on the
// fly instead of being stored by the reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/serial.h"
#include "stream_check.h"

namespace replug {

class DivertingPort : public platform::SerialPort {
 public:
  // strayBytes counts bytes from the host that were part of no valid frame.
  DivertingPort(std::unique_ptr<platform::SerialPort> pty, StreamCheck* relayed,
                std::atomic<uint64_t>* strayBytes)
      : pty_(std::move(pty)), relayed_(relayed), strayBytes_(strayBytes) {}

  // Read and QueryStatus: the simulated reader's thread only. Read returns what passes on, which
  // may be nothing when all that came was relay data.
  int Read(uint8_t* buffer, int n) override;
  bool QueryStatus(uint32_t* errors, uint32_t* queued) override;
  // Any thread (the simulated reader serialises its writes).
  int Write(const uint8_t* buffer, int n) override { return pty_->Write(buffer, n); }
  void PurgeReceive() override;

 private:
  std::unique_ptr<platform::SerialPort> pty_;
  StreamCheck* relayed_;
  std::atomic<uint64_t>* strayBytes_;
  std::vector<uint8_t> pending_;  // bytes of a frame not complete yet
  std::vector<uint8_t> passOn_;   // whole frames for the simulated reader
};

}  // namespace replug
