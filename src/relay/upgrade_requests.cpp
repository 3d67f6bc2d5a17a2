// The reader's upgrade requests: download orders and polls (0x0D) and package data (0x0E),
// answered at once on the relay thread. Portable.
#include <cstring>
#include <memory>
#include <new>

#include "log/log.h"
#include "relay/ovra7_service.h"
#include "relay/serial_text.h"
#include "upgrade/download_request.h"

namespace {

// The frame's 16-bit length counts the command code, the 7 bytes before the data and the check
// sum, so this is the largest chunk one reply can carry.
constexpr uint32_t kMaxPackageChunk = 0xFFFF - 9;

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void Ovra7Service::procDownloadUpgradeFile(const uint8_t* data, int n) {
  WriteLog("procDownloadUpgradeFile len:%d", n);
  DownloadRequest request = ParseDownloadRequest(data, n);

  uint8_t reply[7] = {relay::kDownloadRequest};
  int state = UpgradeDownloader::Idle;
  uint32_t bytes = 0;
  if (request.complete()) {
    // Label and address arrive in code page 936; the downloader and the file names speak UTF-8.
    const std::string label = relay::ReaderTextToUtf8(request.label.data(), request.label.size());
    const std::string url = relay::ReaderTextToUtf8(request.url.data(), request.url.size());
    downloader_->procDownload(label, request.md5Hex, url, request.enterDfu);
    downloader_->getStatus(&state, &bytes);
  } else {
    // A status poll. While idle the reader gets the short form.
    downloader_->getStatus(&state, &bytes);
    if (state == UpgradeDownloader::Idle) {
      reply[1] = 0x01;
      WriteCom(reply, 2);
      return;
    }
  }
  reply[1] = 0x00;
  reply[2] = static_cast<uint8_t>(state);
  PutLe32(reply + 3, bytes);
  WriteCom(reply, 7);
}

void Ovra7Service::procSendUpgradeFile(const uint8_t* data, int n) {
  WriteLog("procSendUpgradeFile len:%d", n);
  uint8_t refusal[3] = {relay::kPackageData, 0x01, 0x01};
  if (n != 6 || !data) {
    WriteCom(refusal, 3);
    return;
  }
  uint32_t offset = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                    (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
  uint16_t size = static_cast<uint16_t>(data[4] | (data[5] << 8));
  // A chunk that no frame can carry is refused like a malformed request rather than cut.
  if (size > kMaxPackageChunk) {
    WriteCom(refusal, 3);
    return;
  }

  std::unique_ptr<uint8_t[]> reply(new (std::nothrow) uint8_t[size + 8u]);
  if (!reply) {
    refusal[2] = 0x02;
    WriteCom(refusal, 3);
    return;
  }
  reply[0] = relay::kPackageData;
  reply[1] = 0x00;
  std::memcpy(reply.get() + 2, data, 6);  // offset and size echoed as received
  if (downloader_->GetData(offset, size, reply.get() + 8)) {
    WriteCom(reply.get(), size + 8);
  } else {
    refusal[2] = 0x02;
    WriteCom(refusal, 3);
  }
}
