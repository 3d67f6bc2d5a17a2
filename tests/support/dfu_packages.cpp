// .dfu package helpers for tests. Portable.
#include "dfu_packages.h"

#include <cstdio>

#include "platform/paths.h"

namespace testsupport {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345;
    out[i] = static_cast<uint8_t>((x >> 16) % 255);  // never 0xFF
  }
  return out;
}

DfuImageData OneElementImage(uint8_t alternate, uint32_t address, std::vector<uint8_t> data,
                             const std::string& name) {
  DfuImageData image;
  image.alternate = alternate;
  image.named = true;
  image.name = name;
  DfuElementData e;
  e.address = address;
  e.data = std::move(data);
  image.elements.push_back(std::move(e));
  return image;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = platform::OpenFile(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool WritePackage(const std::string& path, const DfuFileData& file) {
  return WriteBytes(path, BuildDfuFile(file));
}

}  // namespace testsupport
