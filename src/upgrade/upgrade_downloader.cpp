// The package downloader: request gate, state codes and the download procedure. Portable.
#include "upgrade/upgrade_downloader.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <system_error>

#include "log/log.h"
#include "platform/paths.h"
#include "platform/thread_start.h"
#include "upgrade/md5.h"
#include "upgrade/package_cache.h"
#include "upgrade/package_url.h"

namespace {

constexpr int kReadBufferSize = 1024;

// Lines sent with every package request, exactly as servers have always received them. The
// third has no header name; a client that cannot send it leaves it out.
const char* const kRequestHeaderLines[] = {
    "Accept: */*;",
    "Accept-Encoding: gzip, deflate, br;",
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/108.0.0.0 Safari/537.36;"),
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool FileExists(const char* path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::u8path(path), error);
}

void RemoveFile(const char* path) {
  std::error_code error;
  std::filesystem::remove(std::filesystem::u8path(path), error);
}

}  // namespace

UpgradeDownloader::UpgradeDownloader() : openSession_(platform::OpenHttpSession) {}

UpgradeDownloader::~UpgradeDownloader() {
  running_ = 0;
  if (thread_.joinable()) thread_.join();
}

void UpgradeDownloader::setDownloadCallback(void* context, DownloadFinishedCallback callback) {
  callbackContext_ = context;
  callback_ = callback;
}

void UpgradeDownloader::setTempDirForTesting(const std::string& dirWithSeparator) {
  tempDirOverride_ = dirWithSeparator;
}

void UpgradeDownloader::setHttpSessionOpenerForTesting(HttpSessionOpener opener) {
  openSession_ = std::move(opener);
}

std::string UpgradeDownloader::tempDir() const {
  return tempDirOverride_.empty() ? platform::UserTempDir() : tempDirOverride_;
}

void UpgradeDownloader::procDownload(const std::string& label, const std::string& md5Hex,
                                     const std::string& url, int enterDfu) {
  int32_t current;
  {
    std::lock_guard<std::mutex> hold(lock_);
    current = state_;
  }
  WriteLog("procDownload %d %s %s %s 0x%x", current, label.c_str(), md5Hex.c_str(), url.c_str(),
           static_cast<unsigned>(enterDfu));
  // Only Idle lets a request through: a running download, or a final state the reader has not
  // collected yet, is never replaced.
  if (current != Idle) return;
  if (url.empty()) return;
  url_ = url;
  expectedMd5_ = Upper(md5Hex);
  label_ = label;
  enterDfu_ = enterDfu;
  startDownload(url_);
}

void UpgradeDownloader::getStatus(int* state, uint32_t* bytesDone) {
  int32_t copied;
  {
    std::lock_guard<std::mutex> hold(lock_);
    copied = state_;
    *state = state_;
    *bytesDone = bytesDone_;
  }
  if (copied == Done || copied == Failed || copied == DigestMismatch) {
    std::lock_guard<std::mutex> hold(lock_);
    state_ = Idle;
  }
}

bool UpgradeDownloader::GetData(uint32_t offset, uint16_t length, uint8_t* buffer) {
  WriteLog("GetData %d %d", static_cast<int>(offset), static_cast<int>(length));
  char path[kPackagePathBufferSize];
  if (!makeTempPath(path, sizeof(path))) return false;
  std::FILE* file = platform::OpenFile(path, "rb");
  if (!file) return false;
  bool ok = false;
  if (offset <= static_cast<uint32_t>(LONG_MAX) &&
      std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0) {
    ok = std::fread(buffer, 1, length, file) == length;
  }
  std::fclose(file);
  return ok;
}

bool UpgradeDownloader::makeTempPath(char* buffer, size_t size) const {
  return BuildTempPath(tempDir(), platform::PathSeparator(), url_, expectedMd5_, buffer, size);
}

void UpgradeDownloader::copyToCache(const std::string& sourcePath) {
  CopyPackageToCache(sourcePath);
}

void UpgradeDownloader::setState(int32_t value) {
  std::lock_guard<std::mutex> hold(lock_);
  state_ = value;
}

void UpgradeDownloader::startDownload(const std::string& url) {
  WriteLog("startDownload: %s", url.c_str());
  {
    // Under the lock although no request can race here: the previous thread may still be
    // winding down and must see a consistent pair.
    std::lock_guard<std::mutex> hold(lock_);
    state_ = Downloading;
    bytesDone_ = 0;
  }
  if (thread_.joinable()) {
    running_ = 0;
    thread_.join();
  }
  running_ = 1;
  Job job{url_, expectedMd5_, enterDfu_};
  if (!platform::StartThread(&thread_, [this, job] { downloadProcedure(job); })) {
    // Reported like any other failed download; the reader's next request tries again.
    running_ = 0;
    WriteLog("startDownload: cannot start the download thread");
    setState(Failed);
  }
}

bool UpgradeDownloader::reuseExistingFile(const Job& job, const char* tempPath) {
  WriteLog("file %s exists", tempPath);
  uint32_t size = 0;
  std::string md5 = fileMd5(tempPath, &size);
  WriteLog("md5: %s", md5.c_str());
  if (md5 != job.expectedMd5) {
    RemoveFile(tempPath);
    return false;
  }
  WriteLog("Check exist file OK");
  {
    std::lock_guard<std::mutex> hold(lock_);
    state_ = Done;
    bytesDone_ = size;
  }
  finishVerified(job, tempPath);
  return true;
}

