// A 32 MiB package from the loopback HTTP server: our downloader against the curl command line
// in the same run (best of three each), then the reader reading it back in 1024-byte chunks
// over the in-memory serial cable.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "relay/ovra7_service.h"
#include "relay/reader_frame.h"
#include "support/http_server.h"
#include "support/serial_cable.h"
#include "support/temp_folder.h"
#include "upgrade/md5.h"
#include "upgrade/upgrade_downloader.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPackageSize = 32u << 20;

double Since(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string Md5Hex(const std::vector<uint8_t>& bytes) {
  Md5Context context;
  md5Init(&context);
  md5Update(&context, bytes.data(), static_cast<uint32_t>(bytes.size()));
  md5Final(&context);
  char text[33] = {0};
  toHex(text, context.digest, 16);
  return text;
}

// Downloads url into a fresh temporary folder; seconds, or -1 when it did not end in Done.
double TimeOurDownload(const std::string& url, const std::string& md5) {
  testsupport::TempFolder folder;
  UpgradeDownloader downloader;
  downloader.setTempDirForTesting(folder.dir());
  auto start = Clock::now();
  downloader.procDownload("bench", md5, url, 0);
  int state = UpgradeDownloader::Downloading;
  uint32_t bytes = 0;
  while (state == UpgradeDownloader::Downloading) {
    platform::SleepMs(1);
    downloader.getStatus(&state, &bytes);
  }
  double seconds = Since(start);
  return state == UpgradeDownloader::Done && bytes == kPackageSize ? seconds : -1;
}

// curl alone, and curl writing the file followed by md5sum of it: the same work our downloader
// does (fetch, store, digest).
double TimeCurl(const std::string& url, bool withDigest) {
  testsupport::TempFolder folder;
  std::string file = folder.file("curl.bin");
  std::string command =
      withDigest ? "curl -s -o '" + file + "' '" + url + "' && md5sum '" + file + "' >/dev/null"
                 : "curl -s -o /dev/null '" + url + "'";
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Since(start);
}

// The reader's side: sequential 1024-byte requests, each reply read whole from the cable.
void ChunkServing(const std::string& url, const std::string& md5) {
  testsupport::TempFolder folder;
  testsupport::FakePorts ports;
  Ovra7Service service(nullptr, nullptr, [&](int n, int baud) { return ports.Open(n, baud); });
  service.downloader()->setTempDirForTesting(folder.dir());
  std::unique_ptr<platform::SerialPort> reader = ports.Add(3).ReaderEnd();
  if (service.Start(3, {"自动"}) != 1) {
    std::printf("chunks: the service did not start\n");
    return;
  }
  service.downloader()->procDownload("bench", md5, url, 0);
  int state = UpgradeDownloader::Downloading;
  uint32_t bytes = 0;
  while (state == UpgradeDownloader::Downloading) {
    platform::SleepMs(5);
    service.downloader()->getStatus(&state, &bytes);
  }

  const int kChunk = 1024;
  std::vector<uint8_t> reply(kChunk + 8 + relay::kFrameOverhead);
  size_t chunks = kPackageSize / kChunk;
  bool ok = state == UpgradeDownloader::Done;
  auto start = Clock::now();
  for (size_t i = 0; ok && i < chunks; ++i) {
    uint32_t offset = static_cast<uint32_t>(i * kChunk);
    uint8_t request[7] = {relay::kPackageData,
                          static_cast<uint8_t>(offset),
                          static_cast<uint8_t>(offset >> 8),
                          static_cast<uint8_t>(offset >> 16),
                          static_cast<uint8_t>(offset >> 24),
                          static_cast<uint8_t>(kChunk & 0xFF),
                          static_cast<uint8_t>(kChunk >> 8)};
    uint8_t frame[7 + relay::kFrameOverhead];
    relay::EncodeFrame(request, sizeof(request), frame);
    ok = reader->Write(frame, sizeof(frame)) == static_cast<int>(sizeof(frame)) &&
         reader->Read(reply.data(), static_cast<int>(reply.size())) ==
             static_cast<int>(reply.size()) &&
         reply[4] == relay::kPackageData && reply[5] == 0;
  }
  double seconds = Since(start);
  if (!ok) {
    service.Stop(false);
    std::printf("chunks: a request failed (state %d, %u bytes)\n", state, bytes);
    return;
  }
  std::printf(
      "chunks: %zu requests of %d bytes in %.2f s, %.1f us per chunk round trip (the "
      "relay thread notices each request within its 1 ms poll)\n",
      chunks, kChunk, seconds, seconds * 1e6 / static_cast<double>(chunks));

  // The host's own cost: the handler called directly (file read, framing, cable write) while a
  // second thread drains the reader's end.
  std::atomic<bool> stop{false};
  std::thread drain([&] {
    std::vector<uint8_t> sink(1 << 16);
    while (!stop) reader->Read(sink.data(), static_cast<int>(sink.size()));
  });
  int savedLog = LogEnabled;
  start = Clock::now();
  for (size_t i = 0; i < chunks; ++i) {
    uint32_t offset = static_cast<uint32_t>(i * kChunk);
    uint8_t data[6] = {static_cast<uint8_t>(offset),        static_cast<uint8_t>(offset >> 8),
                       static_cast<uint8_t>(offset >> 16),  static_cast<uint8_t>(offset >> 24),
                       static_cast<uint8_t>(kChunk & 0xFF), static_cast<uint8_t>(kChunk >> 8)};
    service.procSendUpgradeFile(data, 6);
  }
  double handler = Since(start);
  LogEnabled = savedLog;
  stop = true;
  service.Stop(false);
  drain.join();
  std::printf("chunks: host handler %.1f us per 1024-byte chunk (log off)\n",
              handler * 1e6 / static_cast<double>(chunks));
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  platform::NetStartup();
  std::string command = std::string("python3 ") + OVRA7_HTTP_SERVER_SCRIPT + " --serve";
  FILE* server = popen(command.c_str(), "r");
  int httpPort = 0, httpsPort = 0, serverPid = 0;
  if (!server || std::fscanf(server, "PORTS %d %d %d", &httpPort, &httpsPort, &serverPid) != 3) {
    std::printf("the loopback server did not start\n");
    return 1;
  }
  setenv("OVRA7_HTTP_PORT", std::to_string(httpPort).c_str(), 1);
  setenv("OVRA7_HTTPS_PORT", std::to_string(httpsPort).c_str(), 1);
  setenv("no_proxy", "127.0.0.1", 1);
  testsupport::LoopbackHttpServer http;
  std::vector<uint8_t> package = testsupport::PatternBytes(kPackageSize, 99);
  if (!http.put("bench.bin", package)) {
    std::printf("upload failed\n");
    return 1;
  }
  std::string url = http.url("files", "bench.bin");
  std::string md5 = Md5Hex(package);

  double ours = 1e9, curl = 1e9, curlDigest = 1e9, oursLogged = 1e9;
  for (int run = 0; run < 5; ++run) {
    double a = TimeOurDownload(url, md5);
    double b = TimeCurl(url, false);
    double c = TimeCurl(url, true);
    if (a > 0) ours = std::min(ours, a);
    if (b > 0) curl = std::min(curl, b);
    if (c > 0) curlDigest = std::min(curlDigest, c);
  }
  // With the log on, every 1024-byte read also writes a log line.
  testsupport::TempFolder logFolder;
  ovra7log::SetLogDirForTesting(logFolder.dir());
  LogEnabled = 1;
  oursLogged = TimeOurDownload(url, md5);
  LogEnabled = 0;
  ovra7log::SetLogDirForTesting("");

  double mib = static_cast<double>(kPackageSize) / (1 << 20);
  std::printf("download 32 MiB, best of 5: ours %.1f MiB/s (%.3f s, digest check included)\n",
              mib / ours, ours);
  std::printf("  curl -o /dev/null: %.1f MiB/s (%.3f s), ours/curl %.2f\n", mib / curl, curl,
              curl / ours);
  std::printf("  curl -o file, then md5sum: %.1f MiB/s (%.3f s), ours/that %.2f\n",
              mib / curlDigest, curlDigest, curlDigest / ours);
  std::printf("  ours with the log on (a line per 1024-byte read): %.1f MiB/s\n", mib / oursLogged);
  ChunkServing(url, md5);
  kill(serverPid, SIGTERM);
  pclose(server);
  return 0;
}
