// Presentation of reader answers. Portable.
#include "app/reader_text.h"

#include <cstdio>

namespace app {

std::string AuthorizationHex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

std::string MacText(const char* mac12) {
  std::string text;
  for (int pair = 0; pair < 6; ++pair) {
    if (pair > 0) text.push_back(':');
    for (int k = 0; k < 2; ++k) {
      char c = mac12[pair * 2 + k];
      if (c == '\0') break;
      text.push_back(c);
    }
  }
  return text;
}

std::string IccidText(const char* iccid20) {
  std::string text;
  for (int i = 0; i < 20 && iccid20[i] != '\0'; ++i) text.push_back(iccid20[i]);
  return text;
}

std::string SignedByteHex(uint8_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%x",
                static_cast<unsigned>(static_cast<int>(static_cast<int8_t>(value))));
  return buffer;
}

QualityStats SummarizeProbes(const std::vector<int>& results) {
  QualityStats s;
  for (int r : results) {
    if (r < 0) {
      ++s.failures;
      continue;
    }
    ++s.successes;
    s.sum += r;
    if (r > s.maximum) s.maximum = r;
  }
  return s;
}

std::string QualityText(const QualityStats& s) {
  if (s.successes == 0) return "测试读卡器网络质量失败";
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "当前平均延时为%d毫秒，最大%d毫秒，成功%d次，失败%d次",
                s.sum / s.successes, s.maximum, s.successes, s.failures);
  return buffer;
}

int LeadingDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = (text[i++] == '-');
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

std::string FirstCharacters(const std::string& utf8, size_t count) {
  size_t characters = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    // A character starts at every byte that is not a continuation byte (10xxxxxx).
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && characters++ == count)
      return utf8.substr(0, i);
  }
  return utf8;
}

}  // namespace app
