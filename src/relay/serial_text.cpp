// Code page 936 on the serial link, UTF-8 inside. Portable: the conversions themselves are
// platform/code_page_936.h; what happens with text that does not convert is decided here.
#include "relay/serial_text.h"

#include "platform/code_page_936.h"

namespace relay {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Code page 936 keeps ASCII as it is: most texts (host names, addresses) need no converter.
bool IsAscii(const char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
  }
  return true;
}

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace

std::string ReaderTextToUtf8(const char* bytes, size_t n) {
  if (n == 0) return std::string();
  if (IsAscii(bytes, n)) return std::string(bytes, n);
  std::string utf8;
  if (platform::Cp936ToUtf8(std::string(bytes, n), &utf8)) return utf8;
  // Character by character: a lead byte with the byte after it, any other byte alone. A unit
  // that does not convert gives one replacement for its first byte, and reading goes on at the
  // next byte, so an ASCII byte after a stray lead byte is kept.
  utf8.clear();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t unit = IsLeadByte(c) && i + 1 < n ? 2 : 1;
    std::string piece;
    if (platform::Cp936ToUtf8(std::string(bytes + i, unit), &piece)) {
      utf8 += piece;
      i += unit;
    } else {
      utf8 += kReplacement;
      ++i;
    }
  }
  return utf8;
}

bool Utf8ToReaderText(const std::string& utf8, std::string* wire) {
  wire->clear();
  if (IsAscii(utf8.data(), utf8.size())) {
    *wire = utf8;
    return true;
  }
  return platform::Utf8ToCp936(utf8, wire);
}

}  // namespace relay
