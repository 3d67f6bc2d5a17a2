// Data exchange: integer parsing, loading, and saving that stops at the failing field.
#include "ui/data_exchange.h"

#include <gtest/gtest.h>

#include <climits>

#include "ui/backend.h"
#include "ui/headless/headless_host.h"
#include "ui/test_dialog.h"

namespace {

using ui::headless::HeadlessHost;
using ui_test::TestDialog;

TEST(ParseInteger, AcceptsSignedDecimalsWithSpacesAndRejectsTheRest) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"600", true, 600},
      {" 60 ", true, 60},
      {"-5", true, -5},
      {"+7", true, 7},
      {"007", true, 7},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"", false, 0},
      {" ", false, 0},
      {"-", false, 0},
      {"12a", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
      {"2147483648", false, 0},
      {"六十", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    int value = 12345;
    EXPECT_EQ(ui::ParseInteger(c.text, &value), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(value, c.ok ? c.value : 12345) << '"' << c.text << '"';
  }
  EXPECT_EQ(ui::RangeMessage(60, 600), "请输入 60 到 600 之间的整数。");
  EXPECT_EQ(ui::NotAnIntegerMessage(), "请输入一个整数。");
}

class DataExchangeTest : public testing::Test {
 protected:
  HeadlessHost host;
  ui::ScopedBackend scoped{&host};
  TestDialog d;
  void SetUp() override {
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(d.ShowWindow(true));
  }
};

TEST_F(DataExchangeTest, LoadPutsFieldsIntoControls) {
  d.mode = 2;
  d.other = 1;
  d.flag = 1;
  d.usb = 75;
  d.name = "已连接";
  ASSERT_TRUE(d.UpdateData(false));
  EXPECT_EQ(d.GetRadioIndex(30), 2);
  EXPECT_EQ(d.GetRadioIndex(40), 1);
  EXPECT_TRUE(d.IsItemChecked(20));
  EXPECT_EQ(d.GetItemText(50), "75");
  EXPECT_EQ(d.GetItemText(90), "已连接");
  EXPECT_TRUE(host.message_boxes().empty());
}

// Fields before the failing one take their new values; it and those after keep theirs.
TEST_F(DataExchangeTest, SaveStopsAtTheFirstBadFieldAndAsksForAnIntegerOrTheRange) {
  ASSERT_TRUE(host.Click(d, 31));
  ASSERT_TRUE(host.Click(d, 20));
  ASSERT_TRUE(host.TypeText(d, 50, "60"));  // the bounds themselves pass
  ASSERT_TRUE(host.TypeText(d, 51, "601"));
  d.SetFocusItem(10);
  EXPECT_FALSE(d.UpdateData(true));
  EXPECT_EQ(d.mode, 1);
  EXPECT_EQ(d.flag, 1);
  EXPECT_EQ(d.usb, 60);
  EXPECT_EQ(d.cat1, 600);
  EXPECT_EQ(d.GetFocusItem(), 51);
  host.TypeText(d, 50, "");
  EXPECT_FALSE(d.UpdateData(true));
  d.SetItemText(50, "1e3");  // set by program: digits-only does not stop it
  EXPECT_FALSE(d.UpdateData(true));
  ASSERT_EQ(host.message_boxes().size(), 3u);
  EXPECT_EQ(host.message_boxes()[0].text, "请输入 60 到 600 之间的整数。");
  EXPECT_EQ(host.message_boxes()[0].buttons, ui::MessageBoxButtons::kOk);
  EXPECT_EQ(host.message_boxes()[1].text, "请输入一个整数。");
  EXPECT_EQ(host.message_boxes()[2].text, "请输入一个整数。");
  EXPECT_EQ(d.GetFocusItem(), 50);
  host.TypeText(d, 50, "600");
  host.TypeText(d, 51, "600");
  EXPECT_TRUE(d.UpdateData(true));
  EXPECT_EQ(host.message_boxes().size(), 3u);
}

TEST(DataExchangeWithoutWindow, DoesNothingAndReportsFailure) {
  HeadlessHost host;
  ui::ScopedBackend scoped(&host);
  TestDialog d;
  EXPECT_FALSE(d.UpdateData(true));
  EXPECT_TRUE(host.message_boxes().empty());
}

}  // namespace
