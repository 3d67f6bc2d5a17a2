// The headless host: the shared dialog cases, then what only it does: the virtual clock, the
// records and scripts tests read and drive windows with, modal drivers and the console loop.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "ui/backend.h"
#include "ui/dialog_contract.h"
#include "ui/headless/headless_host.h"
#include "ui/test_dialog.h"
#include "ui/tray_icon.h"

namespace {

using ui::MessageBoxButtons;
using ui::MessageBoxResult;
using ui::headless::ClockMode;
using ui::headless::HeadlessHost;
using ui_test::TestDialog;

class Headless : public ui_test::BackendFixture {
 public:
  void Show(ui::Dialog& d) override { ASSERT_TRUE(d.ShowWindow(true)); }
  void Click(ui::Dialog& d, int id) override { host.Click(d, id); }
  void Type(ui::Dialog& d, int id, const std::string& text) override { host.TypeText(d, id, text); }
  void Enter(ui::Dialog& d, int focus_id) override {
    d.SetFocusItem(focus_id);
    host.PressEnter(d);
  }
  void Escape(ui::Dialog& d) override { host.PressEscape(d); }
  void CloseBox(ui::Dialog& d) override { host.PressClose(d); }
  void Step(ui::Dialog& d, int id, int delta) override { host.StepUpDown(d, id, delta); }
  void DoubleClick(ui::Dialog& d, int x, int y) override { host.DoubleClick(d, x, y); }
  void AnswerNextBox(const std::string&, MessageBoxResult answer) override {
    host.ScriptMessageBoxAnswer(answer);
    host.ScriptWhileMessageBoxOpen([this] {
      std::tie(box_caption, box_text) =
          std::tie(host.message_boxes().back().caption, host.message_boxes().back().text);
    });
  }
  void PickInNextMenu(int, int command) override { host.ScriptMenuChoice(command); }
  // Virtual time jumps to the next timer; without one, the loop waits for other threads' posts.
  bool RunUntil(const std::function<bool()>& done) override {
    for (int i = 0; i < 2000 && !done(); ++i) {
      if (host.DispatchPosted() > 0) continue;
      int64_t next = host.NextTimerInMs();
      if (next >= 0)
        host.AdvanceTime(static_cast<uint64_t>(next));
      else
        host.WaitAndDispatch(5);
    }
    return done();
  }

 protected:
  HeadlessHost host;
  ui::ScopedBackend scoped{&host};
};

DIALOG_CONTRACT_TESTS(Headless)

TEST_F(Headless, VirtualTimersFireInOrderOfDueTimeEachAtItsMoment) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::vector<std::pair<uint64_t, int>> fired;
  d.on_timer = [&](int id) {
    fired.emplace_back(host.NowMs(), id);
    if (id == 3) d.KillTimer(3);  // one-shot in effect
    if (id == 5) d.KillTimer(6);  // due at the same moment: it does not fire
  };
  ASSERT_TRUE(d.SetTimer(1, 1000));
  ASSERT_TRUE(d.SetTimer(2, 300));
  ASSERT_TRUE(d.SetTimer(3, 2000));
  host.AdvanceTime(2100);
  std::vector<std::pair<uint64_t, int>> expected = {{300, 2},  {600, 2},  {900, 2},  {1000, 1},
                                                    {1200, 2}, {1500, 2}, {1800, 2}, {2000, 3},
                                                    {2000, 1}, {2100, 2}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(host.NextTimerInMs(), 300);
  fired.clear();
  d.KillTimer(1);
  d.KillTimer(2);
  d.SetTimer(5, 100);
  d.SetTimer(6, 100);
  host.AdvanceTime(100);
  EXPECT_EQ(fired, (std::vector<std::pair<uint64_t, int>>{{2200, 5}}));
  d.DestroyWindow();  // timers die with their window
  EXPECT_EQ(host.NextTimerInMs(), -1);
}

TEST_F(Headless, UserReachesOnlyWhatIsShownEnabledAndInsideTheClientArea) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  EXPECT_FALSE(host.Click(d, 10));  // hidden
  d.ShowWindow(true);
  EXPECT_FALSE(host.Click(d, 90));  // a label sends nothing
  EXPECT_FALSE(host.TypeText(d, 50, "12a"));
  EXPECT_EQ(host.StepUpDown(d, 50, 1), -1);     // not an up-down
  d.ComboAddString(60, "COM5");
  EXPECT_FALSE(host.PickComboEntry(d, 60, 1));
  EXPECT_EQ(d.GetClientRect().Width(), HeadlessHost::DluToPixelsX(400));
  EXPECT_EQ(d.GetClientRect().Height(), HeadlessHost::DluToPixelsY(200));
  EXPECT_TRUE(host.Click(d, 99));
  ui::Rect half = d.GetWindowRect();
  half.right -= half.Width() / 2;
  ASSERT_TRUE(d.MoveWindow(half));
  EXPECT_FALSE(host.Click(d, 99));  // now beyond the right edge
  EXPECT_FALSE(host.DoubleClick(d, 0, d.GetClientRect().bottom));
  EXPECT_TRUE(d.SetIcon(131));
  EXPECT_EQ(host.IconOf(d), 131);
  d.RegisterPortNotifications();
  EXPECT_TRUE(host.AreRegisteredForPorts(d));
  EXPECT_TRUE(d.SetCaption("读卡器设置"));
  EXPECT_EQ(host.FindDialog("读卡器设置"), &d);
}

