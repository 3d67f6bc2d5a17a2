// The relay service's lifecycle, the relayed exchange, the connect and the server's notices.
#include <random>
#include <thread>

#include "relay_fixture.h"

namespace relaytest {
namespace {

using ServiceTest = RelayTest;

TEST_F(ServiceTest, FullExchangeOverTheCableAndARealSocket) {
  StartOn(3);
  Link();
  const Bytes frame = {0x55, 0xAA, 0x04, 0x00, 0x04, 0x41, 0x42, 0xFC};
  ASSERT_TRUE(server_.Send({0x41, 0x42}));
  testsupport::ReaderFrameRecord relayed;
  ASSERT_TRUE(reader_->WaitFrames(0x04, 1, 5000, &relayed));
  EXPECT_EQ(relayed.bytes, frame);
  ASSERT_TRUE(reader_->SendRaw(frame));
  ASSERT_TRUE(server_.WaitReceived(2, 5000));
  EXPECT_EQ(server_.Received(), (Bytes{0x41, 0x42}));
  EXPECT_TRUE(service_->IsServerConnected());
  // The relay counts a send right after it returns, which may be after the server has the bytes.
  EXPECT_TRUE(WaitUntil([&] { return service_->GetServerSendBytes() == 2; }));
  EXPECT_EQ(service_->GetServerRecvBytes(), 2u);
  for (const char* line :
       {"read server: 41 42 ", "send server: 41 42 ", "read com:55 aa 04 00 04 41 42 fc "})
    EXPECT_TRUE(LogHas(line)) << line;
}

TEST_F(ServiceTest, ConnectRequestThatNoAddressAcceptsIsAnsweredFailed) {
  StartOn(3);
  uint16_t closedPort = testsupport::CardServer().port();  // bound once, now closed
  service_->SetServerAddress("127.0.0.1", closedPort);
  ASSERT_TRUE(reader_->SendConnectRequest());
  testsupport::ReaderFrameRecord answer;
  ASSERT_TRUE(reader_->WaitFrames(0x0A, 1, 10000, &answer));
  EXPECT_EQ(answer.bytes, (Bytes{0x55, 0xAA, 0x04, 0x00, 0x0A, 0x01, 0x01, 0xF1}));
  EXPECT_FALSE(service_->IsServerConnected());
  // A refused connect shows up as a pending error on a writable socket: counted as failed.
  EXPECT_TRUE(LogHas("connect 127.0.0.1 failed"));
  EXPECT_TRUE(LogHas("connect 127.0.0.1:" + std::to_string(closedPort) + " failed"));
}

TEST_F(ServiceTest, AutomaticChoiceSkipsAPortThatDoesNotOpenAndNeverOpensTheAutoEntry) {
  ports_.Add(3);
  ports_.SetOpenFails(3, true);
  EXPECT_EQ(service_->Start(0, {"自动"}), 0);
  EXPECT_TRUE(ports_.OpenedPorts().empty());
  EXPECT_EQ(service_->Start(5, {"自动"}), 0);  // a configured port that does not exist
  EXPECT_TRUE(LogHas("Open port 5") && LogHas("open 5 failed"));
  EXPECT_EQ(service_->IsRunning(), 0);

  reader_ = std::make_unique<testsupport::SimulatedReader>(ports_.Add(7).ReaderEnd());
  const std::string three = platform::PortNameFromNumber(3),
                    seven = platform::PortNameFromNumber(7);
  ASSERT_EQ(service_->Start(0, {"自动", three, seven}), 1);
  EXPECT_EQ(service_->GetComPort(), 7);
  EXPECT_EQ(ports_.OpenedPorts(), (std::vector<int>{5, 3, 7}));
  auto lines = LogLines();
  auto at = [&](const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) - lines.begin();
  };
  // On Windows the failure names the digits after "COM".
  const std::string failed =
      "open " + (three.rfind("COM", 0) == 0 ? three.substr(3) : three) + " failed";
  EXPECT_LT(at("try to open " + three), at(failed));
  EXPECT_LT(at(failed), at("try to open " + seven));
  EXPECT_LT(at("try to open " + seven), static_cast<long>(lines.size()));
}

TEST_F(ServiceTest, StopWithNotifySendsDisconnectPlatformFirst) {
  StartOn(4);
  EXPECT_EQ(service_->Stop(true), 1);
  EXPECT_EQ(reader_->CountFrames(0x05), 1u);
  EXPECT_EQ(reader_->Answered(), (Bytes{0x05}));
}

Bytes Notice(const std::string& text) {
  Bytes notice = {0x01, 0x3F, 0x02};
  for (char c : text) notice.push_back(static_cast<uint8_t>(c));
  return notice;
}

TEST_F(ServiceTest, OkNoticePushesHeartBeatOnlyWithLinkAndKeepAlive) {
  service_->SetHeartBeatInterval(120, 300, false, true);  // store only: nothing sent
  StartOn(3);
  Link();
  const Bytes ok = Notice("x:OK:y");
  ASSERT_TRUE(server_.Send(ok));
  testsupport::ReaderFrameRecord push;
  ASSERT_TRUE(reader_->WaitFrames(0x10, 1, 5000, &push));
  EXPECT_EQ(push.payload, (Bytes{0x10, 120, 0, 0x2C, 0x01}));
  // The notice itself was relayed first, unchanged.
  auto frames = reader_->Frames();
  auto relayed = std::find_if(frames.begin(), frames.end(), [](auto& f) { return f.code == 4; });
  ASSERT_NE(relayed, frames.end());
  EXPECT_EQ(Bytes(relayed->payload.begin() + 1, relayed->payload.end()), ok);
  EXPECT_TRUE(LogHas("x:OK:y"));
  // Without an active link (an upgrade notice cleared it) ":OK:" pushes nothing.
  ASSERT_TRUE(server_.Send(Notice(":Upgrade:")));
  ASSERT_TRUE(reader_->WaitFrames(0x04, 2, 5000));
  ASSERT_TRUE(server_.Send(ok));
  ASSERT_TRUE(reader_->WaitFrames(0x04, 3, 5000));
  // Chunks shorter than four bytes are never notices, nor logged as one.
  ASSERT_TRUE(server_.Send({0x01, 0x3F, 0x02}));
  testsupport::ReaderFrameRecord shortChunk;
  ASSERT_TRUE(reader_->WaitFrames(0x04, 4, 5000, &shortChunk));
  EXPECT_EQ(shortChunk.payload, (Bytes{0x04, 0x01, 0x3F, 0x02}));
  EXPECT_EQ(LogCount(""), 0);
  EXPECT_EQ(reader_->CountFrames(0x10), 1u);
}

TEST_F(ServiceTest, UpgradeNoticeThenCloseIsNotReportedAsLost) {
  StartOn(3);
  Link();
  ASSERT_TRUE(server_.Send(Notice(":Upgrade:")));
  ASSERT_TRUE(reader_->WaitFrames(0x04, 1, 5000));
  server_.CloseClient();
  ASSERT_TRUE(WaitLog("read failed"));
  platform::SleepMs(100);
  EXPECT_EQ(reader_->CountFrames(0x0B), 0u);
  EXPECT_FALSE(service_->IsServerConnected());
}

// A busy reader has relay frames on the line when it hears of the loss: they are dropped
// without a notice each (and its wait), so its connect request is served next.
TEST_F(ServiceTest, ServerCloseTellsTheReaderOnceUntilItConnectsAgain) {
  ShortWaits();
  StartOn(3);
  Link();
  server_.CloseClient();
  testsupport::ReaderFrameRecord lost;
  ASSERT_TRUE(reader_->WaitFrames(0x0B, 1, 5000, &lost));
  EXPECT_EQ(lost.payload, (Bytes{0x0B, 0x01, 0x00}));
  EXPECT_TRUE(LogHas("read failed"));
  EXPECT_EQ(service_->IsRunning(), 1);
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(reader_->SendRelay(reinterpret_cast<const uint8_t*>("AB"), 2));
  ASSERT_TRUE(reader_->SendConnectRequest());
  testsupport::ReaderFrameRecord result;
  ASSERT_TRUE(reader_->WaitFrames(0x0A, 2, 20000, &result));
  EXPECT_EQ(result.payload, (Bytes{0x0A, 0x00, 0x00}));
  EXPECT_EQ(reader_->CountFrames(0x0B), 1u);
  EXPECT_EQ(LogCount("send failed, socket is not valid"), 3);
  // The new link is a link like the first: its loss is told again.
  ASSERT_TRUE(server_.WaitConnections(2, 5000));
  server_.CloseClient();
  EXPECT_TRUE(reader_->WaitFrames(0x0B, 2, 5000));
}

TEST_F(ServiceTest, ThreeAddressesOfWhichOnlyTheThirdAccepts) {
  StartOn(3);
  service_->SetResolverForTesting([](const std::string& host, std::vector<std::string>* out) {
    *out = {"127.0.0.2", "127.0.0.3", "127.0.0.1"};
    return host == "reader.example";
  });
  service_->SetServerAddress("reader.example", server_.port());
  ASSERT_TRUE(reader_->SendConnectRequest());
  testsupport::ReaderFrameRecord answer;
  ASSERT_TRUE(reader_->WaitFrames(0x0A, 1, 15000, &answer));
  EXPECT_EQ(answer.payload, (Bytes{0x0A, 0x00, 0x00}));
  auto lines = LogLines();
  auto count = [&](const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](auto& l) { return l.rfind(prefix, 0) == 0; });
  };
  EXPECT_EQ(count("ip "), 3);
  EXPECT_TRUE(LogHas("ip 2 is: 127.0.0.1"));
  EXPECT_EQ(count("Try to connect "), 3);
  EXPECT_EQ(count("connect 127.0.0.2 failed") + count("connect 127.0.0.3 failed"), 2);
  EXPECT_TRUE(LogHas("connect 127.0.0.1 success"));
}

