// Feeds arbitrary byte streams from the reader's side through the frame reader and router.
// The stream is served by an in-memory port that never waits, so every input runs to its end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "relay/ovra7_service.h"

namespace {

class MemoryPort : public platform::SerialPort {
 public:
  MemoryPort(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
  int Read(uint8_t* buffer, int n) override {
    size_t count = std::min(static_cast<size_t>(n), bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return static_cast<int>(count);
  }
  int Write(const uint8_t*, int n) override { return n; }
  bool QueryStatus(uint32_t* errors, uint32_t* queued) override {
    *errors = 0;
    *queued = static_cast<uint32_t>(bytes_.size() - at_);
    return true;
  }
  void PurgeReceive() override { at_ = bytes_.size(); }
  bool Done() const { return at_ >= bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
  size_t at_ = 0;
};

// A temporary folder of the fuzzer's own for the downloader's package files: download requests
// in the inputs create them, and the user's own folder is no place for thousands of them.
std::string& TempFolder() {
  static std::string folder;
  return folder;
}

void RemoveTempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(TempFolder(), ignored);
}

std::string PrivateTempFolder() {
  char pattern[] = "/tmp/ovra7-fuzz-frames-XXXXXX";
  if (!mkdtemp(pattern)) return std::string();
  TempFolder() = pattern;
  std::atexit(RemoveTempFolder);
  return TempFolder() + "/";
}

Ovra7Service& Service() {
  static Ovra7Service* service = [] {
    // Log lines are formatted (that code is fuzzed too) but go nowhere: a file open per line
    // would cost more than everything else an input does.
    ovra7log::SetLineSinkForTesting([](const char*) {});
    LogEnabled = 1;
    auto* s = new Ovra7Service(nullptr, nullptr, nullptr);
    // Connect requests fail at once, without touching the network.
    s->SetResolverForTesting([](const std::string&, std::vector<std::string>*) { return false; });
    s->SetServerAddress("no-such-server", 21313);
    const std::string temp = PrivateTempFolder();
    if (temp.empty()) std::abort();
    s->downloader()->setTempDirForTesting(temp);
    // Nor do downloads: an HTTP library set up per request would cost more than the input.
    s->downloader()->setHttpSessionOpenerForTesting([](std::string* error) {
      *error = "no network in the fuzzer";
      return std::unique_ptr<platform::HttpSession>();
    });
    return s;
  }();
  return *service;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Package addresses never reach the network from here: no input can name a scheme.
  std::vector<uint8_t> stream(data, data + size);
  for (auto& b : stream)
    if (b == 'h' || b == 'H') b = 'x';
  Ovra7Service& service = Service();
  auto port = std::make_unique<MemoryPort>(stream.data(), stream.size());
  MemoryPort* raw = port.get();
  service.AttachPortWithoutRelay(std::move(port));
  while (!raw->Done()) service.ReadCom();
  // A download an input started ends before the next input (addresses never reach a network),
  // and reading its final state returns the downloader to idle: every input starts alike.
  for (;;) {
    int state = 0;
    uint32_t bytes = 0;
    service.downloader()->getStatus(&state, &bytes);
    if (state != UpgradeDownloader::Downloading) break;
    std::this_thread::yield();
  }
  return 0;
}
