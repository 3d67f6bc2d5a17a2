// Where the reader's side of the benchmark hands the host's relay data, and tells of the host's
// connect results (the bytes after a result of 00 00 belong to a new link).
#pragma once

#include <cstddef>
#include <cstdint>

namespace replug {

class RelaySink {
 public:
  virtual ~RelaySink() = default;
  // The data of one relay frame, in the order the frames came (the reader's thread).
  virtual void Feed(const uint8_t* data, size_t n) = 0;
  // A NotifyConnectResult frame arrived: connected is its 00 00.
  virtual void ConnectResult(bool connected) { (void)connected; }
};

}  // namespace replug
