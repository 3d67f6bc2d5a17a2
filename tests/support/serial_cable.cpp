// The in-memory serial cable: two byte queues and the port's read time-out rules.
#include "support/serial_cable.h"

#include <algorithm>
#include <chrono>

namespace testsupport {

struct SerialCable::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<uint8_t> toHost;    // written by the reader, read by the host
  std::deque<uint8_t> toReader;  // written by the host, read by the reader
  bool hostWriteFails = false;
  int hostShortWrite = 0;
  bool queryFails = false;
  uint32_t errorFlags = 0;
  bool unplugged = false;
  int purges = 0;
};

namespace {

using Clock = std::chrono::steady_clock;

class CableEnd : public platform::SerialPort {
 public:
  CableEnd(std::shared_ptr<SerialCable::State> state, bool host, CableTimeouts timeouts)
      : state_(std::move(state)), host_(host), timeouts_(timeouts) {}

  int Read(uint8_t* buffer, int n) override {
    std::unique_lock<std::mutex> lock(state_->mutex);
    std::deque<uint8_t>& in = host_ ? state_->toHost : state_->toReader;
    const auto total = std::chrono::milliseconds(timeouts_.perByteMs * n + timeouts_.constantMs);
    const auto interval = std::chrono::milliseconds(timeouts_.intervalMs);
    const auto deadline = Clock::now() + total;
    int got = 0;
    auto lastByte = Clock::now();
    while (got < n) {
      if (host_ && state_->unplugged) return -1;
      if (!in.empty()) {
        while (got < n && !in.empty()) {
          buffer[got++] = in.front();
          in.pop_front();
        }
        lastByte = Clock::now();
        continue;
      }
      auto until = deadline;
      if (got > 0) until = std::min(until, lastByte + interval);
      if (Clock::now() >= until) break;
      state_->changed.wait_until(lock, until);
    }
    return got;
  }

  int Write(const uint8_t* buffer, int n) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (host_ && (state_->unplugged || state_->hostWriteFails)) return -1;
    int count = n;
    if (host_ && state_->hostShortWrite > 0) count = std::min(n, state_->hostShortWrite);
    std::deque<uint8_t>& out = host_ ? state_->toReader : state_->toHost;
    out.insert(out.end(), buffer, buffer + count);
    state_->changed.notify_all();
    return count;
  }

  bool QueryStatus(uint32_t* errors, uint32_t* queued) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (host_ && (state_->queryFails || state_->unplugged)) return false;
    *errors = host_ ? state_->errorFlags : 0;
    if (host_) state_->errorFlags = 0;
    *queued = static_cast<uint32_t>((host_ ? state_->toHost : state_->toReader).size());
    return true;
  }

  void PurgeReceive() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    (host_ ? state_->toHost : state_->toReader).clear();
    if (host_) ++state_->purges;
  }

 private:
  std::shared_ptr<SerialCable::State> state_;
  bool host_;
  CableTimeouts timeouts_;
};

}  // namespace

SerialCable::SerialCable(CableTimeouts hostTimeouts, CableTimeouts readerTimeouts)
    : state_(std::make_shared<State>()),
      hostTimeouts_(hostTimeouts),
      readerTimeouts_(readerTimeouts) {}

std::unique_ptr<platform::SerialPort> SerialCable::HostEnd() {
  return std::make_unique<CableEnd>(state_, true, hostTimeouts_);
}

std::unique_ptr<platform::SerialPort> SerialCable::ReaderEnd() {
  return std::make_unique<CableEnd>(state_, false, readerTimeouts_);
}

void SerialCable::SetHostWriteFails(bool fails) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->hostWriteFails = fails;
}

void SerialCable::SetHostShortWrite(int maxBytes) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->hostShortWrite = maxBytes;
}

void SerialCable::SetQueryFails(bool fails) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->queryFails = fails;
}

void SerialCable::SetErrorFlags(uint32_t flags) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->errorFlags = flags;
}

void SerialCable::Unplug() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->unplugged = true;
  state_->changed.notify_all();
}

int SerialCable::PurgeCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->purges;
}

std::vector<uint8_t> SerialCable::TakeHostWritten() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<uint8_t> bytes(state_->toReader.begin(), state_->toReader.end());
  state_->toReader.clear();
  return bytes;
}

SerialCable& FakePorts::Add(int n, CableTimeouts hostTimeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& slot = cables_[n];
  slot = std::make_unique<SerialCable>(hostTimeouts);
  return *slot;
}

SerialCable* FakePorts::Get(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = cables_.find(n);
  return it == cables_.end() ? nullptr : it->second.get();
}

std::unique_ptr<platform::SerialPort> FakePorts::Open(int n, int) {
  std::lock_guard<std::mutex> lock(mutex_);
  opened_.push_back(n);
  auto it = cables_.find(n);
  if (it == cables_.end() || fails_[n]) return nullptr;
  return it->second->HostEnd();
}

void FakePorts::SetOpenFails(int n, bool fails) {
  std::lock_guard<std::mutex> lock(mutex_);
  fails_[n] = fails;
}

std::vector<int> FakePorts::OpenedPorts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opened_;
}

}  // namespace testsupport
