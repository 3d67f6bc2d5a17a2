// The downloader against the loopback HTTP and HTTPS servers: libcurl natively, WinInet under
// wine.
#include <gtest/gtest.h>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/http.h"
#include "platform/paths.h"
#include "support/http_server.h"
#include "support/temp_folder.h"
#include "support/thread_refusal.h"
#include "upgrade/package_cache.h"
#include "upgrade/upgrade_downloader.h"
#include "upgrade_helpers.h"

namespace upgradetest {
namespace {

namespace fs = std::filesystem;

class DownloaderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.available())
        << "run through ctest: tests/support/http_server.py starts the servers around this test";
    downloader_.setTempDirForTesting(folder_.dir());
    downloader_.setDownloadCallback(&record_, &CallbackRecord::Called);
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
  }
  void TearDown() override {
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
    platform::SetHttpTimeoutsForTesting(platform::HttpTimeouts());
  }

  // Polls until the download leaves state 1 (bounded generously); returns the final state and
  // count as the reader's poll sees them.
  std::pair<int, uint32_t> WaitFinal(int timeoutMs = 30000) {
    uint64_t deadline = platform::NowMs() + static_cast<uint64_t>(timeoutMs);
    int state = -1;
    uint32_t bytes = 0;
    do {
      downloader_.getStatus(&state, &bytes);
      if (state != UpgradeDownloader::Downloading) break;
      platform::SleepMs(10);
    } while (platform::NowMs() < deadline);
    return {state, bytes};
  }

  std::string TempPath() {
    char path[kPackagePathBufferSize];
    EXPECT_TRUE(downloader_.makeTempPath(path, sizeof(path)));
    return path;
  }

  std::string LogText() { return ReadText(ovra7log::CurrentLogPath()); }

  // Waits (bounded) until text appears in the log at or after from.
  bool WaitForLog(const std::string& text, size_t from, int timeoutMs = 20000) {
    uint64_t deadline = platform::NowMs() + static_cast<uint64_t>(timeoutMs);
    while (LogText().find(text, from) == std::string::npos) {
      if (platform::NowMs() > deadline) return false;
      platform::SleepMs(5);
    }
    return true;
  }

  testsupport::TempFolder folder_;
  testsupport::LoopbackHttpServer server_;
  CallbackRecord record_;
  UpgradeDownloader downloader_;
};

