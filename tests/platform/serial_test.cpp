// The serial backend against a real device node: a pty on Linux, a pty-backed COM port under
// wine. The same cases run on both targets through SerialPeer.
#include "platform/serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_peer.h"

namespace {

using platform::OpenSerialPort;
using platform::SerialPort;
using testsupport::SerialPeer;

// Generous bound for anything that must end by a time-out of about a second.
constexpr uint64_t kNoHangMs = 6000;

class SerialPortTest : public testing::Test {
 protected:
  // Port n made by the peer and opened: peer_ and port_.
  void Open(int n) {
    std::string why;
    peer_ = SerialPeer::Create(n, &why);
    ASSERT_TRUE(peer_) << why;
    port_ = OpenSerialPort(n, 115200);
    ASSERT_TRUE(port_) << platform::SerialDevicePath(n);
  }
  std::unique_ptr<SerialPeer> peer_;
  std::unique_ptr<SerialPort> port_;
};

// Waits until the port reports at least want queued bytes; returns the last count seen.
uint32_t WaitQueued(SerialPort* port, uint32_t want) {
  uint32_t errors = 0, queued = 0;
  uint64_t end = platform::NowMs() + kNoHangMs;
  while (platform::NowMs() < end) {
    if (!port->QueryStatus(&errors, &queued)) return 0;
    if (queued >= want) break;
    platform::SleepMs(10);
  }
  return queued;
}

// Collects exactly n bytes that the port wrote, or fewer when the peer goes quiet.
std::vector<uint8_t> ReceiveAll(SerialPeer* peer, int n) {
  std::vector<uint8_t> got;
  uint8_t chunk[4096];
  while (static_cast<int>(got.size()) < n) {
    int k = peer->Receive(chunk, static_cast<int>(sizeof chunk), 3000);
    if (k <= 0) break;
    got.insert(got.end(), chunk, chunk + k);
  }
  return got;
}

std::vector<uint8_t> Pattern(int n, int seed) {
  std::vector<uint8_t> bytes(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + seed);
  return bytes;
}

TEST_F(SerialPortTest, OpensExclusivelyAtRaw115200EightNoneOne) {
  std::string why;
  auto peer = SerialPeer::Create(7, &why);
  ASSERT_TRUE(peer) << why;
  EXPECT_NE(peer->LineSettings(), "115200 8N1 raw");  // the peer starts from another setting
  {
    auto port = OpenSerialPort(7, 115200);
    ASSERT_TRUE(port);
    EXPECT_EQ(peer->LineSettings(), "115200 8N1 raw");
    if (peer->RefusesSecondOpen()) {
      EXPECT_FALSE(OpenSerialPort(7, 115200)) << "a second open of a held port must fail";
    }
  }
  EXPECT_TRUE(OpenSerialPort(7, 115200)) << "closing must release the port";
  EXPECT_FALSE(OpenSerialPort(8, 115200)) << "a port with no device must not open";
}

// Windows reaches COM10 and above only through the "\\.\" device namespace.
TEST_F(SerialPortTest, TwoDigitPortNumberOpens) {
  Open(12);
  const uint8_t frame[] = {0x55, 0xAA, 0x04, 0x00, 0x0A, 0x00, 0x00, 0xF1};
  ASSERT_TRUE(peer_->Send(frame, sizeof frame));
  uint8_t got[8] = {};
  EXPECT_EQ(port_->Read(got, 8), 8);
  EXPECT_EQ(0, std::memcmp(got, frame, sizeof frame));
}

TEST_F(SerialPortTest, ShortReadReturnsWhatCameOnceTheLineFallsSilent) {
  Open(7);
  const uint8_t head[] = {0x55, 0xAA, 0x11};
  ASSERT_TRUE(peer_->Send(head, sizeof head));
  uint8_t got[100] = {};
  uint64_t start = platform::NowMs();
  int n = port_->Read(got, sizeof got);
  uint64_t took = platform::NowMs() - start;
  ASSERT_EQ(n, 3);
  EXPECT_EQ(0, std::memcmp(got, head, sizeof head));
  // It waited for more until the silence after the last byte ended the read, and not forever.
  EXPECT_GE(took, 500u);
  EXPECT_LT(took, kNoHangMs);

  // Nothing at all: the whole time-out runs and the result is 0, not a failure.
  start = platform::NowMs();
  EXPECT_EQ(port_->Read(got, 4), 0);
  took = platform::NowMs() - start;
  EXPECT_GE(took, 500u);
  EXPECT_LT(took, kNoHangMs);
}

TEST_F(SerialPortTest, QueuedCountAndPurgeDropOnlyWhatWasWaiting) {
  Open(7);
  uint32_t errors = 99, queued = 99;
  ASSERT_TRUE(port_->QueryStatus(&errors, &queued));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(queued, 0u);

  const uint8_t stale[] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(peer_->Send(stale, sizeof stale));
  EXPECT_EQ(WaitQueued(port_.get(), 5), 5u);
  port_->PurgeReceive();
  ASSERT_TRUE(port_->QueryStatus(&errors, &queued));
  EXPECT_EQ(queued, 0u);

  // The port keeps working after a purge and delivers only what came after it.
  const uint8_t fresh[] = {0x55, 0xAA};
  ASSERT_TRUE(peer_->Send(fresh, sizeof fresh));
  EXPECT_EQ(WaitQueued(port_.get(), 2), 2u);
  uint8_t got[2] = {};
  EXPECT_EQ(port_->Read(got, 2), 2);
  EXPECT_EQ(got[0], 0x55);
  EXPECT_EQ(got[1], 0xAA);
}

TEST_F(SerialPortTest, BytesCrossIntactBothWays) {
  Open(7);
  // Every byte value, including XON/XOFF, CR, LF and the terminal's control characters.
  std::vector<uint8_t> out = Pattern(1024, 3);
  for (int i = 0; i < 256; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  ASSERT_EQ(port_->Write(out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
  EXPECT_EQ(ReceiveAll(peer_.get(), static_cast<int>(out.size())), out);

  std::vector<uint8_t> in = out;
  std::reverse(in.begin(), in.end());
  ASSERT_TRUE(peer_->Send(in.data(), static_cast<int>(in.size())));
  std::vector<uint8_t> got(in.size());
  int done = 0;
  while (done < static_cast<int>(got.size())) {
    int k = port_->Read(got.data() + done, static_cast<int>(got.size()) - done);
    if (k <= 0) break;
    done += k;
  }
  EXPECT_EQ(got, in);
}

TEST_F(SerialPortTest, VanishedDeviceFailsInsteadOfHanging) {
  Open(7);
  peer_->Vanish();
  uint64_t start = platform::NowMs();
  uint32_t errors = 0, queued = 0;
  bool queried = port_->QueryStatus(&errors, &queued);
  uint8_t got[4];
  int read = port_->Read(got, 4);
  const uint8_t frame[] = {0x55, 0xAA, 0x02, 0x00, 0x04, 0xFB};
  int written = port_->Write(frame, sizeof frame);
  EXPECT_LT(platform::NowMs() - start, 2 * kNoHangMs);
  EXPECT_TRUE(!queried || read == -1) << "the loss must show in the query or the read";
  EXPECT_TRUE(!queried || written == -1) << "the loss must show in the query or the write";
}

}  // namespace
