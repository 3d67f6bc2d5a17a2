// Texts on the serial link: code page 936 on the wire, UTF-8 in the program, on both systems'
// converters (iconv natively, the Win32 code page functions under wine).
#include "relay/serial_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string FromWire(const std::string& bytes) {
  return relay::ReaderTextToUtf8(bytes.data(), bytes.size());
}

TEST(SerialText, ChineseAsciiAndTheEuroSignConvertBothWays) {
  const struct {
    const char* utf8;
    const char* wire;
  } pairs[] = {
      {"读卡平台", "\xB6\xC1\xBF\xA8\xC6\xBD\xCC\xA8"},
      {"张三@reader-01.example.cn:21313", "\xD5\xC5\xC8\xFD@reader-01.example.cn:21313"},
      {"固件 v2", "\xB9\xCC\xBC\xFE v2"},
      {"\xE2\x82\xAC", "\x80"},  // the euro sign: one byte in this code page
      {"", ""},
  };
  for (const auto& p : pairs) {
    std::string wire;
    EXPECT_TRUE(relay::Utf8ToReaderText(p.utf8, &wire)) << p.utf8;
    EXPECT_EQ(wire, p.wire) << p.utf8;
    EXPECT_EQ(FromWire(p.wire), p.utf8);
  }
}

TEST(SerialText, WhatCannotConvertIsRefusedOnTheWayOutAndMarkedOnTheWayIn) {
  std::string wire = "left over";
  EXPECT_FALSE(relay::Utf8ToReaderText("a\xF0\x9F\x98\x80", &wire)) << "an emoji";
  EXPECT_EQ(wire, "");
  EXPECT_FALSE(relay::Utf8ToReaderText("a\xC3", &wire)) << "a cut UTF-8 sequence";
  EXPECT_FALSE(relay::Utf8ToReaderText("\xFF\xFE", &wire)) << "not UTF-8 at all";

  // A lead byte that ends the text, or whose next byte cannot end a character, gives one
  // replacement; the byte after it is read on its own.
  EXPECT_EQ(FromWire("ab\xB6"), "ab" + kReplacement);
  EXPECT_EQ(FromWire(std::string("\xB6") + "0\xB6\xC1"), kReplacement + "0读");
  EXPECT_EQ(FromWire("\xB6\xC1\xB6"), "读" + kReplacement);
  // Every byte value before a few second bytes: whatever the pair is, the "." after it (a byte
  // no character can end with) always survives.
  for (int a = 0; a < 256; ++a) {
    for (int b : {0x00, 0x30, 0x40, 0x7F, 0x80, 0xA1, 0xFE, 0xFF}) {
      std::string text = FromWire({static_cast<char>(a), static_cast<char>(b), '.'});
      ASSERT_FALSE(text.empty());
      EXPECT_EQ(text.back(), '.') << a << " " << b;
    }
  }
}

}  // namespace
