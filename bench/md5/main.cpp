// MD5 throughput of our digest and of OpenSSL's on the same 64 MiB buffer, best of five runs
// each, interleaved so that both see the same machine load.
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "upgrade/md5.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int main() {
  const size_t kSize = 64u << 20;
  std::vector<uint8_t> buffer(kSize);
  uint32_t x = 12345;
  for (auto& b : buffer) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }

  double ours = 1e9, theirs = 1e9;
  uint8_t ourDigest[16] = {0}, theirDigest[16] = {0};
  for (int run = 0; run < 5; ++run) {
    auto start = Clock::now();
    Md5Context context;
    md5Init(&context);
    md5Update(&context, buffer.data(), static_cast<uint32_t>(buffer.size()));
    md5Final(&context);
    ours = std::min(ours, Seconds(start));
    std::memcpy(ourDigest, context.digest, 16);

    start = Clock::now();
    unsigned int length = 0;
    EVP_Digest(buffer.data(), buffer.size(), theirDigest, &length, EVP_md5(), nullptr);
    theirs = std::min(theirs, Seconds(start));
  }
  double mib = static_cast<double>(kSize) / (1 << 20);
  std::printf("md5 64 MiB: ours %.1f MiB/s, OpenSSL %.1f MiB/s, ratio %.2f, digests %s\n",
              mib / ours, mib / theirs, theirs / ours,
              std::memcmp(ourDigest, theirDigest, 16) == 0 ? "equal" : "DIFFER");
  return std::memcmp(ourDigest, theirDigest, 16) == 0 ? 0 : 1;
}
