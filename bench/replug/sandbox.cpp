// Building and removing the program's temporary folder.
#include "sandbox.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/reader_sysfs.h"

namespace fs = std::filesystem;

namespace replug {

bool Sandbox::Create(bool log, std::string* why) {
  std::string pattern = (fs::temp_directory_path() / "ovra7-replug-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    *why = "cannot make a temporary folder";
    return false;
  }
  base_ = pattern;
  const fs::path base(base_);
  try {
    for (const char* dir : {"dev", "run", "tmp", "config/OvraNetService"})
      fs::create_directories(base / dir);
    fs::permissions(base / "run", fs::perms::owner_all, fs::perm_options::replace);
    benchproc::MakeReaderSysfs(base / "sys");
    std::ofstream settings(base / "config/OvraNetService/setting.ini", std::ios::binary);
    settings << (log ? "[Set]\nLog=1\n" : "[Set]\nLog=0\n");
    if (!settings.flush()) {
      *why = "cannot write setting.ini";
      return false;
    }
  } catch (const fs::filesystem_error& e) {
    *why = e.what();
    return false;
  }
  setenv("XDG_RUNTIME_DIR", (base / "run").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
  setenv("TMPDIR", (base / "tmp").c_str(), 1);
  setenv("HOME", base.c_str(), 1);
  setenv("OVRA7_SYSFS_ROOT", (base / "sys").c_str(), 1);
  setenv("OVRA7_DEV_DIR", (base / "dev").c_str(), 1);
  // Headless: no display of the machine's own desktop may be used.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  return true;
}

void Sandbox::Remove() {
  if (base_.empty()) return;
  std::error_code ignored;
  fs::remove_all(base_, ignored);
  base_.clear();
}

std::string Sandbox::LogFile() const {
  return base_ + "/tmp/ovra7-" + std::to_string(getuid()) + "/ovra7.log";
}

}  // namespace replug
