// Fuzzes the memory-layout parser: decoded sectors must be non-empty, within the 32-bit
// address space, contiguous inside a zone and few enough.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dfu/dfuse/memory_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  DfuMappingEntry entry;
  if (!ParseMemoryLayout(text, &entry)) return 0;
  if (entry.sectors.empty() || entry.sectors.size() > kMaxSectorsPerTarget ||
      entry.sectorCount != entry.sectors.size())
    std::abort();
  for (const DfuSector& s : entry.sectors) {
    if (s.size == 0 || static_cast<uint64_t>(s.address) + s.size > 0x100000000ull ||
        s.attributes == 0 || s.attributes > 7)
      std::abort();
  }
  if (entry.name.find('/') != std::string::npos) std::abort();
  return 0;
}
