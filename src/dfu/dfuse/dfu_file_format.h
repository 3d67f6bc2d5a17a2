// The .dfu file layout: "DfuSe" prefix, targets with their elements, 16-byte suffix ending in
// a CRC-32. Pure functions (bytes in, values out), portable; the file calls build on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DfuElementData {
  uint32_t address = 0;
  std::vector<uint8_t> data;
};

struct DfuImageData {
  uint8_t alternate = 0;
  bool named = false;
  std::string name;  // at most 254 bytes are stored
  std::vector<DfuElementData> elements;
};

struct DfuFileData {
  uint16_t bcdDevice = 0xFFFF;
  uint16_t idProduct = 0xFFFF;
  uint16_t idVendor = 0xFFFF;
  uint16_t bcdDfu = 0x011A;
  std::vector<DfuImageData> images;
};

constexpr size_t kDfuPrefixSize = 11;
constexpr size_t kDfuTargetPrefixSize = 274;
constexpr size_t kDfuSuffixSize = 16;
constexpr size_t kDfuTargetNameSize = 255;

// The suffix's CRC: reflected CRC-32 (0xEDB88320), initial value 0xFFFFFFFF, no final XOR.
uint32_t DfuCrc(const uint8_t* bytes, size_t n, uint32_t crc = 0xFFFFFFFF);

// Parses a whole file. False (with a short reason in *why when given) when the prefix, a
// target or element size, a name, the suffix or the CRC is wrong; never reads past `n`. The
// prefix's image size may count the suffix or not.
bool ParseDfuFile(const uint8_t* bytes, size_t n, DfuFileData* out, std::string* why = nullptr);

// The bytes of a file holding `file`, with the prefix's image size counting the suffix.
std::vector<uint8_t> BuildDfuFile(const DfuFileData& file);
