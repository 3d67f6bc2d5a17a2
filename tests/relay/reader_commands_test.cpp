// The host's command transactions: payloads, outputs, result codes, time-outs and the gate.
#include <functional>
#include <thread>

#include "relay_fixture.h"

namespace relaytest {
namespace {

using CommandTest = RelayTest;

// Commands from the window's thread while the relay sleeps on a terminal or polls the cable.
using CommandOnBothPortsTest = OnBothPortsTest;
RELAY_ON_BOTH_PORTS(CommandOnBothPortsTest);

Bytes LastPayload(testsupport::SimulatedReader& reader, uint8_t code) {
  testsupport::ReaderFrameRecord f;
  size_t n = reader.CountFrames(code);
  if (n == 0 || !reader.WaitFrames(code, n, 100, &f)) return {};
  return f.payload;
}

TEST_P(CommandOnBothPortsTest, EveryCommandSendsItsPayloadAndTakesItsOutputs) {
  testsupport::ReaderConfig config;
  config.cat1Model = 0x21;
  config.connectStatusCode = 0x07;
  config.connectionType = 2;
  for (size_t i = 0; i < 32; ++i) config.auth[i] = static_cast<uint8_t>(0xA0 + i);
  config.platformMethod = 1;
  config.platformCache = 1;
  config.platformPort = 0x5341;  // bytes 41 53
  config.platformHost = "10.1.2.3";
  config.usbHeartBeat = 90;
  config.cat1HeartBeat = 450;
  config.qualityDelayMs = 321;
  StartOn(3, config);

  uint8_t model = 0, second = 0xEE, status = 0, type = 0, method = 9, cache = 9;
  EXPECT_EQ(service_->QueryCat1Module(&model, &second), 1);
  EXPECT_EQ(model, 0x21);
  EXPECT_EQ(LastPayload(*reader_, 0x01), (Bytes{0x01, 0x00, 0x00}));
  EXPECT_EQ(service_->QueryConnectStatus(&status, &type), 0);
  EXPECT_EQ(status, 0x07);
  EXPECT_EQ(type, 2);
  uint8_t auth[32] = {};
  char mac[12] = {}, iccid[20] = {};
  EXPECT_EQ(service_->GetAuthorizationInfo(auth, mac, iccid), 0);
  EXPECT_EQ(auth[0], 0xA0);
  EXPECT_EQ(auth[31], 0xA0 + 31);
  EXPECT_EQ(std::string(mac, 12), "A1B2C3D4E5F6");
  EXPECT_EQ(std::string(iccid, 20), "89860012345678901234");
  uint16_t port = 0;
  std::string host;
  EXPECT_EQ(service_->GetPlatformInfo(&method, &cache, &port, &host), 0);
  EXPECT_EQ(method, 1);
  EXPECT_EQ(cache, 1);
  EXPECT_EQ(port, 21313);
  EXPECT_EQ(host, "10.1.2.3");
  EXPECT_EQ(service_->GetServerHost(), "10.1.2.3");  // the reader's address is adopted
  EXPECT_EQ(service_->GetServerPort(), 21313);

  // Commands whose result and payload are all there is to them.
  const struct {
    std::function<int()> call;
    int result;
    Bytes payload;
  } sends[] = {
      {[&] { return service_->SetNetworkMode(1); }, 0, {0x02, 0x01, 0x00}},
      {[&] { return service_->DisconnectPlatform(); }, 0, {0x05, 0x00, 0x00}},
      {[&] { return service_->SetPlatformInfo(0, 1, 4464, "a.b"); },
       0,
       {0x08, 0x00, 0x01, 0x70, 0x11, 'a', '.', 'b', 0}},
      {[&] { return service_->TestNetworkQuality(1, 50); }, 321, {0x0C, 0x01, 0x32}},
      {[&] { return service_->NotifyEnterDfuMode(); }, 0, {0x0F, 0x00, 0x00}},
  };
  for (const auto& c : sends) {
    SCOPED_TRACE(int(c.payload[0]));
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(LastPayload(*reader_, c.payload[0]), c.payload);
  }
  int usb = 0, cat1 = 0;
  EXPECT_EQ(service_->GetHeartBeatInterval(&usb, &cat1), 0);
  EXPECT_EQ(usb, 90);
  EXPECT_EQ(cat1, 450);
  EXPECT_EQ(service_->GetUsbHeartBeat(), 600);  // reading does not change what is held

  EXPECT_EQ(service_->SetHeartBeatInterval(600, 600, false, false), 0);
  testsupport::ReaderFrameRecord frame;
  ASSERT_TRUE(reader_->WaitFrames(0x10, 1, 100, &frame));
  EXPECT_EQ(frame.bytes, (Bytes{0x55, 0xAA, 0x06, 0x00, 0x10, 0x58, 0x02, 0x58, 0x02, 0xE9}));
  EXPECT_TRUE(LogHas("set heart beat interval: 600 600"));
}

TEST_F(CommandTest, StatusBytesAndUntouchedOutputs) {
  testsupport::ReaderConfig config;
  config.cat1Status = 0;
  config.status[0x03] = 1;
  config.status[0x09] = 2;
  config.status[0x11] = 5;
  config.status[0x0C] = 3;
  config.status[0x02] = 4;
  StartOn(3, config);
  uint8_t model = 0x55;
  EXPECT_EQ(service_->QueryCat1Module(&model, nullptr), 0);
  EXPECT_EQ(model, 0x55);
  uint8_t status = 0x66, type = 0x66;
  EXPECT_EQ(service_->QueryConnectStatus(&status, &type), 1);
  EXPECT_EQ(status, 0x66);
  std::string host = "unchanged";
  EXPECT_EQ(service_->GetPlatformInfo(nullptr, nullptr, nullptr, &host), 2);
  EXPECT_EQ(host, "unchanged");
  EXPECT_NE(service_->GetServerHost(), "127.0.0.1");
  int usb = -5;
  EXPECT_EQ(service_->GetHeartBeatInterval(&usb, nullptr), -3);
  EXPECT_EQ(usb, -5);
  EXPECT_EQ(service_->TestNetworkQuality(1, 50), -4);
  EXPECT_EQ(service_->SetNetworkMode(2), 4);
}

TEST_F(CommandTest, AnswerWithAnotherCodeGivesEachCommandsMismatchValue) {
  testsupport::ReaderConfig config;
  config.answerCode = {{0x02, 0x09}, {0x11, 0x09}, {0x0C, 0x09}, {0x10, 0x09}, {0x01, 0x09}};
  config.status[0x02] = 7;
  StartOn(3, config);
  EXPECT_EQ(service_->SetNetworkMode(1), 0);
  EXPECT_EQ(service_->GetHeartBeatInterval(nullptr, nullptr), -2);
  EXPECT_EQ(service_->TestNetworkQuality(1, 50), -3);
  EXPECT_EQ(service_->SetHeartBeatInterval(100, 100, false, false), -2);
  EXPECT_EQ(service_->QueryCat1Module(nullptr, nullptr), 0);
}

TEST_F(CommandTest, NoAnswerRunsOutTheTimeOutAndAStaleAnswerIsNotTaken) {
  testsupport::ReaderConfig config;
  config.silent = {0x02, 0x0C};
  ShortWaits();
  StartOn(3, config);
  EXPECT_EQ(service_->SetNetworkMode(1), -3);
  EXPECT_TRUE(LogHas("read input report timeout"));
  EXPECT_EQ(service_->TestNetworkQuality(1, 50), -3);
  // An answer that arrived while nobody waited is not taken by the next command.
  ASSERT_TRUE(reader_->SendFrame({0x02, 0x00}));
  platform::SleepMs(100);
  EXPECT_EQ(service_->SetNetworkMode(1), -3);
  EXPECT_EQ(LogCount("read input report timeout"), 3);
}

TEST_F(CommandTest, StoreOnlyAndNotRunningSendNothing) {
  EXPECT_EQ(service_->SetHeartBeatInterval(120, 240, false, true), 0);
  EXPECT_EQ(service_->GetUsbHeartBeat(), 120);
  EXPECT_EQ(service_->GetCat1HeartBeat(), 240);
  EXPECT_EQ(service_->QueryCat1Module(nullptr, nullptr), -1);
  EXPECT_EQ(service_->TestNetworkQuality(1, 50), -1);
  EXPECT_EQ(service_->SetHeartBeatInterval(120, 240, false, false), -1);
  StartOn(3);
  EXPECT_EQ(service_->SetHeartBeatInterval(60, 60, false, true), 0);
  platform::SleepMs(50);
  EXPECT_EQ(reader_->CountFrames(0x10), 0u);
  EXPECT_EQ(service_->GetComWriteBytes(), 0u);
}

// The reader keeps its texts in code page 936: a Chinese host goes out in it and comes back as
// UTF-8, and the 250-byte limit counts the reader's bytes (two per Chinese character).
TEST_F(CommandTest, ChineseHostRoundTripsThroughTheReadersCodePage) {
  StartOn(3);
  const std::string host = "读卡平台.示例.cn";
  EXPECT_EQ(service_->SetPlatformInfo(1, 0, 21313, host), 0);
  EXPECT_EQ(LastPayload(*reader_, 0x08),
            (Bytes{0x08, 0x01, 0x00, 0x41, 0x53, 0xB6, 0xC1, 0xBF, 0xA8, 0xC6, 0xBD,
                   0xCC, 0xA8, '.',  0xCA, 0xBE, 0xC0, 0xFD, '.',  'c',  'n',  0x00}));
  EXPECT_EQ(reader_->Config().platformHost, "\xB6\xC1\xBF\xA8\xC6\xBD\xCC\xA8.\xCA\xBE\xC0\xFD.cn");
  std::string shown;
  uint16_t port = 0;
  EXPECT_EQ(service_->GetPlatformInfo(nullptr, nullptr, &port, &shown), 0);
  EXPECT_EQ(shown, host);
  EXPECT_EQ(service_->GetServerHost(), host);
  EXPECT_EQ(port, 21313);

  std::string chinese125;
  for (int i = 0; i < 125; ++i) chinese125 += "读";
  EXPECT_EQ(service_->SetPlatformInfo(0, 0, 80, chinese125), 0) << "375 bytes of UTF-8, 250 sent";
  EXPECT_EQ(LastPayload(*reader_, 0x08).size(), 256u);
  EXPECT_EQ(service_->SetPlatformInfo(0, 0, 80, chinese125 + "x"), -1);
  EXPECT_TRUE(LogHas("SetPlatformInfo host too long: 251"));
  // An emoji has no place in the code page: refused, nothing sent.
  EXPECT_EQ(service_->SetPlatformInfo(0, 0, 80, "srv\xF0\x9F\x98\x80.cn"), -1);
  EXPECT_TRUE(LogHas("SetPlatformInfo host not in code page 936"));
  platform::SleepMs(50);
  EXPECT_EQ(reader_->CountFrames(0x08), 2u);

  // The reader shows at most 240 of its bytes; a lead byte cut off there shows as U+FFFD.
  std::string stored = "a";
  for (int i = 0; i < 120; ++i) stored += "\xB6\xC1";  // "a" and 120 times 读: 241 bytes
  reader_->Configure([&](testsupport::ReaderConfig& c) { c.platformHost = stored; });
  EXPECT_EQ(service_->GetPlatformInfo(nullptr, nullptr, nullptr, &shown), 0);
  std::string expected = "a";
  for (int i = 0; i < 119; ++i) expected += "读";
  EXPECT_EQ(shown, expected + "\xEF\xBF\xBD");
}

TEST_F(CommandTest, ModeTwoResetsTheCountersBeforeSending) {
  StartOn(3);
  Link();
  ASSERT_TRUE(reader_->SendRelay(reinterpret_cast<const uint8_t*>("abc"), 3));
  ASSERT_TRUE(server_.WaitReceived(3, 5000));
  // The relay counts a send right after it returns, which may be after the server has the bytes.
  ASSERT_TRUE(WaitUntil([&] { return service_->GetServerSendBytes() == 3; }));
  EXPECT_GT(service_->GetComReadBytes(), 0u);
  EXPECT_EQ(service_->SetNetworkMode(2), 0);
  // Only the mode command's own frame and its answer are counted after the reset.
  EXPECT_EQ(service_->GetComWriteBytes(), 8u);
  EXPECT_EQ(service_->GetServerSendBytes(), 0u);
}

TEST_F(CommandTest, GateHoldsCommandsWhileAConnectRequestIsServed) {
  StartOn(3);
  HoldConnectsInTheResolver();
  ASSERT_TRUE(reader_->SendConnectRequest());
  EXPECT_TRUE(WaitInTheResolver());  // the relay thread is now inside the connect
  std::thread releaser([&] {
    platform::SleepMs(400);
    release_ = true;
  });
  uint64_t start = platform::NowMs();
  EXPECT_EQ(service_->DisconnectPlatform(), 0);
  EXPECT_GE(platform::NowMs() - start, 300u);  // it waited for the connect to finish
  releaser.join();
  // The disconnect went out after the connect result.
  auto frames = reader_->Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[0].code, 0x0A);
  EXPECT_EQ(frames[1].code, 0x05);
}

// The reader asks to connect right after the mode command passed the gate. With one gate the
// command goes out at once; a second gate would hold it for the connect and, after 5 s, refuse
// it with the counters already reset.
TEST_F(CommandTest, ModeCommandPassesOneGateEvenWhenAConnectRequestFollowsIt) {
  StartOn(3);
  HoldConnectsInTheResolver();
  int passes = 0;
  service_->SetGatePassedHookForTesting([&] {
    if (++passes > 1) return;
    // The connect request now holds the link: the relay thread sits in the resolver.
    EXPECT_TRUE(reader_->SendConnectRequest());
    EXPECT_TRUE(WaitInTheResolver());
  });
  // The connect is let go once the mode command reached the reader, or after a bound that a
  // command held by a second gate (5 s) runs past.
  std::thread releaser([&] {
    reader_->WaitFrames(0x02, 1, 15000);
    release_ = true;
  });
  const int result = service_->SetNetworkMode(2);
  releaser.join();
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(reader_->CountFrames(0x02), 1u);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(LogHas("WaitComCanSend timeout"));
}

TEST_F(CommandTest, GateGivesUpWhenTheConnectTakesTooLong) {
  ShortWaits();
  StartOn(3);
  HoldConnectsInTheResolver();
  ASSERT_TRUE(reader_->SendConnectRequest());
  ASSERT_TRUE(WaitInTheResolver());
  EXPECT_EQ(service_->QueryCat1Module(nullptr, nullptr), -1);
  EXPECT_TRUE(LogHas("WaitComCanSend timeout"));
  release_ = true;
  ASSERT_TRUE(reader_->WaitFrames(0x0A, 1, 5000));
}

TEST_P(CommandOnBothPortsTest, FailedWriteEndsTheRelayAndLaterCommandsFailAtOnce) {
  ShortWaits();
  StartOn(3);
  Link();
  faults_->writeFails = true;
  EXPECT_EQ(service_->DisconnectPlatform(), -3);
  EXPECT_TRUE(LogHas("com write failed"));
  EXPECT_EQ(service_->IsRunning(), 0);
  // The relay thread, asleep on the port and the idle link, wakes and ends: it closes the link.
  EXPECT_TRUE(server_.WaitClientClosed(10000));
  uint64_t start = platform::NowMs();
  EXPECT_EQ(service_->QueryCat1Module(nullptr, nullptr), -1);
  EXPECT_LT(platform::NowMs() - start, 1000u);
  EXPECT_EQ(service_->Stop(false), 1);  // collects the thread that ended by itself
  ASSERT_EQ(service_->Start(3, {"自动"}), 1);
}

TEST_F(CommandTest, ShortWriteCountsTheWholeFrame) {
  StartOn(3);
  cable_->SetHostShortWrite(5);
  EXPECT_EQ(service_->WriteCom(reinterpret_cast<const uint8_t*>("\x01\x00\x00"), 3), 0);
  EXPECT_EQ(service_->GetComWriteBytes(), 8u);
  EXPECT_TRUE(LogHas("com write success"));
}

TEST_F(CommandTest, CommandsAndRelayNoticesOnTwoThreadsKeepTheirFramesApart) {
  LogEnabled = 0;
  testsupport::ReaderConfig config;
  config.platformHost = "127.0.0.1";
  StartOn(3, config);
  Link();
  std::atomic<bool> done{false};
  // The relay thread writes server data and heartbeat pushes while the UI thread transacts.
  std::thread serverSide([&] {
    Bytes ok = {0x01, 0x3F, 0x02, ':', 'O', 'K', ':'};
    while (!done) {
      server_.Send(ok);
      platform::SleepMs(2);
    }
  });
  // A heartbeat push resets the shared response event and its answer replaces the stored
  // response, so a UI command may time out or see another code; what must never happen is a
  // torn frame or a wrong value taken as an answer.
  int answered = 0;
  for (int i = 0; i < 60; ++i) {
    uint8_t model = 0;
    int r = service_->QueryCat1Module(&model, nullptr);
    if (r == 1) {
      EXPECT_EQ(model, 0x21);
      ++answered;
    }
    int usb = 0;
    if (service_->GetHeartBeatInterval(&usb, nullptr) == 0) {
      EXPECT_EQ(usb, 600);
    }
  }
  done = true;
  serverSide.join();
  EXPECT_GT(answered, 0);
  EXPECT_EQ(reader_->DroppedBytes(), 0u);
  for (const auto& f : reader_->Frames()) {
    EXPECT_TRUE(f.code == 0x01 || f.code == 0x11 || f.code == 0x04 || f.code == 0x10 ||
                f.code == 0x0A)
        << int(f.code);
  }
  EXPECT_GT(reader_->CountFrames(0x10), 0u);
}

// A send that timed out may have sent part of its frame: nothing more goes on that connection,
// so the server never reads a stream with a hole in it, only its end.
TEST_F(CommandTest, ServerThatStopsReadingCannotHoldTheRelayForever) {
  LogEnabled = 0;
  ShortWaits();
  StartOn(3);
  Link();
  server_.SetReading(false);
  // Every frame has bytes of its own, so a hole shows wherever it is.
  Bytes sent;
  Bytes chunk(2094);
  // Fill the socket buffers until a send times out; the relay reports the loss to the reader.
  for (int i = 0; i < 20000 && reader_->CountFrames(0x0B) == 0; ++i) {
    for (size_t k = 0; k < chunk.size(); ++k) chunk[k] = static_cast<uint8_t>(i * 7 + k % 5);
    ASSERT_TRUE(reader_->SendRelay(chunk.data(), chunk.size()));
    sent.insert(sent.end(), chunk.begin(), chunk.end());
    if (i % 50 == 49) platform::SleepMs(20);
  }
  ASSERT_TRUE(reader_->WaitFrames(0x0B, 1, 30000));
  server_.SetReading(true);
  const uint8_t after[] = {0xEE, 0xEE};
  ASSERT_TRUE(reader_->SendRelay(after, sizeof after));
  ASSERT_TRUE(server_.WaitClientClosed(30000));
  const Bytes received = server_.Received();
  ASSERT_LT(received.size(), sent.size());
  EXPECT_TRUE(std::equal(received.begin(), received.end(), sent.begin()));
  EXPECT_EQ(reader_->CountFrames(0x0B), 1u);
  uint64_t start = platform::NowMs();
  EXPECT_EQ(service_->Stop(false), 1);
  EXPECT_LT(platform::NowMs() - start, 60000u);
}

}  // namespace
}  // namespace relaytest
