// Placeholder until the downloader lands: always idle, never serves data.
#include "upgrade/upgrade_downloader.h"

UpgradeDownloader::UpgradeDownloader() = default;
UpgradeDownloader::~UpgradeDownloader() = default;

void UpgradeDownloader::setDownloadCallback(void* context, DownloadFinishedCallback callback) {
  callbackContext_ = context;
  callback_ = callback;
}

void UpgradeDownloader::procDownload(const std::string&, const std::string&, const std::string&,
                                     int) {}

void UpgradeDownloader::getStatus(int* state, uint32_t* bytesDone) {
  *state = state_;
  *bytesDone = 0;
}

bool UpgradeDownloader::GetData(uint32_t, uint16_t, uint8_t*) { return false; }
