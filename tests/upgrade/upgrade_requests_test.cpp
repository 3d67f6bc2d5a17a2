// The reader's side of an upgrade: download orders, polls and package-data requests over the
// in-memory serial cable, with packages from the loopback HTTP server.
#include <gtest/gtest.h>

#include <memory>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "relay/ovra7_service.h"
#include "support/http_server.h"
#include "support/serial_cable.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"
#include "upgrade/package_cache.h"
#include "upgrade_helpers.h"

namespace upgradetest {
namespace {

namespace fs = std::filesystem;

Bytes Digest(const Bytes& bytes) { return upgradetest::Digest(bytes.data(), bytes.size()); }

// 0D + label + " " + 16 digest bytes + separator + url + tail.
Bytes DownloadOrder(const std::string& label, const Bytes& digest, const std::string& url,
                    const std::string& tail = "") {
  Bytes frame{0x0D};
  frame.insert(frame.end(), label.begin(), label.end());
  frame.push_back(' ');
  frame.insert(frame.end(), digest.begin(), digest.end());
  frame.push_back(' ');
  frame.insert(frame.end(), url.begin(), url.end());
  frame.insert(frame.end(), tail.begin(), tail.end());
  return frame;
}

Bytes ChunkRequest(uint32_t offset, uint16_t size) {
  return {0x0E,
          static_cast<uint8_t>(offset),
          static_cast<uint8_t>(offset >> 8),
          static_cast<uint8_t>(offset >> 16),
          static_cast<uint8_t>(offset >> 24),
          static_cast<uint8_t>(size),
          static_cast<uint8_t>(size >> 8)};
}

Bytes Status(uint8_t state, uint32_t bytes) {
  return {0x0D,
          0x00,
          state,
          static_cast<uint8_t>(bytes),
          static_cast<uint8_t>(bytes >> 8),
          static_cast<uint8_t>(bytes >> 16),
          static_cast<uint8_t>(bytes >> 24)};
}

class UpgradeRequestsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(http_.available()) << "run through ctest: the HTTP servers wrap this test";
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
    service_ =
        std::make_unique<Ovra7Service>(&announced_, &CallbackRecord::Called,
                                       [this](int n, int baud) { return ports_.Open(n, baud); });
    service_->downloader()->setTempDirForTesting(folder_.dir());
    reader_ = std::make_unique<testsupport::SimulatedReader>(ports_.Add(3).ReaderEnd());
    ASSERT_EQ(service_->Start(3, {"自动"}), 1);
  }
  void TearDown() override {
    service_->Stop(false);
    reader_.reset();
    service_.reset();
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }

  // Sends one request and returns the host's next reply with that code (payload with code).
  Bytes Ask(const Bytes& request) {
    uint8_t code = request[0];
    size_t seen = reader_->CountFrames(code);
    EXPECT_TRUE(reader_->SendFrame(request));
    testsupport::ReaderFrameRecord reply;
    if (!reader_->WaitFrames(code, seen + 1, 10000, &reply)) return Bytes();
    return reply.payload;
  }
  Bytes Poll() { return Ask({0x0D}); }

  // Polls until the state is no longer 1; the reply that carried the final state.
  Bytes PollUntilFinal() {
    uint64_t deadline = platform::NowMs() + 30000;
    Bytes reply;
    do {
      reply = Poll();
      if (reply.size() != 7 || reply[2] != 1) break;
      platform::SleepMs(10);
    } while (platform::NowMs() < deadline);
    return reply;
  }

  testsupport::TempFolder folder_;
  testsupport::LoopbackHttpServer http_;
  testsupport::FakePorts ports_;
  CallbackRecord announced_;
  std::unique_ptr<Ovra7Service> service_;
  std::unique_ptr<testsupport::SimulatedReader> reader_;
};

TEST_F(UpgradeRequestsTest, MalformedOrdersAreAnsweredAsIdlePolls) {
  EXPECT_EQ(Poll(), (Bytes{0x0D, 0x01}));
  Bytes shortDigest{0x0D, 'f', 'w', ' '}, garbage{0x0D};
  shortDigest.insert(shortDigest.end(), 16, 0x11);
  // Garbage without a space has no label, so it can never read as an order.
  for (int i = 0; i < 600; ++i) {
    uint8_t b = static_cast<uint8_t>((i * 131) ^ 0x5A);
    garbage.push_back(b == ' ' ? 0 : b);
  }
  for (const Bytes& request : {Bytes{0x0D, 'a', 'b', 'c'}, shortDigest, garbage,
                               DownloadOrder("fw", Bytes(16, 0xAB), "", " 1"),
                               DownloadOrder(std::string(1900, 'L'), Bytes(16, 0xAB), "")}) {
    EXPECT_EQ(Ask(request), (Bytes{0x0D, 0x01})) << request.size() << " bytes";
  }
}