// Boxes nobody answered say No or OK; an answer that does not fit the box is not taken.
TEST_F(Headless, MessageBoxesAreRecordedWithTheirOwnerAndDefaultAnswers) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  EXPECT_EQ(d.MessageBox("是否继续?", MessageBoxButtons::kYesNo), MessageBoxResult::kNo);
  host.ScriptMessageBoxAnswer(MessageBoxResult::kYes);
  EXPECT_EQ(ui::ShowMessageBox("失败"), MessageBoxResult::kOk);
  ASSERT_EQ(host.message_boxes().size(), 2u);
  EXPECT_EQ(host.message_boxes()[0].owner_caption, "测试窗口");
  EXPECT_EQ(host.message_boxes()[0].answer, MessageBoxResult::kNo);
  EXPECT_EQ(host.message_boxes()[1].owner_caption, "");
  EXPECT_EQ(host.message_boxes()[1].caption, "Ovra7Server");
}

TEST_F(Headless, TrayIconIsRecordedAndItsMenusHonourDisabledItems) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ui::TrayIcon icon;
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  EXPECT_TRUE(host.SendTrayMouse(131, ui::kMouseRightUp));
  EXPECT_FALSE(host.SendTrayMouse(132, ui::kMouseRightUp));
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseRightUp}}));
  std::vector<ui::MenuItem> menu = {{2028, "设置"}, {2026, "启动", false}, {2027, "停止"}};
  host.ScriptMenuChoice(2026);  // disabled: the menu closes without a choice
  host.ScriptMenuChoice(4444);  // not in the menu
  EXPECT_EQ(icon.TrackPopupMenu(menu), 0);
  EXPECT_EQ(icon.TrackPopupMenu(menu), 0);
  EXPECT_EQ(icon.TrackPopupMenu(menu), 0);  // nothing scripted: dismissed
  EXPECT_EQ(host.menus().size(), 3u);
  // A tip longer than the shell keeps is cut on a character boundary.
  std::string long_tip;
  for (int i = 0; i < 130; ++i) long_tip += "读";
  EXPECT_TRUE(icon.Modify(134, long_tip));
  EXPECT_EQ(host.FindTrayIcon(131)->tip.size(), 127u * 3);
  EXPECT_EQ(host.FindTrayIcon(131)->icon_id, 134);
  {
    ui::TrayIcon scoped_icon;  // an icon goes with its object
    ASSERT_TRUE(scoped_icon.Add(d, 141, 133, "y"));
  }
  EXPECT_EQ(host.FindTrayIcon(141), nullptr);
}

TEST_F(Headless, SenderBlockedOnAWindowThatIsDestroyedGetsMinusOne) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::atomic<bool> done{false};
  intptr_t result = 0;
  std::thread sender([&] {
    result = d.SendMessage(2030, 1, 1);
    done = true;
  });
  for (int i = 0; i < 1000 && !done; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (i == 20) d.DestroyWindow();  // whether or not the send is queued yet
  }
  sender.join();
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(d.messages.empty());
}