void UpgradeDownloader::downloadProcedure(const Job& job) {
  char tempPath[kPackagePathBufferSize];
  // Not makeTempPath: it reads the fields, which a new request may rewrite once this thread has
  // set a final state; the job's own copy names the file for the whole procedure.
  if (!BuildTempPath(tempDir(), platform::PathSeparator(), job.url, job.expectedMd5, tempPath,
                     sizeof(tempPath))) {
    WriteLog("temp file path unusable: %s", job.url.c_str());
    setState(Failed);
    return;
  }
  if (FileExists(tempPath) && reuseExistingFile(job, tempPath)) return;

  std::FILE* file = platform::OpenFile(tempPath, "wb");
  if (!file) {
    WriteLog("internet exception: %s", "cannot create the temporary file");
    setState(Failed);
    return;
  }
  fetch(job, tempPath, file);
}

void UpgradeDownloader::fetch(const Job& job, const char* tempPath, std::FILE* file) {
  std::string error;
  std::unique_ptr<platform::HttpSession> session = openSession_(&error);
  if (!session) {
    WriteLog("internet exception: %s", error.c_str());
    setState(Failed);
    std::fclose(file);
    return;
  }

  PackageUrl address;
  PackageUrlResult parsed = ParsePackageUrl(job.url, &address);
  if (parsed == PackageUrlResult::kNoScheme) {
    // The empty temporary file stays; nothing else is logged for an address of another scheme.
    setState(Failed);
    std::fclose(file);
    return;
  }
  if (parsed == PackageUrlResult::kNoPath) {
    WriteLog("internet exception: %s", "the address has no path after the host");
    setState(Failed);
    std::fclose(file);
    return;
  }
  WriteLog(address.secure ? "https host: %s : %d" : "http host: %s : %d", address.host.c_str(),
           static_cast<int>(address.port));

  // Declared in this order so that they close request, connection, then session.
  std::unique_ptr<platform::HttpConnection> connection;
  std::unique_ptr<platform::HttpRequest> request;
  bool failed = false;
  auto fail = [&](const std::string& text) {
    WriteLog("internet exception: %s", text.c_str());
    setState(Failed);
    failed = true;
  };

  connection = session->Connect(address.host, address.port, address.secure, &error);
  if (!connection) fail(error);
  if (!failed) {
    WriteLog("open connection %s", job.url.c_str());
    request = connection->OpenGet(address.path, &error);
    if (!request) fail(error);
  }
  int code = 0;
  Md5Context digest;
  md5Init(&digest);
  if (!failed) {
    for (const char* line : kRequestHeaderLines) request->AddHeaderLine(line);
    if (!request->Send(&error)) fail(error);
  }
  if (!failed) {
    if (!request->StatusCode(&code, &error)) fail(error);
  }
  if (!failed) {
    // Neither the code nor the length decides anything: the digest judges whatever came back.
    WriteLog("Code: %d", code);
    WriteLog("size: %ld", static_cast<long>(request->Length()));

    uint8_t buffer[kReadBufferSize];
    // Fewer, larger writes to disk; each piece is still counted the moment it is written.
    std::setvbuf(file, nullptr, _IOFBF, 64 * 1024);
    while (running_) {
      int n = request->Read(buffer, kReadBufferSize, &error);
      if (n < 0 && !error.empty()) {
        fail(error);
        break;
      }
      WriteLog("read size: %d", n);
      if (n == 0) {
        WriteLog("read finished");
        break;
      }
      if (n < 0) {
        WriteLog("read failed");
        setState(Failed);
        failed = true;
        break;
      }
      if (std::fwrite(buffer, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) {
        fail("cannot write the temporary file");
        break;
      }
      // Digested as it is written, while the next piece is still on its way: the same digest
      // that reading the whole file back would give, without a second pass over it.
      md5Update(&digest, buffer, static_cast<uint32_t>(n));
      std::lock_guard<std::mutex> hold(lock_);
      bytesDone_ += static_cast<uint32_t>(n);
    }
  }

  // A flush can still fail (disk full): the package is then not whole on disk.
  bool closedOk = std::fclose(file) == 0;
  if (!failed && running_) {
    if (!closedOk) {
      fail("cannot write the temporary file");
    } else {
      md5Final(&digest);
      std::string md5 = toUpperHex(digest.digest, 16);
      WriteLog("MD5: %s", md5.c_str());
      if (md5 == job.expectedMd5) {
        WriteLog("Check download file OK");
        setState(Done);
        finishVerified(job, tempPath);
      } else {
        setState(DigestMismatch);
      }
    }
  }
  request.reset();
  connection.reset();
  session.reset();
}

void UpgradeDownloader::finishVerified(const Job& job, const char* tempPath) {
  if (job.enterDfu == 1 && callback_) {
    copyToCache(tempPath);
    WriteLog("Call enter dfu callback");
    callback_(callbackContext_, tempPath);
  }
}
