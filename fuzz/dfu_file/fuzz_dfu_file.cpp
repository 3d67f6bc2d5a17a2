// Fuzzes the .dfu parser: any bytes, with the CRC both as given and made right so the fuzzer
// gets past it into the targets and elements. Whatever parses must write back identically.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dfu/dfuse/dfu_file_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DfuFileData file;
  ParseDfuFile(data, size, &file);
  if (size < kDfuSuffixSize) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  uint32_t crc = DfuCrc(bytes.data(), bytes.size() - 4);
  for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  if (!ParseDfuFile(bytes.data(), bytes.size(), &file)) return 0;
  // A parsed file holds no more element bytes than the input did.
  size_t total = 0;
  for (const DfuImageData& image : file.images)
    for (const DfuElementData& e : image.elements) total += e.data.size();
  if (total > size) std::abort();
  std::vector<uint8_t> again = BuildDfuFile(file);
  DfuFileData back;
  if (!ParseDfuFile(again.data(), again.size(), &back)) std::abort();
  if (back.images.size() != file.images.size()) std::abort();
  return 0;
}