TEST_F(UpgradeRequestsTest, OrderPollDoneThenIdleAndChunksOfThePackage) {
  Bytes package = testsupport::PatternBytes(50000, 11);
  ASSERT_TRUE(http_.put("reader.bin", package));
  EXPECT_EQ(Ask(DownloadOrder("fw", Digest(package), http_.url("slow", "reader.bin"))),
            Status(1, 0));
  EXPECT_EQ(PollUntilFinal(), Status(0, 50000));
  EXPECT_EQ(Poll(), (Bytes{0x0D, 0x01}));

  Bytes first = Ask(ChunkRequest(0, 512));
  ASSERT_EQ(first.size(), 520u);
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 8),
            (Bytes{0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_TRUE(std::equal(first.begin() + 8, first.end(), package.begin()));
  EXPECT_NE(ReadText(ovra7log::CurrentLogPath()).find(" GetData 0 512\n"), std::string::npos);

  // The whole package in 1024-byte chunks, the last one short.
  Bytes rebuilt;
  for (uint32_t offset = 0; offset < package.size(); offset += 1024) {
    uint16_t size = static_cast<uint16_t>(std::min<size_t>(1024, package.size() - offset));
    Bytes request = ChunkRequest(offset, size);
    Bytes reply = Ask(request);
    ASSERT_EQ(reply.size(), size + 8u) << offset;
    EXPECT_EQ(Bytes(reply.begin() + 2, reply.begin() + 8),
              Bytes(request.begin() + 1, request.end()));
    rebuilt.insert(rebuilt.end(), reply.begin() + 8, reply.end());
  }
  EXPECT_EQ(rebuilt, package);

  EXPECT_EQ(Ask(ChunkRequest(49999, 2)), (Bytes{0x0E, 0x01, 0x02})) << "past the end";
  EXPECT_EQ(Ask(ChunkRequest(60000, 1)), (Bytes{0x0E, 0x01, 0x02}));
  EXPECT_EQ(Ask({0x0E, 0, 0, 0, 0, 1}), (Bytes{0x0E, 0x01, 0x01})) << "5 data bytes";
  EXPECT_EQ(Ask({0x0E, 0, 0, 0, 0, 1, 0, 0}), (Bytes{0x0E, 0x01, 0x01})) << "7 data bytes";
  EXPECT_EQ(Ask(ChunkRequest(0, 65527)), (Bytes{0x0E, 0x01, 0x01})) << "a chunk no frame can carry";
  EXPECT_EQ(reader_->DroppedBytes(), 0u);
  EXPECT_TRUE(announced_.taken().empty()) << "no flag, no callback";
}

// Label and address come in the reader's code page 936; the program keeps them as UTF-8, so the
// package file carries the name in the user's own script on both systems.
TEST_F(UpgradeRequestsTest, OrderTextsInTheReadersCodePageReadAsUtf8) {
  const std::string label = "\xB9\xCC\xBC\xFE";         // 固件
  const std::string name = "\xB6\xC1\xBF\xA8\xC6\xF7";  // 读卡器
  Bytes reply = Ask(DownloadOrder(label, Bytes(16, 0x5A), http_.url("files", name + ".bin")));
  ASSERT_EQ(reply.size(), 7u);
  char temp[kPackagePathBufferSize];
  ASSERT_TRUE(service_->downloader()->makeTempPath(temp, sizeof(temp)));
  std::string digestHex;
  for (int i = 0; i < 16; ++i) digestHex += "5A";
  EXPECT_EQ(fs::u8path(temp).filename().u8string(), "读卡器_" + digestHex + ".bin");
  const std::string log = ReadText(ovra7log::CurrentLogPath());
  EXPECT_NE(log.find("procDownload 4 固件 5a5a"), std::string::npos) << log;
  PollUntilFinal();
}

// The flag " 1" reaches the downloader: the package is copied to the cache and announced.
TEST_F(UpgradeRequestsTest, LargestChunkFillsAWholeFrameAndFlagOneAnnouncesThePackage) {
  Bytes package = testsupport::PatternBytes(70000, 12);
  ASSERT_TRUE(http_.put("big.dfu", package));
  const std::string cached =
      PackageCacheFolder() + platform::PathSeparator() + "big_" + Md5Hex(package, true) + ".dfu";
  std::error_code ignored;
  fs::remove(fs::u8path(cached), ignored);
  EXPECT_EQ(Ask(DownloadOrder("fw", Digest(package), http_.url("files", "big.dfu"), " 1")),
            Status(1, 0));
  EXPECT_EQ(PollUntilFinal(), Status(0, 70000));
  Bytes reply = Ask(ChunkRequest(100, 65526));
  ASSERT_EQ(reply.size(), 65534u);
  EXPECT_TRUE(std::equal(reply.begin() + 8, reply.end(), package.begin() + 100));
  char temp[kPackagePathBufferSize];
  ASSERT_TRUE(service_->downloader()->makeTempPath(temp, sizeof(temp)));
  uint64_t deadline = platform::NowMs() + 10000;
  while (announced_.taken().empty() && platform::NowMs() < deadline) platform::SleepMs(10);
  EXPECT_EQ(announced_.taken(), std::vector<std::string>{temp});
  EXPECT_EQ(fs::file_size(fs::u8path(cached), ignored), 70000u);
  fs::remove(fs::u8path(cached), ignored);
}

}  // namespace
}  // namespace upgradetest
