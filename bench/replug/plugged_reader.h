// The reader as the program's device folder shows it: a pseudo-terminal whose peer is linked
// under the reader's node name, played by a simulated reader. Plug and Unplug are what a user
// does with the cable. Not thread-safe: one thread plugs and unplugs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "relay_sink.h"
#include "support/simulated_reader.h"

namespace replug {

class DivertingPort;

class PluggedReader {
 public:
  // linkPath: the node the program opens (its device folder's ttyACM0). Relay data the host
  // sends to the reader goes to `relayed`.
  PluggedReader(std::string linkPath, testsupport::ReaderConfig config, RelaySink* relayed)
      : linkPath_(std::move(linkPath)), config_(std::move(config)), relayed_(relayed) {}
  ~PluggedReader() { Unplug(); }
  PluggedReader(const PluggedReader&) = delete;
  PluggedReader& operator=(const PluggedReader&) = delete;

  // A new pty with a reader already answering on it, then the link; when this returns true the
  // node is in place. False with *why when the pty or the link cannot be made.
  bool Plug(std::string* why);
  // Closes the pty (the program's side hangs up) and removes the link.
  void Unplug();

  // Waits up to timeoutMs until fewer than `bytes` of the reader's output wait to go to the
  // host; false on time-out, or when unplugged or the pty failed.
  bool WaitRoom(size_t bytes, int timeoutMs);
  // Waits up to timeoutMs until all the reader's output reached the pty.
  bool WaitSent(int timeoutMs) { return WaitRoom(1, timeoutMs); }

  // The reader while plugged, else nullptr.
  testsupport::SimulatedReader* Reader() { return reader_.get(); }
  // Bytes from the host that belonged to no valid frame, over all plugs.
  uint64_t StrayBytes() const { return strayBytes_; }

 private:
  std::string linkPath_;
  testsupport::ReaderConfig config_;
  RelaySink* relayed_;
  std::atomic<uint64_t> strayBytes_{0};
  std::unique_ptr<testsupport::SimulatedReader> reader_;
  DivertingPort* port_ = nullptr;  // owned by reader_
};

}  // namespace replug