TEST_F(ServiceTest, DottedAddressSkipsTheResolverAndOnlyFiveCandidatesAreTried) {
  bool resolverCalled = false;
  service_->SetResolverForTesting([&](const std::string&, std::vector<std::string>* out) {
    resolverCalled = true;
    *out = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.1"};
    return true;
  });
  PointAtServer();
  EXPECT_EQ(service_->TestServer(), 1);
  EXPECT_FALSE(resolverCalled);
  EXPECT_FALSE(LogHas("ip 0 is: 127.0.0.1"));
  ASSERT_TRUE(server_.WaitConnections(1, 5000));
  service_->SetServerAddress("many.example", server_.port());
  EXPECT_EQ(service_->TestServer(), 0);  // the sixth, the only one that accepts, is not tried
  EXPECT_TRUE(resolverCalled);
  EXPECT_EQ(LogCount("Try to connect 127.0.0.1"), 1);  // only the dotted attempt above
  service_->SetResolverForTesting(
      [](const std::string&, std::vector<std::string>*) { return false; });
  EXPECT_EQ(service_->TestServer(), 0);
  EXPECT_TRUE(LogHas("gethostby name failed"));
}

TEST_F(ServiceTest, TenMegabytesEachWayArriveUnchanged) {
  LogEnabled = 0;  // the hex dumps of 10 000 frames are not what this test is about
  StartOn(3);
  Link();
  std::mt19937 random(7);
  Bytes up(10 * 1000 * 1000), down(10 * 1000 * 1000);
  for (auto* bytes : {&up, &down})
    for (auto& b : *bytes) b = static_cast<uint8_t>(random());
  std::thread serverSide([&] {
    for (size_t at = 0; at < down.size(); at += 60000)
      ASSERT_TRUE(
          server_.Send(Bytes(down.begin() + static_cast<long>(at),
                             down.begin() + static_cast<long>(std::min(at + 60000, down.size())))));
  });
  for (size_t at = 0; at < up.size(); at += 2094)
    ASSERT_TRUE(reader_->SendRelay(up.data() + at, std::min<size_t>(2094, up.size() - at)));
  serverSide.join();
  ASSERT_TRUE(server_.WaitReceived(up.size(), 120000));
  ASSERT_TRUE(reader_->WaitRelayed(down.size(), 120000));
  EXPECT_TRUE(server_.Received() == up);
  EXPECT_TRUE(reader_->Relayed() == down);
}

