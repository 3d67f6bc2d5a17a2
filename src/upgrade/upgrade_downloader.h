// Downloads one firmware package at a time over HTTP(S), checks its MD5 and reports a state code
// and a byte count that the reader polls over the serial link. Portable.
//
// Threads: procDownload, getStatus and GetData are called from the relay thread; the download
// runs on a thread of its own, which also calls the callback. `lock` guards state and bytesDone.
// The downloader lives for the process; destroying it (tests) stops and joins the download,
// which may take up to the HTTP stall time-out.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/http.h"

// Called on the download thread after a package meant for flashing passed its digest check.
// Must return quickly and must not touch window objects (the main window posts a message).
typedef void (*DownloadFinishedCallback)(void* context, const char* path);

// Opens the HTTP session of one download; the product uses platform::OpenHttpSession.
using HttpSessionOpener = std::function<std::unique_ptr<platform::HttpSession>(std::string*)>;

// State codes travel to the reader unchanged.
class UpgradeDownloader {
 public:
  enum State : int32_t { Done = 0, Downloading = 1, Failed = 2, DigestMismatch = 3, Idle = 4 };

  UpgradeDownloader();
  ~UpgradeDownloader();
  UpgradeDownloader(const UpgradeDownloader&) = delete;
  UpgradeDownloader& operator=(const UpgradeDownloader&) = delete;

  // Stores both; callback may be null (then no callback is made). Before the first download.
  void setDownloadCallback(void* context, DownloadFinishedCallback callback);
  // Starts a download only while Idle and url is not empty; returns at once. md5Hex: 32
  // hexadecimal digits in either case. enterDfu 1 asks for the cache copy and the callback.
  // A download thread the system refuses to start ends the download in state Failed.
  void procDownload(const std::string& label, const std::string& md5Hex, const std::string& url,
                    int enterDfu);
  // Copies state and byte count; a final state (0, 2, 3) read here returns the downloader to Idle.
  void getStatus(int* state, uint32_t* bytesDone);
  // Reads exactly length bytes at offset of the package file into buffer (length bytes, owned by
  // the caller); false when the file cannot be opened or is too short. Blocks for the disk read.
  bool GetData(uint32_t offset, uint16_t length, uint8_t* buffer);

  // The temporary path of the current package into buffer (size bytes); false, with buffer "",
  // when it cannot be had or does not fit.
  bool makeTempPath(char* buffer, size_t size) const;
  // Copies a verified package into the cache; the outcome is only logged.
  void copyToCache(const std::string& sourcePath);

  // Tests: a folder (ending in a separator) instead of the user's temporary folder, and their
  // own HTTP session. Call while no download runs.
  void setTempDirForTesting(const std::string& dirWithSeparator);
  void setHttpSessionOpenerForTesting(HttpSessionOpener opener);

 private:
  // What one download works on, copied when it starts, so that a request accepted while an old
  // thread is still winding down never changes the old thread's package under it.
  struct Job {
    std::string url;
    std::string expectedMd5;
    int enterDfu;
  };

  void startDownload(const std::string& url);
  void downloadProcedure(const Job& job);
  // From the HTTP session to the digest check, writing the body into file, which it closes.
  void fetch(const Job& job, const char* tempPath, std::FILE* file);
  // A file already at tempPath: true when it matched (state Done), else it is deleted.
  bool reuseExistingFile(const Job& job, const char* tempPath);
  // The cache copy and the callback, when the job asks for them.
  void finishVerified(const Job& job, const char* tempPath);
  void setState(int32_t value);
  std::string tempDir() const;

  int32_t state_ = Idle;
  uint32_t bytesDone_ = 0;
  std::thread thread_;
  std::string url_;
  std::string label_;
  std::string expectedMd5_;  // upper case
  int32_t enterDfu_ = 0;
  std::mutex lock_;
  std::atomic<int32_t> running_{0};
  void* callbackContext_ = nullptr;
  DownloadFinishedCallback callback_ = nullptr;

  std::string tempDirOverride_;
  HttpSessionOpener openSession_;
};