TEST_F(DownloaderTest, DownloadsOverHttpVerifiesAndServesChunks) {
  auto package = testsupport::PatternBytes(300000, 1);
  ASSERT_TRUE(server_.put("reader.dfu", package));
  std::string url = server_.url("files", "reader.dfu") + "?v=2&x=y";
  downloader_.procDownload("fw", Md5Hex(package), url, 0);

  auto [state, bytes] = WaitFinal();
  EXPECT_EQ(state, UpgradeDownloader::Done);
  EXPECT_EQ(bytes, package.size());
  int again = -1;
  downloader_.getStatus(&again, &bytes);
  EXPECT_EQ(again, UpgradeDownloader::Idle) << "a final state is reported once";

  // The name comes from the last path segment; the query stays in the request line only.
  EXPECT_EQ(fs::u8path(TempPath()).filename().u8string(),
            "reader_" + Md5Hex(package, true) + ".dfu");
  EXPECT_EQ(ReadBytes(TempPath()), package);

  // The request path keeps its query; the three request lines arrive as the servers expect.
  std::string head = server_.lastRequest();
  EXPECT_EQ(head.rfind("GET /files/reader.dfu?v=2&x=y HTTP/1.", 0), 0u) << head;
  EXPECT_NE(head.find("Accept: */*;\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Accept-Encoding: gzip, deflate, br;\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Host: 127.0.0.1:" + std::to_string(server_.httpPort())), std::string::npos)
      << head;

  // Without the flag there is no cache copy and no callback.
  EXPECT_FALSE(fs::exists(fs::u8path(PackageCacheFolder() + platform::PathSeparator() + "reader_" +
                                     Md5Hex(package, true) + ".dfu")));
  EXPECT_TRUE(record_.taken().empty());
  std::string log = LogText();
  const char* steps[] = {"procDownload 4 fw ",
                         "startDownload: http://127.0.0.1:",
                         "http host: 127.0.0.1 : ",
                         "open connection http://",
                         "Code: 200",
                         "size: 300000",
                         "read size: 1024",
                         "read size: 0",
                         "read finished",
                         "MD5: ",
                         "Check download file OK"};
  size_t at = 0;
  for (const char* step : steps) {
    size_t found = log.find(step, at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n" << log;
    if (found != std::string::npos) at = found;
  }
}

TEST_F(DownloaderTest, RefusesRequestsUntilTheFinalStateWasCollected) {
  auto package = testsupport::PatternBytes(60000, 2);
  ASSERT_TRUE(server_.put("slow.bin", package));
  downloader_.procDownload("a", Md5Hex(package), server_.url("slow", "slow.bin"), 0);
  int state = -1;
  uint32_t bytes = 0;
  downloader_.getStatus(&state, &bytes);
  EXPECT_EQ(state, UpgradeDownloader::Downloading);

  // A second request while 1 changes nothing: same package, same thread.
  downloader_.procDownload("b", std::string(32, '0'), server_.url("files", "other.bin"), 1);
  auto [final, count] = WaitFinal();
  EXPECT_EQ(final, UpgradeDownloader::Done);
  EXPECT_EQ(count, package.size());

  // Mismatch (3) is held until collected: a request meanwhile is refused, so the next poll
  // still reports 3 and not the outcome of the refused request.
  size_t mark = LogText().size();
  downloader_.procDownload("c", std::string(32, 'a'), server_.url("files", "slow.bin"), 0);
  ASSERT_TRUE(WaitForLog("MD5: ", mark));
  downloader_.procDownload("d", Md5Hex(package), server_.url("files", "slow.bin"), 0);
  auto [mismatch, all] = WaitFinal();
  EXPECT_EQ(mismatch, UpgradeDownloader::DigestMismatch);
  EXPECT_EQ(all, package.size());
  std::string log = LogText();
  size_t requestD = log.find("procDownload", log.find("procDownload", mark) + 1);
  ASSERT_NE(requestD, std::string::npos);
  EXPECT_EQ(log.find("startDownload", requestD), std::string::npos)
      << "the refused request started nothing\n"
      << log;

  // After collection the same request goes through.
  downloader_.procDownload("d", Md5Hex(package), server_.url("files", "slow.bin"), 0);
  EXPECT_EQ(WaitFinal().first, UpgradeDownloader::Done);
}

// A download thread the system refuses ends the download in state 2 instead of an exception
// out of the relay thread; the reader's next request after collecting it downloads normally.
TEST_F(DownloaderTest, RefusedDownloadThreadEndsInFailedAndTheNextRequestRuns) {
  auto package = testsupport::PatternBytes(5000, 9);
  ASSERT_TRUE(server_.put("refused.bin", package));
  const std::string url = server_.url("files", "refused.bin");
  {
    testsupport::ThreadRefusal refusal;
    ASSERT_TRUE(refusal.active());
    downloader_.procDownload("r", Md5Hex(package), url, 0);
  }
  int state = -1;
  uint32_t bytes = 7;
  downloader_.getStatus(&state, &bytes);
  EXPECT_EQ(state, UpgradeDownloader::Failed);
  EXPECT_EQ(bytes, 0u);
  EXPECT_NE(LogText().find("startDownload: cannot start the download thread"), std::string::npos)
      << LogText();
  downloader_.getStatus(&state, &bytes);
  EXPECT_EQ(state, UpgradeDownloader::Idle);

  downloader_.procDownload("r", Md5Hex(package), url, 0);
  auto [final, count] = WaitFinal();
  EXPECT_EQ(final, UpgradeDownloader::Done);
  EXPECT_EQ(count, package.size());
}

TEST_F(DownloaderTest, ReusesAVerifiedFileWithoutNetworkAndReplacesAWrongOne) {
  auto package = testsupport::PatternBytes(5000, 3);
  ASSERT_TRUE(server_.put("pkg.dfu", package));
  std::string url = server_.url("files", "pkg.dfu");
  std::string md5 = Md5Hex(package);

  // A wrong file at the temporary path is deleted and fetched again.
  downloader_.procDownload("x", md5, url, 0);
  EXPECT_EQ(WaitFinal().first, UpgradeDownloader::Done);
  std::string path = TempPath();
  {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out << "stale";
  }
  int before = server_.requestCount();
  downloader_.procDownload("x", md5, url, 0);
  EXPECT_EQ(WaitFinal().first, UpgradeDownloader::Done);
  EXPECT_EQ(server_.requestCount(), before + 1);
  EXPECT_EQ(ReadBytes(path), package);

  // A verified file is reused: Done with its size and no request at all, even to a dead port.
  // The temporary name depends only on the last segment and the digest, so an address whose
  // port has no listener names the same file.
  before = server_.requestCount();
  downloader_.procDownload("x", Md5Hex(package, true), "http://127.0.0.1:1/files/pkg.dfu", 0);
  auto [state, bytes] = WaitFinal();
  EXPECT_EQ(state, UpgradeDownloader::Done);
  EXPECT_EQ(bytes, package.size());
  EXPECT_EQ(server_.requestCount(), before);
  std::string log = LogText();
  EXPECT_NE(log.find("file " + path + " exists"), std::string::npos) << log;
  EXPECT_NE(log.find("Check exist file OK"), std::string::npos);
}

TEST_F(DownloaderTest, FlashFlagCopiesToTheCacheAndCallsBackWithTheTemporaryPath) {
  auto package = testsupport::PatternBytes(7000, 4);
  ASSERT_TRUE(server_.put("cached.dfu", package));
  std::string md5 = Md5Hex(package);
  std::string name = "cached_" + Md5Hex(package, true) + ".dfu";
  std::string cached = PackageCacheFolder() + platform::PathSeparator() + name;
  ASSERT_FALSE(PackageCacheFolder().empty());
  std::error_code ignored;
  fs::remove(fs::u8path(cached), ignored);

  // With the flag, downloaded: copy under the temporary name, callback with the temporary path.
  downloader_.procDownload("x", md5, server_.url("files", "cached.dfu"), 1);
  EXPECT_EQ(WaitFinal().first, UpgradeDownloader::Done);
  uint64_t deadline = platform::NowMs() + 10000;
  while (record_.taken().empty() && platform::NowMs() < deadline) platform::SleepMs(10);
  ASSERT_EQ(record_.taken().size(), 1u);
  EXPECT_EQ(record_.taken()[0], TempPath());
  EXPECT_EQ(ReadBytes(cached), package);

  // With the flag, reused from disk: the same single cache entry, a second callback.
  downloader_.procDownload("x", md5, server_.url("files", "cached.dfu"), 1);
  EXPECT_EQ(WaitFinal().first, UpgradeDownloader::Done);
  deadline = platform::NowMs() + 10000;
  while (record_.taken().size() < 2 && platform::NowMs() < deadline) platform::SleepMs(10);
  EXPECT_EQ(record_.taken().size(), 2u);
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(fs::u8path(PackageCacheFolder()))) {
    if (entry.path().filename().u8string() == name) ++entries;
  }
  EXPECT_EQ(entries, 1u);
  std::string log = LogText();
  EXPECT_NE(log.find("Copy DFU file to cache success, " + cached), std::string::npos) << log;
  EXPECT_NE(log.find("Call enter dfu callback"), std::string::npos);
  fs::remove(fs::u8path(cached), ignored);
}