// A driver plays the user of a modal run; one nobody ends is closed once the virtual time limit
// has passed.
TEST_F(Headless, ModalDriversPlayTheUserAndVirtualTimeEndsForgottenRuns) {
  TestDialog ok, forever;
  host.SetModalDriver([&](ui::Dialog& d) {
    EXPECT_EQ(&d, &ok);
    EXPECT_TRUE(host.PressEnter(d));  // the default button 10 only sends its command
    d.EndDialog(ui::kIdOk);
  });
  EXPECT_EQ(ok.DoModal(), ui::kIdOk);
  EXPECT_EQ(ok.commands, std::vector<int>{10});
  host.SetModalTimeLimitMs(10000);
  host.SetModalDriver([&](ui::Dialog& d) { d.SetTimer(3, 1000); });
  EXPECT_EQ(forever.DoModal(), ui::kIdCancel);
  EXPECT_EQ(forever.timers.size(), 10u);
  EXPECT_EQ(forever.cancels, 1);
  EXPECT_EQ(host.NowMs(), 10000u);
}

TEST_F(Headless, ProgressBarChangesAreRecordedBeyondTheWindow) {
  {
    TestDialog d;
    ASSERT_TRUE(d.Create());
    EXPECT_TRUE(d.SetProgressText(80, "Erase (0%)"));
    EXPECT_TRUE(d.SetProgressPos(80, 0));  // unchanged: not recorded
    EXPECT_TRUE(d.SetProgressPos(80, 40));
    EXPECT_TRUE(d.SetProgressText(80, "Erase (40%)"));
    EXPECT_TRUE(d.SetProgressText(80, "Erase (40%)"));
    EXPECT_EQ(d.GetItemText(80), "Erase (40%)");  // the item text and the bar text are one
  }
  const std::vector<ui::headless::ProgressRecord>& r = host.progress_records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].pos, 40);
  EXPECT_EQ(r[1].text, "Erase (0%)");
  EXPECT_EQ(r[2].text, "Erase (40%)");
  EXPECT_EQ(r[2].caption, "测试窗口");
}

TEST(HeadlessRealClock, LoopServesTimersPostsAndQuitAndPrintsBoxesAndAnnouncements) {
  HeadlessHost host(ClockMode::kReal);
  ui::ScopedBackend scoped(&host);
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.SetTimer(1, 20));
  std::thread other;
  d.on_timer = [&](int) {
    if (d.timers.size() != 3) return;
    d.KillTimer(1);
    other = std::thread([&] {  // another thread asks the loop for a question, then to quit
      host.Post([&] { d.MessageBox("是否保持读卡功能?", MessageBoxButtons::kYesNo); });
      d.PostMessage(2031, 0, 9);
      host.Post([] { ui::Announce("当前使用的端口：ttyACM0"); });
      ui::PostQuit(3);
    });
  };
  testing::internal::CaptureStderr();
  int code = ui::RunMessageLoop();
  std::string err = testing::internal::GetCapturedStderr();
  other.join();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(d.timers.size(), 3u);
  EXPECT_EQ(d.messages, std::vector<intptr_t>{9});
  EXPECT_NE(err.find("[提示] 是否保持读卡功能? (Yes/No) -> No"), std::string::npos) << err;
  // The program's host runs for months: what it printed is not kept as well.
  EXPECT_TRUE(host.message_boxes().empty());
  EXPECT_TRUE(host.announcements().empty());
  size_t at = err.find(" 当前使用的端口：ttyACM0\n");  // behind a local time stamp
  ASSERT_NE(at, std::string::npos) << err;
  size_t line_start = err.rfind('\n', at);
  line_start = line_start == std::string::npos ? 0 : line_start + 1;
  EXPECT_EQ(at - line_start, 19u) << err;  // "YYYY-MM-DD HH:MM:SS"

  HeadlessHost quiet;  // the virtual clock records announcements without printing them
  ui::ScopedBackend scoped_quiet(&quiet);
  testing::internal::CaptureStderr();
  ui::Announce("正在升级");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(quiet.announcements(), std::vector<std::string>{"正在升级"});
}

}  // namespace
