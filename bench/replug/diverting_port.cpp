// Splitting the host's bytes into relay data for the check and frames for the reader.
#include "diverting_port.h"

#include <algorithm>

#include "relay/reader_frame.h"
#include "support/simulated_reader.h"

namespace replug {

int DivertingPort::Read(uint8_t* buffer, int n) {
  if (n <= 0) return 0;
  if (passOn_.empty()) {
    uint32_t errors = 0, queued = 0;
    if (!pty_->QueryStatus(&errors, &queued)) return -1;
    uint8_t chunk[8192];
    int want = static_cast<int>(std::min<uint32_t>(queued, sizeof chunk));
    int got = want > 0 ? pty_->Read(chunk, want) : 0;
    if (got < 0) return -1;
    pending_.insert(pending_.end(), chunk, chunk + got);
    testsupport::ReaderFrameRecord frame;
    size_t dropped = 0;
    while (testsupport::NextFrame(&pending_, &frame, &dropped)) {
      if (frame.code == relay::kRelayData) {
        relayed_->Feed(frame.payload.data() + 1, frame.payload.size() - 1);
      } else {
        passOn_.insert(passOn_.end(), frame.bytes.begin(), frame.bytes.end());
      }
    }
    *strayBytes_ += dropped;
  }
  size_t count = std::min(passOn_.size(), static_cast<size_t>(n));
  std::copy(passOn_.begin(), passOn_.begin() + static_cast<long>(count), buffer);
  passOn_.erase(passOn_.begin(), passOn_.begin() + static_cast<long>(count));
  return static_cast<int>(count);
}

bool DivertingPort::QueryStatus(uint32_t* errors, uint32_t* queued) {
  uint32_t waiting = 0;
  bool ok = pty_->QueryStatus(errors, &waiting);
  if (!ok && passOn_.empty()) return false;
  if (errors) *errors = 0;
  if (queued) *queued = static_cast<uint32_t>(passOn_.size()) + (ok ? waiting : 0);
  return true;
}

void DivertingPort::PurgeReceive() {
  pty_->PurgeReceive();
  pending_.clear();
  passOn_.clear();
}

}  // namespace replug
