// Where cached packages lie: "OvraNetService/DFU" under the per-user application-data folder.
// Portable. Stands in until the package cache offers its own folder function.
#pragma once

#include <string>

// The folder with a trailing separator; "" when the application-data folder is unknown.
std::string DfuPackageCacheFolder();
// Tests point the cache elsewhere ("" restores the default). Call from the test's thread only.
void SetDfuPackageCacheFolderForTesting(const std::string& folderWithSeparator);