using ServiceOnBothPortsTest = OnBothPortsTest;
RELAY_ON_BOTH_PORTS(ServiceOnBothPortsTest);

TEST_P(ServiceOnBothPortsTest, StopWithAnIdleLinkResetsPortAndStatusTexts) {
  StartOn(4);
  Link();
  std::string com, server;
  service_->GetComStatusText(&com);
  service_->GetServerStatusText(&server);
  EXPECT_EQ(com + server, "已打开已连接");
  EXPECT_EQ(service_->GetComPort(), 4);
  EXPECT_EQ(service_->Stop(false), 1);
  EXPECT_EQ(service_->GetComPort(), -1);
  service_->GetComStatusText(&com);
  service_->GetServerStatusText(&server);
  EXPECT_EQ(com + server, "未打开未连接");
  EXPECT_EQ(service_->GetComReadBytes(), 0u);
  EXPECT_EQ(service_->GetServerSendBytes(), 0u);
  // Started again on the same port after a stop.
  ASSERT_EQ(service_->Start(4, {"自动"}), 1);
  EXPECT_EQ(service_->IsRunning(), 1);
  ExpectStopReturns();  // now without a server
}

TEST_P(ServiceOnBothPortsTest, ServerSendOfSixtyFourKibibytesArrivesWholeAndInOrder) {
  StartOn(3);
  Link();
  Bytes chunk(65536);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  ASSERT_TRUE(server_.Send(chunk));
  ASSERT_TRUE(reader_->WaitRelayed(chunk.size(), 20000));
  EXPECT_EQ(reader_->Relayed(), chunk);
  for (const auto& f : reader_->Frames()) EXPECT_LE(f.payload.size() - 1, 2099u);
}

TEST_P(ServiceOnBothPortsTest, ConnectRequestWhileLinkedReplacesTheConnection) {
  StartOn(3);
  Link();
  ASSERT_TRUE(reader_->SendConnectRequest());
  testsupport::ReaderFrameRecord answer;
  ASSERT_TRUE(reader_->WaitFrames(0x0A, 2, 10000, &answer));
  EXPECT_EQ(answer.payload, (Bytes{0x0A, 0x00, 0x00}));
  ASSERT_TRUE(server_.WaitConnections(2, 5000));  // the server dropped the first one
  ASSERT_TRUE(server_.Send({0x41, 0x42}));
  ASSERT_TRUE(reader_->WaitRelayed(2, 10000));
  EXPECT_EQ(reader_->Relayed(), (Bytes{0x41, 0x42}));
  ASSERT_TRUE(reader_->SendRelay(reinterpret_cast<const uint8_t*>("CD"), 2));
  ASSERT_TRUE(server_.WaitReceived(2, 10000));
  EXPECT_EQ(server_.Received(), (Bytes{'C', 'D'}));
  EXPECT_EQ(reader_->CountFrames(0x0B), 0u) << "the replaced connection's end is no loss";
}

}  // namespace
}  // namespace relaytest
