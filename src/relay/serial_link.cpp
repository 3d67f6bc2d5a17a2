// Portable: the serial link's framing rules — opening, framed writes under the port lock, the
// host-command gate, and reading, checking and routing one received frame.
#include <cstring>
#include <vector>

#include "log/log.h"
#include "platform/clock.h"
#include "relay/ovra7_service.h"

std::unique_ptr<platform::SerialPort> Ovra7Service::OpenComm(int n, int baud) {
  return opener_ ? opener_(n, baud) : nullptr;
}

void Ovra7Service::AttachPortWithoutRelay(std::unique_ptr<platform::SerialPort> port) {
  if (running_ || relayThread_.joinable()) return;
  comHandle_ = std::move(port);
}

void Ovra7Service::UninitComm() {
  WriteLog("UninitComm");
  if (comHandle_) {
    WriteLog("Close Com Handle");
    comHandle_.reset();
  }
}

int Ovra7Service::WriteCom(const uint8_t* payload, int n) {
  if (n < 0 || n > relay::kMaxPayload) return -1;
  // Most frames are small; a package-data reply may need up to 64 KiB.
  uint8_t small[relay::kReceiveBufferSize + relay::kFrameOverhead];
  std::vector<uint8_t> large;
  uint8_t* frame = small;
  const size_t size = static_cast<size_t>(n) + relay::kFrameOverhead;
  if (size > sizeof small) {
    large.resize(size);
    frame = large.data();
  }
  relay::EncodeFrame(payload, static_cast<size_t>(n), frame);
  LogHex("write com: ", frame, size);
  int written;
  {
    std::lock_guard<std::mutex> guard(portLock_);
    platform::SerialPort* port = comHandle_.get();
    written = port ? port->Write(frame, static_cast<int>(size)) : -1;
    if (written < 0) {
      WriteLog("com write failed");
      EndRelay();  // may be the UI thread's command: the relay thread may be asleep
      return -1;
    }
    WriteLog("com write success");
  }
  comWriteBytes_ += static_cast<uint32_t>(size);
  return written - relay::kFrameOverhead;
}

int Ovra7Service::WaitComCanSend() {
  if (!running_) return 0;
  const uint64_t start = platform::NowMs();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(portLock_);
      if (reconnecting_ == 0) return 1;
    }
    if (platform::NowMs() - start >= static_cast<uint64_t>(timeouts_.gateMs)) {
      WriteLog("WaitComCanSend timeout");
      return 0;
    }
    platform::SleepMs(100);
  }
}

void Ovra7Service::ReadCom() {
  platform::SerialPort* port = comHandle_.get();
  uint8_t frame[relay::kReceiveBufferSize];
  std::memset(frame, 0, sizeof frame);
  int got = port->Read(frame, relay::kFrameHeadSize);
  if (got < relay::kFrameHeadSize) {
    WriteLog("read head failed");
    running_ = 0;
    return;
  }
  const int length = relay::FrameLength(frame);
  // A length the receive buffer cannot hold is as unusable as a wrong head: whatever is queued
  // behind it is not a frame we can find the end of.
  if (frame[0] != 0x55 || frame[1] != 0xAA || length > relay::kMaxReceiveLength) {
    WriteLog("head is not valid");
    port->PurgeReceive();
    return;
  }
  comReadBytes_ += relay::kFrameHeadSize;
  if (length == 0) return;
  int offset = relay::kFrameHeadSize;
  int remaining = length;
  while (remaining > 0) {
    int n = port->Read(frame + offset, remaining);
    // A reader that fell silent mid-frame returns nothing within the read time-out: the frame
    // ends here so that the relay goes on (and Stop is never held up).
    if (n <= 0) {
      WriteLog("read body failed");
      return;
    }
    offset += n;
    remaining -= n;
    comReadBytes_ += static_cast<uint32_t>(n);
  }
  const int total = relay::kFrameHeadSize + length;
  LogHex("read com:", frame, static_cast<size_t>(total));
  if (relay::XorRange(frame, 0, static_cast<size_t>(total)) != 0) {
    WriteLog("check sum error");
    return;
  }
  RouteFrame(frame, length);
}

void Ovra7Service::RouteFrame(const uint8_t* frame, int length) {
  const uint8_t code = frame[4];
  const uint8_t* data = frame + 5;
  const int dataLength = length - 2;  // command code and check sum excluded
  switch (code) {
    case relay::kRelayData:
      if (dataLength >= 0 && SendServer(data, dataLength) < 0) ReportServerLost();
      return;
    case relay::kDownloadRequest:
      procDownloadUpgradeFile(data, dataLength < 0 ? 0 : dataLength);
      return;
    case relay::kPackageData:
      procSendUpgradeFile(data, dataLength < 0 ? 0 : dataLength);
      return;
    case relay::kConnectRequest:
      // With length 2, byte 5 is the check sum and byte 6 the buffer's zero fill.
      if (frame[5] == 0 && frame[6] == 0) ServeConnectRequest();
      return;
    default:
      StoreResponse(frame + 4, length - 1);
      return;
  }
}

void Ovra7Service::StoreResponse(const uint8_t* record, int n) {
  {
    std::lock_guard<std::mutex> guard(portLock_);
    std::memcpy(responseBuffer_.get(), record, static_cast<size_t>(n));
    responseLength_ = n;
  }
  responseEvent_.Set();
}
