// The package cache folder. Portable.
#include "dfu/package_cache_folder.h"

#include "platform/app_data.h"
#include "platform/paths.h"

namespace {
std::string g_testFolder;
}

std::string DfuPackageCacheFolder() {
  if (!g_testFolder.empty()) return g_testFolder;
  std::string base = platform::UserAppDataDir();
  if (base.empty()) return std::string();
  const std::string sep = platform::PathSeparator();
  return base + sep + "OvraNetService" + sep + "DFU" + sep;
}

void SetDfuPackageCacheFolderForTesting(const std::string& folder) { g_testFolder = folder; }
