// Arbitrary 0x0D request data through the request parser, the address parser and the temporary
// name rules, checking what the downloader relies on: a 32-digit digest, a URL without spaces,
// a path that starts with "/", and a temporary file that stays inside its folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "upgrade/download_request.h"
#include "upgrade/package_cache.h"
#include "upgrade/package_url.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckAddress(const std::string& url) {
  PackageUrl address;
  if (ParsePackageUrl(url, &address) == PackageUrlResult::kOk) {
    Check(!address.path.empty() && address.path[0] == '/');
    Check(address.host.find('/') == std::string::npos);
    Check(address.host.find(':') == std::string::npos);
  }
  const std::string digest = "0123456789ABCDEF0123456789ABCDEF";
  std::string name = BuildTempName(url, digest);
  Check(name.find_first_of("/\\:") == std::string::npos);
  for (unsigned char c : name) Check(c >= 0x20 && c != 0x7F);
  char path[kPackagePathBufferSize];
  const std::string dir = "/tmp/ovra7-0/";
  if (BuildTempPath(dir, "/", url, digest, path, sizeof(path))) {
    size_t length = std::strlen(path);
    Check(length < sizeof(path));
    Check(std::string(path, dir.size() + 1) == dir + "/");
    Check(std::strchr(path + dir.size() + 1, '/') == nullptr);
  } else {
    Check(path[0] == '\0');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  DownloadRequest request = ParseDownloadRequest(data, static_cast<int>(size));
  if (request.hasDigest) {
    Check(request.md5Hex.size() == 32);
    for (char c : request.md5Hex) Check((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
  }
  Check(request.url.find(' ') == std::string::npos);
  Check(request.enterDfu == 0 || request.enterDfu == 1);
  if (request.complete()) CheckAddress(request.url);
  // The bytes as an address on their own reach the parsers without the request's framing.
  CheckAddress(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
