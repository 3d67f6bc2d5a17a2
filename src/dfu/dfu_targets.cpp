// Target texts and the protection rule for sector attributes. Portable.
#include <cstdio>

#include "dfu/dfu_upgrade_dialog.h"

std::string SectorSizeText(uint32_t size) {
  char text[32];
  if (size < 1024)
    std::snprintf(text, sizeof text, "%i b", static_cast<int>(size));
  else if (size < 1048576)
    std::snprintf(text, sizeof text, "%i Kb", static_cast<int>(size / 1024));
  else
    std::snprintf(text, sizeof text, "%i Mb", static_cast<int>(size / 1048576));
  return text;
}

std::string SectorLine(int index, const DfuSector& s) {
  char text[96];
  uint32_t last = s.address + s.size - 1;
  std::snprintf(text, sizeof text, "Sector %03i\t0x%08X\t0x%08X\t%s\t", index,
                static_cast<unsigned>(s.address), static_cast<unsigned>(last),
                SectorSizeText(s.size).c_str());
  std::string line = text;
  if (s.attributes & kSectorReadable) line += "R";
  if (s.attributes & kSectorWriteable) line += "W";
  if (s.attributes & kSectorErasable) line += "E";
  return line;
}

DevTarget MakeDevTarget(const DfuMappingEntry& entry) {
  DevTarget t;
  char text[32];
  std::snprintf(text, sizeof text, "%02i", entry.alternate);
  t.alternate = text;
  t.name = entry.name;
  std::snprintf(text, sizeof text, "%i sectors...", static_cast<int>(entry.sectorCount));
  t.sectorCount = text;
  for (size_t j = 0; j < entry.sectors.size(); ++j) {
    if (j) t.sectors += "\n";
    t.sectors += SectorLine(static_cast<int>(j), entry.sectors[j]);
  }
  return t;
}

void ApplyProtection(DfuMappingEntry* mapping, uint32_t targetCount, uint8_t readProtection,
                     uint32_t writeProtection) {
  for (uint32_t t = 0; t < targetCount; ++t) {
    std::vector<DfuSector>& sectors = mapping[t].sectors;
    for (size_t j = 0; j < sectors.size(); ++j) {
      unsigned bit = j < 128 ? static_cast<unsigned>(j / 4) : 31;
      bool writable = (writeProtection >> bit) & 1;
      uint8_t a = 0;
      if (readProtection == 0xA5) a |= kSectorReadable;
      if (writable) a |= kSectorErasable | kSectorWriteable;
      sectors[j].attributes = a;
    }
  }
}
