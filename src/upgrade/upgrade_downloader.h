// Downloads one firmware package at a time over HTTP(S), checks its MD5 and reports a state code
// and a byte count that the reader polls over the serial link. Portable.
//
// Threads: procDownload, getStatus and GetData are called from the relay thread; the download
// runs on a thread of its own, which also calls the callback.
#pragma once

#include <cstdint>
#include <string>

// Called on the download thread after a package meant for flashing passed its digest check.
// Must return quickly and must not touch window objects (the main window posts a message).
typedef void (*DownloadFinishedCallback)(void* context, const char* path);

class UpgradeDownloader;

// State codes travel to the reader unchanged.
class UpgradeDownloader {
 public:
  enum State : int32_t { Done = 0, Downloading = 1, Failed = 2, DigestMismatch = 3, Idle = 4 };

  UpgradeDownloader();
  ~UpgradeDownloader();
  UpgradeDownloader(const UpgradeDownloader&) = delete;
  UpgradeDownloader& operator=(const UpgradeDownloader&) = delete;

  void setDownloadCallback(void* context, DownloadFinishedCallback callback);
  // Starts a download only while Idle; returns at once.
  void procDownload(const std::string& label, const std::string& md5Hex, const std::string& url,
                    int enterDfu);
  // Copies state and byte count; a final state (0, 2, 3) read here returns the downloader to Idle.
  void getStatus(int* state, uint32_t* bytesDone);
  // Reads exactly length bytes at offset of the package file; false otherwise.
  bool GetData(uint32_t offset, uint16_t length, uint8_t* buffer);

 private:
  int32_t state_ = Idle;
  void* callbackContext_ = nullptr;
  DownloadFinishedCallback callback_ = nullptr;
};
