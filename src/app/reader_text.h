// How the window presents what the reader answered: the authorization record, signed bytes,
// the quality test's statistics. Portable pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// 32 bytes as 64 lower-case hex digits, no separators.
std::string AuthorizationHex(const uint8_t* bytes, size_t n);
// 12 characters in six pairs joined by ":"; a zero byte ends its pair early.
std::string MacText(const char* mac12);
// Up to 20 characters, cut at the first zero byte.
std::string IccidText(const char* iccid20);
// The byte taken as a signed 8-bit value, "0x%x" (0x80 shows as 0xffffff80).
std::string SignedByteHex(uint8_t value);

// The ten-probe network test: a probe result >= 0 is a delay in ms, a negative one a failure.
struct QualityStats {
  int successes = 0;
  int failures = 0;
  int sum = 0;
  int maximum = 0;
};
QualityStats SummarizeProbes(const std::vector<int>& results);
// "当前平均延时为%d毫秒，最大%d毫秒，成功%d次，失败%d次", or "测试读卡器网络质量失败" with no
// success.
std::string QualityText(const QualityStats& stats);

// The usual decimal conversion of an edit's text: blanks, a sign, leading digits; no digits
// give 0. Over-long numbers wrap at 32 bits instead of overflowing.
int LeadingDecimal(const std::string& text);

// The first count characters of a UTF-8 text, never cut inside a character (a cut Chinese
// character would make the whole text unsendable to the reader).
std::string FirstCharacters(const std::string& utf8, size_t count);

}  // namespace app
