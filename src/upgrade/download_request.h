// Reads the reader's download request (command 0x0D): label, space, 16 raw digest bytes, one
// separator byte, the URL up to the next space, and an optional " 1" flag. Portable, pure.
#pragma once

#include <cstdint>
#include <string>

struct DownloadRequest {
  bool hasLabel = false;
  bool hasDigest = false;
  bool hasUrl = false;  // a URL of at least one byte
  std::string label;
  std::string md5Hex;  // 32 lower-case hexadecimal digits
  std::string url;
  int enterDfu = 0;

  // A request that orders a download; anything less is a status poll.
  bool complete() const { return hasLabel && hasDigest && hasUrl; }
};

// data may be null when n <= 0. Never reads outside data[0, n).
DownloadRequest ParseDownloadRequest(const uint8_t* data, int n);