TEST_F(DownloaderTest, HttpsAcceptsASelfSignedCertificate) {
  auto package = testsupport::PatternBytes(40000, 5);
  ASSERT_TRUE(server_.put("secure.dfu", package));
  downloader_.procDownload("s", Md5Hex(package), server_.url("files", "secure.dfu", true), 0);
  auto [state, bytes] = WaitFinal();
  EXPECT_EQ(state, UpgradeDownloader::Done) << LogText();
  EXPECT_EQ(bytes, package.size());
  EXPECT_NE(LogText().find("https host: 127.0.0.1 : " + std::to_string(server_.httpsPort())),
            std::string::npos);
}

// Every way a download can go wrong ends in a final state the reader can poll, never a hang.
TEST_F(DownloaderTest, FaultyAddressesAndResponsesEndInAFinalState) {
  platform::HttpTimeouts quick;
  quick.connectMs = 5000;
  quick.stallMs = 2000;
  platform::SetHttpTimeoutsForTesting(quick);
  auto package = testsupport::PatternBytes(200000, 6);
  ASSERT_TRUE(server_.put("odd.bin", package));
  const std::string md5 = Md5Hex(package), port = std::to_string(server_.httpPort());
  const int failed = UpgradeDownloader::Failed, mismatch = UpgradeDownloader::DigestMismatch;
  enum { kAny = -1, kAtMostHalf = -2 };
  const struct {
    const char* why;
    std::string url;
    int state;
    long bytes;
    const char* stored = nullptr;  // a text the stored file holds
  } cases[] = {
      {"upper-case scheme", "HTTP://127.0.0.1:" + port + "/files/odd.bin", failed, 0},
      {"another scheme", "ftp://127.0.0.1/x", failed, 0},
      {"no path", "http://127.0.0.1:" + port, failed, 0},
      {"no listener", "http://127.0.0.1:1/files/x", failed, 0},
      {"name too long for the path buffer",
       "http://127.0.0.1:" + port + "/" + std::string(300, 'n'), failed, 0},
      // The 404 page is stored like a package; its digest fails it.
      {"not found", server_.url("files", "absent.dfu"), mismatch, kAny, "404 Not Found"},
      {"closed mid-body", server_.url("close", "odd.bin"), failed, kAtMostHalf},
      {"stalled mid-body", server_.url("stall", "odd.bin"), failed, kAtMostHalf},
      // More than announced: the announced length is what counts.
      {"more than announced", server_.url("more", "odd.bin"), mismatch, 200000 - 100},
      // No length announced (chunked): the whole body, and its digest decides.
      {"chunked", server_.url("chunked", "odd.bin"), UpgradeDownloader::Done, 200000},
      {"a head that is not HTTP", server_.url("garbage", "junk.bin"), kAny, kAny},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    uint64_t start = platform::NowMs();
    downloader_.procDownload("e", md5, c.url, 0);
    auto [state, bytes] = WaitFinal();
    EXPECT_LT(platform::NowMs() - start, 25000u) << "the stall time-out must end the download";
    if (c.state == kAny) {
      EXPECT_TRUE(state == failed || state == mismatch) << state;
    } else {
      EXPECT_EQ(state, c.state) << LogText();
    }
    if (c.bytes == kAtMostHalf) {
      EXPECT_LE(bytes, package.size() / 2);
    } else if (c.bytes != kAny) {
      EXPECT_EQ(bytes, static_cast<uint32_t>(c.bytes));
    }
    if (c.stored) {
      EXPECT_NE(ReadText(TempPath()).find(c.stored), std::string::npos);
    }
  }
  std::string log = LogText();
  EXPECT_NE(log.find("internet exception: "), std::string::npos) << log;
  EXPECT_NE(log.find("Code: 404"), std::string::npos);
  // The over-long name is refused, never cut into a shorter one that lands somewhere.
  for (const auto& entry : fs::directory_iterator(folder_.path())) {
    EXPECT_EQ(entry.path().filename().u8string().find("nnnnnnnn"), std::string::npos);
  }
}

}  // namespace
}  // namespace upgradetest
