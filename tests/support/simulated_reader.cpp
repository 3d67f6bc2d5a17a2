// The simulated reader: frame splitting, the answer table and the reading thread.
#include "support/simulated_reader.h"

#include <chrono>

#include "platform/clock.h"
#include "relay/reader_frame.h"

namespace testsupport {

bool NextFrame(std::vector<uint8_t>* buffer, ReaderFrameRecord* frame, size_t* dropped) {
  std::vector<uint8_t>& b = *buffer;
  size_t start = 0;
  auto drop = [&](size_t n) {
    if (dropped) *dropped += n;
  };
  while (true) {
    while (start + 1 < b.size() && !(b[start] == 0x55 && b[start + 1] == 0xAA)) {
      ++start;
      drop(1);
    }
    if (start + 4 > b.size()) break;
    const size_t length = b[start + 2] | (b[start + 3] << 8);
    if (length == 0) {
      start += 2;
      drop(2);
      continue;
    }
    if (start + 4 + length > b.size()) break;
    if (relay::XorRange(b.data(), start, start + 4 + length) != 0) {
      start += 2;
      drop(2);
      continue;
    }
    frame->bytes.assign(b.begin() + static_cast<long>(start),
                        b.begin() + static_cast<long>(start + 4 + length));
    frame->payload.assign(frame->bytes.begin() + 4, frame->bytes.end() - 1);
    frame->code = frame->payload.empty() ? 0 : frame->payload[0];
    b.erase(b.begin(), b.begin() + static_cast<long>(start + 4 + length));
    return true;
  }
  b.erase(b.begin(), b.begin() + static_cast<long>(start));
  return false;
}

SimulatedReader::SimulatedReader(std::unique_ptr<platform::SerialPort> port, ReaderConfig config)
    : port_(std::move(port)), config_(std::move(config)) {
  thread_ = std::thread(&SimulatedReader::Run, this);
}

SimulatedReader::~SimulatedReader() { Stop(); }

void SimulatedReader::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void SimulatedReader::Configure(const std::function<void(ReaderConfig&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(config_);
}

ReaderConfig SimulatedReader::Config() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_;
}

bool SimulatedReader::SendRaw(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(writeLock_);
  size_t done = 0;
  while (done < bytes.size()) {
    int n = port_->Write(bytes.data() + done, static_cast<int>(bytes.size() - done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SimulatedReader::SendFrame(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame(payload.size() + relay::kFrameOverhead);
  if (relay::EncodeFrame(payload.data(), payload.size(), frame.data()) == 0) return false;
  return SendRaw(frame);
}

bool SimulatedReader::SendConnectRequest() { return SendFrame({0x0A, 0x00, 0x00}); }

bool SimulatedReader::SendRelay(const uint8_t* data, size_t n) {
  std::vector<uint8_t> payload(n + 1);
  payload[0] = relay::kRelayData;
  std::copy(data, data + n, payload.begin() + 1);
  return SendFrame(payload);
}

std::vector<ReaderFrameRecord> SimulatedReader::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

size_t SimulatedReader::CountFrames(uint8_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& f : frames_) n += f.code == code;
  return n;
}

bool SimulatedReader::WaitFrames(uint8_t code, size_t count, int timeoutMs,
                                 ReaderFrameRecord* out) {
  std::unique_lock<std::mutex> lock(mutex_);
  const ReaderFrameRecord* found = nullptr;
  bool ok = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    size_t n = 0;
    for (const auto& f : frames_) {
      if (f.code == code && ++n == count) {
        found = &f;
        return true;
      }
    }
    return false;
  });
  if (ok && out) *out = *found;
  return ok;
}

std::vector<uint8_t> SimulatedReader::Relayed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return relayed_;
}

bool SimulatedReader::WaitRelayed(size_t bytes, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return relayed_.size() >= bytes; });
}

size_t SimulatedReader::DroppedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

std::vector<uint8_t> SimulatedReader::Answered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answered_;
}

void SimulatedReader::OnRelay(std::function<void(const uint8_t*, size_t)> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  onRelay_ = std::move(callback);
}

void SimulatedReader::Run() {
  std::vector<uint8_t> pending;
  uint8_t chunk[4096];
  while (!stop_) {
    uint32_t errors = 0, queued = 0;
    if (!port_->QueryStatus(&errors, &queued) || queued == 0) {
      platform::SleepMs(1);
      continue;
    }
    int want = queued > sizeof chunk ? static_cast<int>(sizeof chunk) : static_cast<int>(queued);
    int n = port_->Read(chunk, want);
    if (n <= 0) continue;
    pending.insert(pending.end(), chunk, chunk + n);
    ReaderFrameRecord frame;
    size_t dropped = 0;
    while (NextFrame(&pending, &frame, &dropped)) Handle(frame);
    if (dropped) {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped_ += dropped;
    }
  }
}

