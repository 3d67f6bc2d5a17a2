// The package file names and the package cache. Portable: std::filesystem and platform headers.
#include "upgrade/package_cache.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "log/log.h"
#include "platform/app_data.h"
#include "platform/paths.h"

namespace {

bool IsUnsafeNameChar(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

}  // namespace

std::string PackageCacheFolder() {
  std::string settings = platform::ProgramDataFolder();
  if (settings.empty()) return std::string();
  return settings + platform::PathSeparator() + "DFU";
}

std::string BuildTempName(const std::string& url, const std::string& md5Upper) {
  // Signed and versioned links carry a query ("reader.dfu?x=1"); the name must still end in the
  // package's own extension, or the cache choice, which looks for ".dfu", never finds it.
  const std::string address = url.substr(0, url.find_first_of("?#"));
  std::string segment;
  size_t slash = address.rfind('/');
  if (slash != std::string::npos) segment = address.substr(slash + 1);
  for (char& c : segment) {
    if (IsUnsafeNameChar(static_cast<unsigned char>(c))) c = '_';
  }
  size_t dot = segment.rfind('.');
  std::string base = dot == std::string::npos ? segment : segment.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : segment.substr(dot);
  return base + "_" + md5Upper + extension;
}

bool BuildTempPath(const std::string& tempDir, const char* separator, const std::string& url,
                   const std::string& md5Upper, char* out, size_t size) {
  if (size == 0) return false;
  out[0] = '\0';
  if (tempDir.empty()) return false;
  std::string path = tempDir + separator + BuildTempName(url, md5Upper);
  if (path.size() + 1 > size || !platform::PathFitsSystemLimit(path)) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

std::string FileNameAfterLastSeparator(const std::string& path, char separator) {
  size_t at = path.rfind(separator);
  return at == std::string::npos ? std::string() : path.substr(at + 1);
}

void CopyPackageToCache(const std::string& sourcePath) {
  namespace fs = std::filesystem;
  std::string folder = PackageCacheFolder();
  std::error_code error;
  // The settings folder is normally made at start-up; creating it here too keeps the cache
  // usable when it is missing (a first run, or a cleared profile).
  if (!folder.empty() && !fs::exists(fs::u8path(folder), error)) {
    fs::create_directories(fs::u8path(folder), error);
  }

  std::string name = FileNameAfterLastSeparator(sourcePath, platform::PathSeparator()[0]);
  if (sourcePath.find(platform::PathSeparator()[0]) == std::string::npos) return;

  std::string destination = folder + platform::PathSeparator() + name;
  bool copied = false;
  if (!folder.empty() && !name.empty()) {
    copied = fs::copy_file(fs::u8path(sourcePath), fs::u8path(destination),
                           fs::copy_options::overwrite_existing, error);
  }
  if (copied) {
    WriteLog("Copy DFU file to cache success, %s", destination.c_str());
  } else {
    WriteLog("Copy DFU file to cache failed, %s", destination.c_str());
  }
}
