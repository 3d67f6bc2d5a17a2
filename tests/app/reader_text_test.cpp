// Presentation of the reader's answers.
#include "app/reader_text.h"

#include <gtest/gtest.h>

TEST(ReaderText, MacPairsIccidCutAndSignedBytes) {
  EXPECT_EQ("A1:B2:C3:D4:E5:F6", app::MacText("A1B2C3D4E5F6"));
  const char shortMac[12] = {'A', '1', 'B', '\0', 'C', '3', 'D', '4', 'E', '5', 'F', '6'};
  EXPECT_EQ("A1:B:C3:D4:E5:F6", app::MacText(shortMac));  // a zero byte ends its pair
  const char empty[12] = {};
  EXPECT_EQ(":::::", app::MacText(empty));
  const char iccid[20] = {'8', '9', '8', '6', '\0', '9', '9'};
  EXPECT_EQ("8986", app::IccidText(iccid));
  const char full[21] = "89860012345678901234";
  EXPECT_EQ("89860012345678901234", app::IccidText(full));
  EXPECT_EQ("0x7f", app::SignedByteHex(0x7f));
  EXPECT_EQ("0xffffff80", app::SignedByteHex(0x80));
  const uint8_t bytes[3] = {0x00, 0xab, 0x0f};
  EXPECT_EQ("00ab0f", app::AuthorizationHex(bytes, 3));
}

TEST(ReaderText, QualityStatisticsAndEditNumbers) {
  app::QualityStats s = app::SummarizeProbes({20, -1, 30, 40, -3, 50, 60, -4, 70, 80});
  EXPECT_EQ(7, s.successes);
  EXPECT_EQ(3, s.failures);
  EXPECT_EQ(80, s.maximum);
  EXPECT_EQ("当前平均延时为50毫秒，最大80毫秒，成功7次，失败3次", app::QualityText(s));
  EXPECT_EQ("当前平均延时为0毫秒，最大0毫秒，成功1次，失败9次",
            app::QualityText(app::SummarizeProbes({-1, -1, -1, -1, 0, -1, -1, -1, -1, -1})));
  EXPECT_EQ("测试读卡器网络质量失败", app::QualityText(app::SummarizeProbes({-1, -2})));
  EXPECT_EQ(4464, static_cast<uint16_t>(app::LeadingDecimal("70000")));
  EXPECT_EQ(0, app::LeadingDecimal(""));
  EXPECT_EQ(12, app::LeadingDecimal(" 12ab"));
  EXPECT_EQ(-5, app::LeadingDecimal("-5"));
}

// The panel takes at most so many characters from an edit: a Chinese character is never cut.
TEST(ReaderText, FirstCharactersNeverCutsACharacter) {
  EXPECT_EQ(app::FirstCharacters("card.example", 4), "card");
  EXPECT_EQ(app::FirstCharacters("读卡平台", 2), "读卡");
  EXPECT_EQ(app::FirstCharacters(std::string("a读\xF0\x9F\x98\x80") + "b", 3),
            "a读\xF0\x9F\x98\x80");
  EXPECT_EQ(app::FirstCharacters("读卡", 5), "读卡");
  EXPECT_EQ(app::FirstCharacters("读卡", 0), "");
  EXPECT_EQ(app::FirstCharacters("", 3), "");
}
