// Splits a package address into scheme, host, port and request path. Portable, pure.
#pragma once

#include <cstdint>
#include <string>

struct PackageUrl {
  bool secure = false;  // https
  std::string host;
  uint16_t port = 0;
  std::string path;  // from the first "/" after the host to the end, query included
};

enum class PackageUrlResult {
  kOk,
  kNoScheme,  // neither "http://" nor "https://" at position 0 (case-sensitive)
  kNoPath,    // no "/" after the host
};

// "http://" gives port 80 and "https://" 443 unless the authority holds ":port"; the port text
// is read like atoi (leading digits, no digits gives 0) and cut to 16 bits.
PackageUrlResult ParsePackageUrl(const std::string& url, PackageUrl* out);
