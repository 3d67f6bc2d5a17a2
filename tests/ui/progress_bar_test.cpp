// The progress bar's text (the line that says what the bar measures) on the headless host: kept
// with the position, refused on other controls, and every change recorded for later reading.
#include <gtest/gtest.h>

#include "ui/test_dialog.h"
#include "ui/headless/headless_host.h"

namespace {

using ui::headless::ClockMode;
using ui::headless::HeadlessHost;
using ui::headless::ProgressRecord;

TEST(HeadlessProgressBar, KeepsTextAndPositionAndRecordsEachChangeBeyondTheWindow) {
  HeadlessHost host(ClockMode::kVirtual);
  ui::ScopedBackend scoped(&host);
  {
    ui_test::TestDialog d;
    EXPECT_FALSE(d.SetProgressText(80, "before the window"));  // no window yet
    ASSERT_TRUE(d.Create());
    EXPECT_EQ(d.GetProgressText(80), "");
    EXPECT_TRUE(d.SetProgressText(80, "Target 00: Upgrading - Erase Phase (0%)..."));
    EXPECT_TRUE(d.SetProgressPos(80, 0));  // unchanged: not recorded
    EXPECT_TRUE(d.SetProgressPos(80, 40));
    EXPECT_TRUE(d.SetProgressText(80, "Target 00: Upgrading - Erase Phase (40%)..."));
    EXPECT_TRUE(d.SetProgressText(80, "Target 00: Upgrading - Erase Phase (40%)..."));
    EXPECT_EQ(d.GetProgressText(80), "Target 00: Upgrading - Erase Phase (40%)...");
    EXPECT_EQ(d.GetProgressPos(80), 40);
    // The item text and the bar text are one text.
    EXPECT_EQ(d.GetItemText(80), "Target 00: Upgrading - Erase Phase (40%)...");
    EXPECT_TRUE(d.SetProgressText(80, ""));
    EXPECT_EQ(d.GetProgressText(80), "");
    // Only a progress bar has a bar text.
    EXPECT_FALSE(d.SetProgressText(90, "label"));
    EXPECT_FALSE(d.SetProgressText(12345, "missing"));
    EXPECT_NE(d.GetItemText(90), "label");
  }
  const std::vector<ProgressRecord>& r = host.progress_records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].text, "Target 00: Upgrading - Erase Phase (0%)...");
  EXPECT_EQ(r[0].pos, 0);
  EXPECT_EQ(r[1].pos, 40);
  EXPECT_EQ(r[1].text, "Target 00: Upgrading - Erase Phase (0%)...");
  EXPECT_EQ(r[2].pos, 40);
  EXPECT_EQ(r[2].text, "Target 00: Upgrading - Erase Phase (40%)...");
  EXPECT_EQ(r[3].text, "");
  for (const ProgressRecord& one : r) {
    EXPECT_EQ(one.id, 80);
    EXPECT_EQ(one.caption, ui_test::TestTemplate().caption);
  }
  host.ClearProgressRecords();
  EXPECT_TRUE(host.progress_records().empty());
}

}  // namespace
