// Helpers the upgrade suites share: digests as the reader and the server name them, file texts,
// and a record of the downloader's "package ready" callback.
#pragma once

#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "upgrade/md5.h"

namespace upgradetest {

using Bytes = std::vector<uint8_t>;

inline Bytes Digest(const void* bytes, size_t n) {
  Md5Context context;
  md5Init(&context);
  md5Update(&context, static_cast<const uint8_t*>(bytes), static_cast<uint32_t>(n));
  md5Final(&context);
  return Bytes(context.digest, context.digest + 16);
}

inline std::string Hex(const Bytes& digest, bool upper = false) {
  char text[33] = {0};
  toHex(text, digest.data(), 16);
  std::string s = text;
  if (upper) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return s;
}

inline std::string Md5Hex(const Bytes& bytes, bool upper = false) {
  return Hex(Digest(bytes.data(), bytes.size()), upper);
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline Bytes ReadBytes(const std::string& path) {
  std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

struct CallbackRecord {
  std::mutex lock;
  std::vector<std::string> paths;
  static void Called(void* context, const char* path) {
    auto* self = static_cast<CallbackRecord*>(context);
    std::lock_guard<std::mutex> hold(self->lock);
    self->paths.push_back(path);
  }
  std::vector<std::string> taken() {
    std::lock_guard<std::mutex> hold(lock);
    return paths;
  }
};

}  // namespace upgradetest
