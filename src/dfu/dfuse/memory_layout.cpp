// Decoding of memory-layout strings. Portable; every number is bounded before it is used.
#include "dfu/dfuse/memory_layout.h"

#include <cctype>

namespace {

struct Cursor {
  const std::string& s;
  size_t at;
  bool End() const { return at >= s.size(); }
  char Peek() const { return End() ? '\0' : s[at]; }
};

bool Decimal(Cursor* c, uint64_t limit, uint64_t* value) {
  size_t start = c->at;
  uint64_t v = 0;
  while (!c->End() && std::isdigit(static_cast<unsigned char>(c->Peek()))) {
    v = v * 10 + static_cast<uint64_t>(c->Peek() - '0');
    if (v > limit) return false;
    ++c->at;
  }
  *value = v;
  return c->at > start;
}

bool Address(Cursor* c, uint32_t* value) {
  if (c->s.compare(c->at, 2, "0x") != 0 && c->s.compare(c->at, 2, "0X") != 0) return false;
  c->at += 2;
  size_t start = c->at;
  uint64_t v = 0;
  while (!c->End() && std::isxdigit(static_cast<unsigned char>(c->Peek()))) {
    char ch = static_cast<char>(std::tolower(static_cast<unsigned char>(c->Peek())));
    v = v * 16 + static_cast<uint64_t>(ch <= '9' ? ch - '0' : ch - 'a' + 10);
    if (v > 0xFFFFFFFFull) return false;
    ++c->at;
  }
  *value = static_cast<uint32_t>(v);
  return c->at > start;
}

// One zone's groups after its address: "04*016Kg,01*064Kg".
bool Groups(Cursor* c, uint32_t start, DfuMappingEntry* out) {
  uint64_t address = start;
  for (;;) {
    uint64_t count = 0, size = 0;
    if (!Decimal(c, kMaxSectorsPerTarget, &count) || c->Peek() != '*') return false;
    ++c->at;
    if (!Decimal(c, 0xFFFFFFFFull, &size)) return false;
    switch (c->Peek()) {
      case 'B':
      case ' ':
        break;
      case 'K':
        size *= 1024;
        break;
      case 'M':
        size *= 1024 * 1024;
        break;
      default:
        return false;
    }
    ++c->at;
    char type = c->Peek();
    if (type < 'a' || type > 'g') return false;
    ++c->at;
    if (size == 0 || size > 0xFFFFFFFFull) return false;
    if (out->sectors.size() + count > kMaxSectorsPerTarget) return false;
    if (address + count * size > 0x100000000ull) return false;
    for (uint64_t i = 0; i < count; ++i) {
      out->sectors.push_back(DfuSector{static_cast<uint32_t>(address), static_cast<uint32_t>(size),
                                       static_cast<uint8_t>((type - 'a' + 1) & 7)});
      address += size;
    }
    if (c->Peek() != ',') return true;
    ++c->at;
  }
}

}  // namespace

bool ParseMemoryLayout(const std::string& text, DfuMappingEntry* out) {
  out->name.clear();
  out->sectors.clear();
  out->sectorCount = 0;
  if (text.empty() || text[0] != '@') return false;
  size_t slash = text.find('/', 1);
  if (slash == std::string::npos) return false;
  out->name = text.substr(1, slash - 1);
  Cursor c{text, slash};
  while (c.Peek() == '/') {
    ++c.at;
    uint32_t start = 0;
    if (!Address(&c, &start) || c.Peek() != '/') return false;
    ++c.at;
    if (!Groups(&c, start, out)) return false;
  }
  if (!c.End()) return false;
  out->sectorCount = static_cast<uint32_t>(out->sectors.size());
  return !out->sectors.empty();
}
