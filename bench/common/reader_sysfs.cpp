#include "reader_sysfs.h"

#include <fstream>

namespace benchproc {

void MakeReaderSysfs(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  const fs::path device = root / "devices/pci0000:00/0000:00:14.0/usb1/1-3";
  fs::create_directories(device / "1-3:1.0/tty/ttyACM0");
  std::ofstream(device / "idVendor") << "0425\n";
  std::ofstream(device / "idProduct") << "8159\n";
  fs::create_directory_symlink("../../../1-3:1.0", device / "1-3:1.0/tty/ttyACM0/device");
  fs::create_directories(root / "class/tty");
  fs::create_directory_symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/tty/ttyACM0",
                               root / "class/tty/ttyACM0");
}

}  // namespace benchproc
