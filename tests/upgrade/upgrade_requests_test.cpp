// The reader's side of an upgrade: download orders, polls and package-data requests over the
// in-memory serial cable, with packages from the loopback HTTP server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "relay/ovra7_service.h"
#include "support/http_server.h"
#include "support/serial_cable.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"
#include "upgrade/md5.h"
#include "upgrade/package_cache.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Digest(const Bytes& bytes) {
  Md5Context context;
  md5Init(&context);
  md5Update(&context, bytes.data(), static_cast<uint32_t>(bytes.size()));
  md5Final(&context);
  return Bytes(context.digest, context.digest + 16);
}

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

struct Announced {
  std::mutex lock;
  std::vector<std::string> paths;
  static void Called(void* context, const char* path) {
    auto* self = static_cast<Announced*>(context);
    std::lock_guard<std::mutex> hold(self->lock);
    self->paths.push_back(path);
  }
  std::vector<std::string> taken() {
    std::lock_guard<std::mutex> hold(lock);
    return paths;
  }
};

class UpgradeRequestsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(http_.available()) << "run through ctest: the HTTP servers wrap this test";
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
    service_ = std::make_unique<Ovra7Service>(
        &announced_, &Announced::Called, [this](int n, int baud) { return ports_.Open(n, baud); });
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
  Announced announced_;
  std::unique_ptr<Ovra7Service> service_;
  std::unique_ptr<testsupport::SimulatedReader> reader_;
};

TEST_F(UpgradeRequestsTest, MalformedOrdersAreAnsweredAsIdlePolls) {
  EXPECT_EQ(Poll(), (Bytes{0x0D, 0x01}));
  Bytes digest(16, 0xAB);
  Bytes noSpace{0x0D, 'a', 'b', 'c'};
  Bytes shortDigest{0x0D, 'f', 'w', ' '};
  shortDigest.insert(shortDigest.end(), 16, 0x11);
  Bytes emptyUrl = DownloadOrder("fw", digest, "", " 1");
  Bytes hugeLabel = DownloadOrder(std::string(1900, 'L'), digest, "");
  Bytes garbage{0x0D};
  // Garbage without a space has no label, so it can never read as an order.
  for (int i = 0; i < 600; ++i) {
    uint8_t b = static_cast<uint8_t>((i * 131) ^ 0x5A);
    garbage.push_back(b == ' ' ? 0 : b);
  }
  for (const Bytes& request : {noSpace, shortDigest, emptyUrl, hugeLabel, garbage}) {
    EXPECT_EQ(Ask(request), (Bytes{0x0D, 0x01})) << request.size() << " bytes";
  }
}

TEST_F(UpgradeRequestsTest, OrderPollDoneThenIdleAndChunksOfThePackage) {
  Bytes package = testsupport::PatternBytes(50000, 11);
  ASSERT_TRUE(http_.put("reader.bin", package));
  std::string url = http_.url("slow", "reader.bin");

  EXPECT_EQ(Ask(DownloadOrder("fw", Digest(package), url)), Status(1, 0));
  // A second order while 1 leaves the running download alone.
  Bytes second = Ask(DownloadOrder("other", Bytes(16, 0), http_.url("files", "x.bin")));
  ASSERT_EQ(second.size(), 7u);
  EXPECT_EQ(second[2], 1);
  Bytes done = PollUntilFinal();
  EXPECT_EQ(done, Status(0, 50000));
  EXPECT_EQ(Poll(), (Bytes{0x0D, 0x01}));

  Bytes first = Ask(ChunkRequest(0, 512));
  ASSERT_EQ(first.size(), 520u);
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 8),
            (Bytes{0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_TRUE(std::equal(first.begin() + 8, first.end(), package.begin()));

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
  std::ifstream in(fs::u8path(ovra7log::CurrentLogPath()), std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("procDownload 4 固件 5a5a"), std::string::npos) << log.str();
  PollUntilFinal();
}

TEST_F(UpgradeRequestsTest, LargestChunkFillsAWholeFrame) {
  Bytes package = testsupport::PatternBytes(70000, 12);
  ASSERT_TRUE(http_.put("big.bin", package));
  EXPECT_EQ(Ask(DownloadOrder("fw", Digest(package), http_.url("files", "big.bin"))), Status(1, 0));
  EXPECT_EQ(PollUntilFinal(), Status(0, 70000));
  Bytes reply = Ask(ChunkRequest(100, 65526));
  ASSERT_EQ(reply.size(), 65534u);
  EXPECT_TRUE(std::equal(reply.begin() + 8, reply.end(), package.begin() + 100));
}

TEST_F(UpgradeRequestsTest, FlagOneCopiesToTheCacheAndAnnouncesTheTemporaryPath) {
  Bytes package = testsupport::PatternBytes(9000, 13);
  ASSERT_TRUE(http_.put("flash.dfu", package));
  std::string url = http_.url("files", "flash.dfu");
  std::string name = "flash_" + [&] {
    char hex[33] = {0};
    Bytes d = Digest(package);
    toHex(hex, d.data(), 16);
    std::string s = hex;
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }() + ".dfu";
  std::string cached = PackageCacheFolder() + platform::PathSeparator() + name;
  std::error_code ignored;
  fs::remove(fs::u8path(cached), ignored);

  // " 0" is not the flag.
  EXPECT_EQ(Ask(DownloadOrder("fw", Digest(package), url, " 0")), Status(1, 0));
  EXPECT_EQ(PollUntilFinal(), Status(0, 9000));
  EXPECT_FALSE(fs::exists(fs::u8path(cached)));
  EXPECT_TRUE(announced_.taken().empty());
  char temp[kPackagePathBufferSize];
  ASSERT_TRUE(service_->downloader()->makeTempPath(temp, sizeof(temp)));
  fs::remove(fs::u8path(temp), ignored);

  EXPECT_EQ(Ask(DownloadOrder("fw", Digest(package), url, " 1")), Status(1, 0));
  EXPECT_EQ(PollUntilFinal(), Status(0, 9000));
  uint64_t deadline = platform::NowMs() + 10000;
  while (announced_.taken().empty() && platform::NowMs() < deadline) platform::SleepMs(10);
  ASSERT_EQ(announced_.taken().size(), 1u);
  EXPECT_EQ(announced_.taken()[0], std::string(temp));
  EXPECT_TRUE(fs::exists(fs::u8path(cached)));
  EXPECT_EQ(fs::file_size(fs::u8path(cached)), 9000u);
  fs::remove(fs::u8path(cached), ignored);
}

}  // namespace
