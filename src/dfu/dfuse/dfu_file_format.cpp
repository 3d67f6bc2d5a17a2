// Reading and writing the .dfu layout. Portable; every size is checked against what is left.
#include "dfu/dfuse/dfu_file_format.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

bool Fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

}  // namespace

uint32_t DfuCrc(const uint8_t* bytes, size_t n, uint32_t crc) {
  static uint32_t table[256];
  static bool ready = [] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return true;
  }();
  (void)ready;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

bool ParseDfuFile(const uint8_t* bytes, size_t n, DfuFileData* out, std::string* why) {
  *out = DfuFileData();
  if (!bytes || n < kDfuPrefixSize + kDfuSuffixSize) return Fail(why, "too short");
  const uint8_t* suffix = bytes + n - kDfuSuffixSize;
  if (std::memcmp(suffix + 8, "UFD", 3) != 0 || suffix[11] != kDfuSuffixSize)
    return Fail(why, "no DFU suffix");
  if (Le32(suffix + 12) != DfuCrc(bytes, n - 4)) return Fail(why, "CRC mismatch");
  out->bcdDevice = Le16(suffix);
  out->idProduct = Le16(suffix + 2);
  out->idVendor = Le16(suffix + 4);
  out->bcdDfu = Le16(suffix + 6);
  if (out->bcdDfu != 0x011A) return Fail(why, "not a DfuSe file (bcdDFU)");

  if (std::memcmp(bytes, "DfuSe", 5) != 0 || bytes[5] != 0x01) return Fail(why, "bad prefix");
  uint32_t imageSize = Le32(bytes + 6);
  if (imageSize != n && imageSize != n - kDfuSuffixSize) return Fail(why, "bad image size");
  const size_t end = n - kDfuSuffixSize;  // targets must fill exactly up to the suffix
  size_t at = kDfuPrefixSize;
  unsigned targets = bytes[10];
  for (unsigned t = 0; t < targets; ++t) {
    if (end - at < kDfuTargetPrefixSize) return Fail(why, "target prefix cut short");
    const uint8_t* p = bytes + at;
    if (std::memcmp(p, "Target", 6) != 0) return Fail(why, "bad target signature");
    DfuImageData image;
    image.alternate = p[6];
    image.named = Le32(p + 7) != 0;
    const char* name = reinterpret_cast<const char*>(p + 11);
    const void* nul = std::memchr(name, 0, kDfuTargetNameSize);
    if (!nul) return Fail(why, "target name without terminator");
    image.name.assign(name, static_cast<const char*>(nul) - name);
    uint32_t targetSize = Le32(p + 266);
    uint32_t count = Le32(p + 270);
    at += kDfuTargetPrefixSize;
    if (targetSize > end - at) return Fail(why, "target size beyond the file");
    const size_t targetEnd = at + targetSize;
    // Each element needs at least its 8-byte head: no count can promise more than that.
    if (count > targetSize / 8) return Fail(why, "more elements than bytes");
    image.elements.reserve(count);
    for (uint32_t e = 0; e < count; ++e) {
      if (targetEnd - at < 8) return Fail(why, "element head cut short");
      DfuElementData element;
      element.address = Le32(bytes + at);
      uint32_t size = Le32(bytes + at + 4);
      at += 8;
      if (size > targetEnd - at) return Fail(why, "element size beyond the target");
      if (size > 0 && static_cast<uint64_t>(element.address) + size - 1 > 0xFFFFFFFFull)
        return Fail(why, "element beyond the address space");
      element.data.assign(bytes + at, bytes + at + size);
      at += size;
      image.elements.push_back(std::move(element));
    }
    if (at != targetEnd) return Fail(why, "target size does not match its elements");
    out->images.push_back(std::move(image));
  }
  if (at != end) return Fail(why, "bytes between the targets and the suffix");
  return true;
}

std::vector<uint8_t> BuildDfuFile(const DfuFileData& file) {
  std::vector<uint8_t> out = {'D', 'f', 'u', 'S', 'e', 0x01, 0, 0, 0, 0};
  out.push_back(static_cast<uint8_t>(file.images.size() > 255 ? 255 : file.images.size()));
  size_t written = 0;
  for (const DfuImageData& image : file.images) {
    if (written++ == 255) break;
    const char signature[] = "Target";
    out.insert(out.end(), signature, signature + 6);
    out.push_back(image.alternate);
    Put32(&out, image.named ? 1 : 0);
    uint8_t name[kDfuTargetNameSize] = {};
    std::memcpy(
        name, image.name.data(),
        image.name.size() < kDfuTargetNameSize - 1 ? image.name.size() : kDfuTargetNameSize - 1);
    out.insert(out.end(), name, name + kDfuTargetNameSize);
    uint32_t size = 0;
    for (const DfuElementData& e : image.elements) size += 8 + static_cast<uint32_t>(e.data.size());
    Put32(&out, size);
    Put32(&out, static_cast<uint32_t>(image.elements.size()));
    for (const DfuElementData& e : image.elements) {
      Put32(&out, e.address);
      Put32(&out, static_cast<uint32_t>(e.data.size()));
      out.insert(out.end(), e.data.begin(), e.data.end());
    }
  }
  Put16(&out, file.bcdDevice);
  Put16(&out, file.idProduct);
  Put16(&out, file.idVendor);
  Put16(&out, file.bcdDfu);
  out.push_back('U');
  out.push_back('F');
  out.push_back('D');
  out.push_back(static_cast<uint8_t>(kDfuSuffixSize));
  uint32_t total = static_cast<uint32_t>(out.size() + 4);
  for (int i = 0; i < 4; ++i) out[6 + i] = static_cast<uint8_t>(total >> (8 * i));
  Put32(&out, DfuCrc(out.data(), out.size()));
  return out;
}
