// The INI rules: case-insensitive names, leading digits, defaults, one-key writes.
#include "platform/ini_text.h"

#include <gtest/gtest.h>

#include <string>

using platform::IniReadInt;
using platform::IniWriteString;

TEST(IniText, ReadsLeadingDigitsIgnoringCaseAndGivesDefaultsWhenMissing) {
  const std::string text =
      "[COM]\r\nPORT=5\r\n[connect]\r\n type = 2 \r\n[HeartBeat]\r\nUsb=120abc\r\nCat1=x\r\n"
      "Empty=\r\n[Set]\r\nLog=-3\r\n";
  EXPECT_EQ(5, IniReadInt(text, "COM", "port", 0));
  EXPECT_EQ(2, IniReadInt(text, "CONNECT", "TYPE", 0));
  EXPECT_EQ(120, IniReadInt(text, "HeartBeat", "Usb", 600));
  EXPECT_EQ(0, IniReadInt(text, "HeartBeat", "Cat1", 600));     // present, no digits
  EXPECT_EQ(600, IniReadInt(text, "HeartBeat", "Empty", 600));  // empty value: default
  EXPECT_EQ(-3, IniReadInt(text, "Set", "Log", 0));
  EXPECT_EQ(1, IniReadInt(text, "SETTING", "AutoStart", 1));  // section missing
  EXPECT_EQ(7, IniReadInt(text, "COM", "baud", 7));           // key missing
  EXPECT_EQ(9, IniReadInt("", "COM", "port", 9));
  // A key outside its section does not count.
  EXPECT_EQ(0, IniReadInt("port=4\n[COM]\n", "COM", "port", 0));
}

TEST(IniText, SurvivesBinaryAndOverlongInput) {
  const char raw[] = "\x00\xff[COM\n=\n[]\n[COM]\nport=99999999999999999999\n\x01=\x02";
  std::string binary(raw, sizeof raw - 1);
  int value = IniReadInt(binary, "COM", "port", 0);  // wraps as 32 bits, no crash
  (void)value;
  EXPECT_EQ(3, IniReadInt(binary + "\n[X]\nk=3", "x", "K", 0));
  std::string huge(200000, '[');
  EXPECT_EQ(1, IniReadInt(huge, "COM", "port", 1));
}

TEST(IniText, WriteChangesOnlyItsKeyAndKeepsTheRest) {
  const std::string text = "; comment\n[com]\nport = 3\nbaud=9600\n\n[Other]\nx=1\n";
  // The existing key keeps its spelling ("port") while written as "PORT".
  std::string out = IniWriteString(text, "COM", "PORT", "5", "\n");
  EXPECT_EQ("; comment\n[com]\nport =5\nbaud=9600\n\n[Other]\nx=1\n", out);
  EXPECT_EQ(5, IniReadInt(out, "COM", "port", 0));

  // A new key goes after the section's last entry, before the blank line.
  out = IniWriteString(text, "Com", "stop", "1", "\n");
  EXPECT_EQ("; comment\n[com]\nport = 3\nbaud=9600\nstop=1\n\n[Other]\nx=1\n", out);

  // A new section goes at the end; a missing final line break is added first.
  out = IniWriteString("[A]\nk=1", "HeartBeat", "Usb", "120", "\r\n");
  EXPECT_EQ("[A]\nk=1\r\n[HeartBeat]\r\nUsb=120\r\n", out);
  out = IniWriteString("[A]\r\nk=1", "A", "j", "2", "\r\n");
  EXPECT_EQ("[A]\r\nk=1\r\nj=2\r\n", out);
  EXPECT_EQ("[S]\nK=v\n", IniWriteString("", "S", "K", "v", "\n"));
}
