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
        if (frame.code == relay::kConnectRequest && frame.payload.size() >= 3)
          relayed_->ConnectResult(frame.payload[1] == 0 && frame.payload[2] == 0);
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

DivertingPort::~DivertingPort() {
  {
    std::lock_guard<std::mutex> lock(outLock_);
    outStop_ = true;
  }
  outChanged_.notify_all();
  writer_.join();
}

int DivertingPort::Write(const uint8_t* buffer, int n) {
  if (n <= 0) return 0;
  {
    std::lock_guard<std::mutex> lock(outLock_);
    if (outFailed_) return -1;
    out_.insert(out_.end(), buffer, buffer + n);
  }
  outChanged_.notify_all();
  return n;
}

bool DivertingPort::WaitRoom(size_t bytes, int timeoutMs) {
  std::unique_lock<std::mutex> lock(outLock_);
  outChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return outFailed_ || out_.size() - outHead_ < bytes; });
  return !outFailed_ && out_.size() - outHead_ < bytes;
}

size_t DivertingPort::Queued() const {
  std::lock_guard<std::mutex> lock(outLock_);
  return out_.size() - outHead_;
}

void DivertingPort::WriteOut() {
  // Small pieces: each write is bounded by the port's write time-out, and a stop is noticed
  // between two of them.
  constexpr size_t kPiece = 512;
  uint8_t piece[kPiece];
  std::unique_lock<std::mutex> lock(outLock_);
  while (true) {
    outChanged_.wait(lock, [&] { return outStop_ || out_.size() > outHead_; });
    if (outStop_ || outFailed_) return;
    const size_t n = std::min(out_.size() - outHead_, kPiece);
    std::copy(out_.begin() + static_cast<long>(outHead_),
              out_.begin() + static_cast<long>(outHead_ + n), piece);
    lock.unlock();
    const int written = pty_->Write(piece, static_cast<int>(n));
    lock.lock();
    if (written < 0) {
      outFailed_ = true;
    } else {
      outHead_ += static_cast<size_t>(written);
      // Written bytes are dropped in bulk, not per piece.
      if (outHead_ == out_.size() || outHead_ >= 65536) {
        out_.erase(out_.begin(), out_.begin() + static_cast<long>(outHead_));
        outHead_ = 0;
      }
    }
    outChanged_.notify_all();
  }
}

void DivertingPort::PurgeReceive() {
  pty_->PurgeReceive();
  pending_.clear();
  passOn_.clear();
}

}  // namespace replug