void SimulatedReader::Handle(const ReaderFrameRecord& frame) {
  std::function<void(const uint8_t*, size_t)> relayCallback;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(frame);
    if (frame.code == relay::kRelayData) {
      relayed_.insert(relayed_.end(), frame.payload.begin() + 1, frame.payload.end());
      relayCallback = onRelay_;
    }
  }
  changed_.notify_all();
  if (relayCallback) relayCallback(frame.payload.data() + 1, frame.payload.size() - 1);
  switch (frame.code) {
    case relay::kRelayData:
    case relay::kConnectRequest:   // the host's NotifyConnectResult
    case relay::kDownloadRequest:  // the host's download status
    case relay::kPackageData:      // the host's package data
      return;
    default:
      Answer(frame.code, frame.payload);
  }
}

void SimulatedReader::Answer(uint8_t code, const std::vector<uint8_t>& request) {
  ReaderConfig c;
  int qualityResult = 0;
  bool haveQualityResult = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (config_.silent.count(code)) return;
    if (code == relay::kTestNetworkQuality && !config_.qualityResults.empty()) {
      qualityResult = config_.qualityResults.front();
      config_.qualityResults.pop_front();
      haveQualityResult = true;
      if (qualityResult < 0) return;
    }
    if (code == relay::kSetHeartBeatInterval && request.size() >= 5) {
      config_.usbHeartBeat = static_cast<uint16_t>(request[1] | (request[2] << 8));
      config_.cat1HeartBeat = static_cast<uint16_t>(request[3] | (request[4] << 8));
    }
    if (code == relay::kSetPlatformInfo && request.size() >= 6) {
      config_.platformMethod = request[1];
      config_.platformCache = request[2];
      config_.platformPort = static_cast<uint16_t>(request[3] | (request[4] << 8));
      config_.platformHost.assign(request.begin() + 5, request.end() - 1);
    }
    c = config_;
  }
  if (c.answerDelayMs > 0) platform::SleepMs(c.answerDelayMs);
  auto statusOf = [&](uint8_t cmd) {
    auto it = c.status.find(cmd);
    return it == c.status.end() ? uint8_t{0} : it->second;
  };
  const uint8_t status = statusOf(code);
  auto lo = [](int v) { return static_cast<uint8_t>(v & 0xFF); };
  auto hi = [](int v) { return static_cast<uint8_t>((v >> 8) & 0xFF); };
  std::vector<uint8_t> answer = {code, status};
  switch (code) {
    case relay::kQueryCat1Module:
      answer[1] = c.status.count(code) ? status : c.cat1Status;
      answer.push_back(c.cat1Model);
      answer.push_back(c.cat1Second);
      break;
    case relay::kQueryConnectStatus:
      answer.push_back(c.connectStatusCode);
      answer.push_back(c.connectionType);
      break;
    case relay::kGetAuthorizationInfo:
      answer.push_back(0);
      answer.insert(answer.end(), c.auth.begin(), c.auth.end());
      for (size_t i = 0; i < 12; ++i) answer.push_back(i < c.mac.size() ? c.mac[i] : 0);
      for (size_t i = 0; i < 20; ++i) answer.push_back(i < c.iccid.size() ? c.iccid[i] : 0);
      break;
    case relay::kGetPlatformInfo:
      answer.push_back(0);
      answer.push_back(c.platformMethod);
      answer.push_back(c.platformCache);
      answer.push_back(lo(c.platformPort));
      answer.push_back(hi(c.platformPort));
      answer.insert(answer.end(), c.platformHost.begin(), c.platformHost.end());
      answer.push_back(0);
      break;
    case relay::kTestNetworkQuality: {
      int delay = haveQualityResult ? qualityResult : c.qualityDelayMs;
      answer.push_back(lo(delay));
      answer.push_back(hi(delay));
      break;
    }
    case relay::kGetHeartBeatInterval:
      answer.push_back(0);
      answer.push_back(lo(c.usbHeartBeat));
      answer.push_back(hi(c.usbHeartBeat));
      answer.push_back(lo(c.cat1HeartBeat));
      answer.push_back(hi(c.cat1HeartBeat));
      break;
    default:
      break;
  }
  auto other = c.answerCode.find(code);
  if (other != c.answerCode.end()) answer[0] = other->second;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answered_.push_back(code);
  }
  SendFrame(answer);
}

}  // namespace testsupport
