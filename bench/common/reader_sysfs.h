// A sysfs tree below root in which the program finds one reader, ttyACM0: class/tty/ttyACM0 links
// to the tty under a USB interface whose parent device holds the reader's vendor and product ids.
// For benchmarks that run the real program against a pty (OVRA7_SYSFS_ROOT names root).
#pragma once

#include <filesystem>

namespace benchproc {

void MakeReaderSysfs(const std::filesystem::path& root);

}  // namespace benchproc
