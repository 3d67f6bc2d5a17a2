// The frame format and the frame reader's order of checks.
#include "relay/reader_frame.h"
#include "relay_fixture.h"

namespace relaytest {
namespace {

Bytes Encode(const Bytes& payload) {
  Bytes frame(payload.size() + 5);
  EXPECT_EQ(relay::EncodeFrame(payload.data(), payload.size(), frame.data()), frame.size());
  return frame;
}

TEST(ReaderFrame, EncodingLengthAndCheckSum) {
  const Bytes examples[][2] = {
      {{0x01, 0x00, 0x00}, {0x55, 0xAA, 0x04, 0x00, 0x01, 0x00, 0x00, 0xFA}},
      {{0x10, 0x58, 0x02, 0x58, 0x02},
       {0x55, 0xAA, 0x06, 0x00, 0x10, 0x58, 0x02, 0x58, 0x02, 0xE9}},
      {{0x0A, 0x00, 0x00}, {0x55, 0xAA, 0x04, 0x00, 0x0A, 0x00, 0x00, 0xF1}},
      {{0x0D, 0x01}, {0x55, 0xAA, 0x03, 0x00, 0x0D, 0x01, 0xF0}},
  };
  for (const auto& e : examples) EXPECT_EQ(Encode(e[0]), e[1]);
  // The length counts the check sum and is little-endian.
  Bytes frame = Encode(Bytes(300, 0x04));
  EXPECT_EQ(relay::FrameLength(frame.data()), 301);
  EXPECT_EQ(Bytes(frame.begin() + 2, frame.begin() + 4), (Bytes{0x2D, 0x01}));
  EXPECT_EQ(relay::XorRange(frame.data(), 0, frame.size()), 0);
  Bytes tooLarge(relay::kMaxPayload + 1), out(tooLarge.size() + 5);
  EXPECT_EQ(relay::EncodeFrame(tooLarge.data(), tooLarge.size(), out.data()), 0u);
}

using FrameReaderTest = RelayTest;

TEST_F(FrameReaderTest, SingleBitCorruptionIsDroppedAndTheNextFrameServed) {
  StartOn(3);
  Link();
  const Bytes good = Encode({0x04, 0x41, 0x42});
  // Every single-bit flip of the command code, the data or the check sum fails the XOR check.
  for (size_t byte = 4; byte < good.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes bad = good;
      bad[byte] ^= static_cast<uint8_t>(1 << bit);
      ASSERT_TRUE(reader_->SendRaw(bad));
    }
  }
  ASSERT_TRUE(reader_->SendRaw(Encode({0x04, 0x43})));
  ASSERT_TRUE(server_.WaitReceived(1, 5000));
  platform::SleepMs(50);
  EXPECT_EQ(server_.Received(), (Bytes{0x43}));
  EXPECT_EQ(LogCount("check sum error"), 32);
}

TEST_F(FrameReaderTest, BadHeadPurgesWhatIsQueuedBehindIt) {
  StartOn(3);
  Link();
  // Both bad heads arrive with a valid frame queued right behind them: the purge drops it too.
  for (const Bytes& head : {Bytes{0x55, 0x55}, Bytes{0xAA, 0x55}}) {
    Bytes stream = head;
    stream.insert(stream.end(), {0x04, 0x00});
    Bytes behind = Encode({0x04, 0x58});
    stream.insert(stream.end(), behind.begin(), behind.end());
    int purgesBefore = cable_->PurgeCount();
    ASSERT_TRUE(reader_->SendRaw(stream));
    EXPECT_TRUE(WaitUntil([&] { return cable_->PurgeCount() == purgesBefore + 1; }));
  }
  ASSERT_TRUE(reader_->SendRelay(reinterpret_cast<const uint8_t*>("Y"), 1));
  ASSERT_TRUE(server_.WaitReceived(1, 5000));
  EXPECT_EQ(server_.Received(), (Bytes{'Y'}));
  EXPECT_EQ(LogCount("head is not valid"), 2);
}

TEST_F(FrameReaderTest, ZeroAndOversizedLengthsAreDropped) {
  StartOn(3);
  Link();
  ASSERT_TRUE(reader_->SendRaw({0x55, 0xAA, 0x00, 0x00}));  // length 0: dropped silently
  // 2097 does not fit the receive buffer: rejected like a bad head, the rest purged.
  ASSERT_TRUE(reader_->SendRaw({0x55, 0xAA, 0x31, 0x08, 0x04, 0x01, 0x02}));
  ASSERT_TRUE(WaitUntil([&] { return cable_->PurgeCount() == 1; }));
  EXPECT_TRUE(LogHas("head is not valid"));
  // The largest length that fits is still served.
  Bytes big(2095, 0x5A);
  big[0] = 0x04;
  ASSERT_TRUE(reader_->SendRaw(Encode(big)));
  ASSERT_TRUE(server_.WaitReceived(2094, 5000));
  EXPECT_EQ(server_.Received(), Bytes(2094, 0x5A));
  EXPECT_EQ(service_->IsRunning(), 1);
}

TEST_F(FrameReaderTest, ReaderSilentMidFrameEndsTheFrameNotTheRelay) {
  StartOn(3, testsupport::ReaderConfig(), QuickTimeouts());
  Link();
  ASSERT_TRUE(reader_->SendRaw({0x55, 0xAA, 0x10, 0x00, 0x04, 0x01}));  // 14 body bytes missing
  ASSERT_TRUE(WaitLog("read body failed"));
  ASSERT_TRUE(reader_->SendRelay(reinterpret_cast<const uint8_t*>("ok"), 2));
  ASSERT_TRUE(server_.WaitReceived(2, 5000));
  EXPECT_EQ(server_.Received(), (Bytes{'o', 'k'}));
  // And Stop is not held up by a frame that never completes.
  ASSERT_TRUE(reader_->SendRaw({0x55, 0xAA, 0x10, 0x00}));
  EXPECT_EQ(service_->Stop(false), 1);
}

TEST_F(FrameReaderTest, ConnectCodeWithoutItsTwoZeroBytesIsIgnored) {
  StartOn(3);
  PointAtServer();
  ASSERT_TRUE(reader_->SendRaw({0x55, 0xAA, 0x02, 0x00, 0x0A, 0xF7}));
  platform::SleepMs(200);
  EXPECT_EQ(server_.Connections(), 0);
  EXPECT_EQ(reader_->CountFrames(0x0A), 0u);
}

TEST_F(FrameReaderTest, ShortHeadEndsTheRelayThread) {
  StartOn(3, testsupport::ReaderConfig(), QuickTimeouts());
  ASSERT_TRUE(reader_->SendRaw({0x55, 0xAA}));
  ASSERT_TRUE(WaitLog("read head failed"));
  EXPECT_TRUE(WaitUntil([&] { return service_->IsRunning() == 0; }));
}

}  // namespace
}  // namespace relaytest
