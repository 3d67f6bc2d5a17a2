// The package cache folder. Portable.
#include "dfu/package_cache_folder.h"

#include "platform/paths.h"
#include "upgrade/package_cache.h"

namespace {
std::string g_testFolder;
}

std::string DfuPackageCacheFolder() {
  if (!g_testFolder.empty()) return g_testFolder;
  // The same cache the downloader copies verified packages into.
  std::string folder = PackageCacheFolder();
  return folder.empty() ? folder : folder + platform::PathSeparator();
}

void SetDfuPackageCacheFolderForTesting(const std::string& folder) { g_testFolder = folder; }
