// The up stream's sending thread.
#include "up_sender.h"

#include <vector>

#include "epoch_stream.h"
#include "phases.h"
#include "relay/reader_frame.h"

namespace replug {

void UpSender::Start(PluggedReader* reader, uint32_t id) {
  Stop();
  id_ = id;
  sent_ = 0;
  stop_ = false;
  halfFrame_ = false;
  failed_ = false;
  thread_ = std::thread(&UpSender::Run, this, reader);
}

void UpSender::Stop(bool halfFrame) {
  if (!thread_.joinable()) return;
  halfFrame_ = halfFrame;
  stop_ = true;
  thread_.join();
}

void UpSender::Run(PluggedReader* plugged) {
  testsupport::SimulatedReader* reader = plugged->Reader();
  std::uniform_int_distribution<size_t> pick(1, kSoakMaxFrameData);
  std::vector<uint8_t> payload(kSoakMaxFrameData + 1);
  std::vector<uint8_t> frame(payload.size() + relay::kFrameOverhead);
  auto build = [&](size_t n) {
    payload[0] = relay::kRelayData;
    FillEpoch(runSeed_, Direction::kUp, id_, sent_, payload.data() + 1, n);
    frame.resize(relay::EncodeFrame(payload.data(), n + 1, frame.data()));
  };
  while (!stop_) {
    if (!plugged->WaitRoom(kReaderOutputBytes, 50)) continue;
    const size_t n = pick(sizes_);
    frame.resize(n + 1 + relay::kFrameOverhead);
    build(n);
    if (!reader->SendRaw(frame)) {
      failed_ = true;
      return;
    }
    sent_ += n;
  }
  if (!halfFrame_) return;
  const size_t n = pick(sizes_);
  frame.resize(n + 1 + relay::kFrameOverhead);
  build(n);
  // The head and at most half of the rest: the frame can never be whole.
  frame.resize(relay::kFrameHeadSize + (frame.size() - relay::kFrameHeadSize) / 2);
  reader->SendRaw(frame);
}

}  // namespace replug
