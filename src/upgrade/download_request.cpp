// The reader's download request. Portable, pure.
#include "upgrade/download_request.h"

#include "upgrade/md5.h"

DownloadRequest ParseDownloadRequest(const uint8_t* data, int n) {
  DownloadRequest request;
  if (!data || n <= 0) return request;
  int position = 0;
  for (int i = 0; i < n; ++i) {
    if (data[i] == ' ') {
      request.hasLabel = true;
      request.label.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(i));
      position = i + 1;
      break;
    }
  }
  if (!request.hasLabel || position + 16 >= n) return request;

  char hex[33] = {0};
  toHex(hex, data + position, 16);
  request.md5Hex = hex;
  request.hasDigest = true;
  position += 17;  // the digest and the separator byte after it

  if (position + 1 >= n) return request;
  int end = position;
  while (end < n && data[end] != ' ') ++end;
  if (end + 1 < n && data[end + 1] == '1') request.enterDfu = 1;
  request.url.assign(reinterpret_cast<const char*>(data + position),
                     static_cast<size_t>(end - position));
  request.hasUrl = !request.url.empty();
  return request;
}
