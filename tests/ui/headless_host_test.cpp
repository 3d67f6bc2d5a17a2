// The dialog framework on the headless host: timers on the virtual clock, control state,
// message boxes, tray, posts from other threads, hiding and modal runs.
#include "ui/headless/headless_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/backend.h"
#include "ui/test_dialog.h"
#include "ui/tray_icon.h"

namespace {

using ui::MessageBoxButtons;
using ui::MessageBoxResult;
using ui::headless::ClockMode;
using ui::headless::HeadlessHost;
using ui_test::TestDialog;

class HeadlessTest : public testing::Test {
 protected:
  HeadlessHost host;
  ui::ScopedBackend scoped{&host};
};

TEST_F(HeadlessTest, TimersFireInOrderOfDueTimeAndPeriodicOnesRearm) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::vector<std::pair<uint64_t, int>> fired;
  d.on_timer = [&](int id) {
    fired.emplace_back(host.NowMs(), id);
    if (id == 3) d.KillTimer(3);  // one-shot in effect
  };
  ASSERT_TRUE(d.SetTimer(1, 1000));
  ASSERT_TRUE(d.SetTimer(2, 300));
  ASSERT_TRUE(d.SetTimer(3, 2000));
  host.AdvanceTime(2100);
  std::vector<std::pair<uint64_t, int>> expected = {{300, 2},  {600, 2},  {900, 2},  {1000, 1},
                                                    {1200, 2}, {1500, 2}, {1800, 2}, {2000, 3},
                                                    {2000, 1}, {2100, 2}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(host.NowMs(), 2100u);
  EXPECT_FALSE(host.IsTimerRunning(d, 3));
  EXPECT_EQ(host.TimerPeriod(d, 1), 1000);

  // Setting a running id again restarts it from now with the new period.
  fired.clear();
  ASSERT_TRUE(d.SetTimer(1, 500));
  EXPECT_TRUE(d.KillTimer(2));
  EXPECT_FALSE(d.KillTimer(2));
  host.AdvanceTime(1000);
  expected = {{2600, 1}, {3100, 1}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(host.NextTimerInMs(), 500);

  // A handler that kills another timer due at the same moment stops it from firing.
  fired.clear();
  d.KillTimer(1);
  d.SetTimer(5, 100);
  d.SetTimer(6, 100);
  d.on_timer = [&](int id) {
    fired.emplace_back(host.NowMs(), id);
    if (id == 5) d.KillTimer(6);
  };
  host.AdvanceTime(100);
  expected = {{3200, 5}};
  EXPECT_EQ(fired, expected);

  // Timers die with their window.
  d.DestroyWindow();
  EXPECT_EQ(host.NextTimerInMs(), -1);
  EXPECT_FALSE(d.SetTimer(1, 100));
}

TEST_F(HeadlessTest, RadioCheckAndComboStateFollowTheUser) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.ShowWindow(true));
  EXPECT_EQ(d.inits, 1);
  EXPECT_EQ(d.GetItemText(10), "启动");
  EXPECT_EQ(d.GetItemText(11), "停止");
  EXPECT_EQ(d.GetItemText(90), "");  // bound to an empty field, loaded by OnInitDialog

  // Radio groups are independent; a click checks one and clears its neighbours.
  EXPECT_TRUE(d.SetRadioIndex(30, 2));
  EXPECT_TRUE(d.SetRadioIndex(40, 0));
  EXPECT_TRUE(host.Click(d, 31));
  EXPECT_EQ(d.GetRadioIndex(30), 1);
  EXPECT_FALSE(d.IsItemChecked(32));
  EXPECT_EQ(d.GetRadioIndex(40), 0);
  EXPECT_FALSE(d.SetRadioIndex(30, 3));
  EXPECT_TRUE(d.SetRadioIndex(30, -1));
  EXPECT_EQ(d.GetRadioIndex(30), -1);

  // A check box toggles before its command arrives.
  EXPECT_TRUE(host.Click(d, 20));
  EXPECT_TRUE(d.IsItemChecked(20));
  EXPECT_TRUE(host.Click(d, 20));
  EXPECT_FALSE(d.IsItemChecked(20));
  EXPECT_EQ(d.commands, (std::vector<int>{31, 20, 20}));

  // A disabled control cannot be used: no command, no change.
  EXPECT_TRUE(d.EnableItem(11, false));
  EXPECT_FALSE(d.IsItemEnabled(11));
  EXPECT_FALSE(host.Click(d, 11));
  EXPECT_TRUE(d.EnableItem(20, false));
  EXPECT_FALSE(host.Click(d, 20));
  EXPECT_FALSE(d.IsItemChecked(20));
  EXPECT_EQ(d.commands.size(), 3u);
  EXPECT_FALSE(host.Click(d, 90));  // a label sends nothing

  // Combo box: entries, selection, edit field.
  EXPECT_EQ(d.ComboAddString(60, "自动"), 0);
  EXPECT_EQ(d.ComboAddString(60, "COM5"), 1);
  EXPECT_EQ(d.ComboAddString(60, "COM7"), 2);
  EXPECT_EQ(d.ComboGetCount(60), 3);
  EXPECT_EQ(d.ComboGetCurSel(60), -1);
  EXPECT_TRUE(d.ComboSetCurSel(60, 2));
  EXPECT_EQ(d.GetItemText(60), "COM7");
  EXPECT_TRUE(host.PickComboEntry(d, 60, 1));
  EXPECT_EQ(d.ComboGetCurSel(60), 1);
  EXPECT_EQ(d.GetItemText(60), "COM5");
  EXPECT_FALSE(host.PickComboEntry(d, 60, 3));
  EXPECT_TRUE(host.TypeText(d, 60, "COM12"));
  EXPECT_EQ(d.GetItemText(60), "COM12");
  EXPECT_EQ(d.ComboGetString(60, 2), "COM7");
  EXPECT_EQ(d.ComboGetString(60, 3), "");
  EXPECT_TRUE(d.ComboResetContent(60));
  EXPECT_EQ(d.ComboGetCount(60), 0);
  EXPECT_EQ(d.ComboGetCurSel(60), -1);
  EXPECT_EQ(d.GetItemText(60), "");

  // Digits-only edits refuse other characters; up-downs report their steps.
  EXPECT_FALSE(host.TypeText(d, 50, "12a"));
  EXPECT_TRUE(host.TypeText(d, 50, "120"));
  EXPECT_EQ(d.GetItemText(50), "120");
  EXPECT_TRUE(d.SetUpDownBuddy(70, 50));
  EXPECT_EQ(d.GetUpDownBuddy(70), 50);
  EXPECT_EQ(host.StepUpDown(d, 70, -1), 0);
  EXPECT_EQ(host.StepUpDown(d, 70, 1), 0);
  EXPECT_EQ(d.steps, (std::vector<std::pair<int, int>>{{70, -1}, {70, 1}}));
  EXPECT_EQ(host.StepUpDown(d, 50, 1), -1);  // not an up-down

  // Progress bar keeps its position inside its range.
  EXPECT_TRUE(d.SetProgressRange(80, 0, 100));
  EXPECT_TRUE(d.SetProgressPos(80, 140));
  EXPECT_EQ(d.GetProgressPos(80), 100);
  EXPECT_TRUE(d.SetItemText(80, "正在擦除"));
  EXPECT_EQ(d.GetItemText(80), "正在擦除");
}

TEST_F(HeadlessTest, MessageBoxesAreRecordedWithCaptionRulesAndScriptedAnswers) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  host.ScriptMessageBoxAnswer(MessageBoxResult::kYes);
  EXPECT_EQ(d.MessageBox("是否继续?", MessageBoxButtons::kYesNo), MessageBoxResult::kYes);
  EXPECT_EQ(d.MessageBox("是否继续?", MessageBoxButtons::kYesNo), MessageBoxResult::kNo);
  EXPECT_EQ(d.MessageBox("设置成功"), MessageBoxResult::kOk);
  host.ScriptMessageBoxAnswer(MessageBoxResult::kYes);  // does not fit an OK box
  EXPECT_EQ(d.MessageBox("失败", MessageBoxButtons::kOk, "自定义"), MessageBoxResult::kOk);
  EXPECT_EQ(ui::ShowMessageBox("程序已启动，请在托盘处打开"), MessageBoxResult::kOk);

  const auto& boxes = host.message_boxes();
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].caption, "提示");
  EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::kYesNo);
  EXPECT_EQ(boxes[0].answer, MessageBoxResult::kYes);
  EXPECT_EQ(boxes[0].owner_caption, "测试窗口");
  EXPECT_EQ(boxes[1].answer, MessageBoxResult::kNo);
  EXPECT_EQ(boxes[2].text, "设置成功");
  EXPECT_EQ(boxes[2].caption, ui::ApplicationName());
  EXPECT_EQ(boxes[2].buttons, MessageBoxButtons::kOk);
  EXPECT_EQ(boxes[3].caption, "自定义");
  EXPECT_EQ(boxes[4].text, "程序已启动，请在托盘处打开");
  EXPECT_EQ(boxes[4].owner_caption, "");
  EXPECT_EQ(boxes[4].caption, "Ovra7Server");
}

TEST_F(HeadlessTest, TrayIconReportsMouseToItsOwnerAndMenusHonourDisabledItems) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ui::TrayIcon icon;
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  ASSERT_NE(host.FindTrayIcon(131), nullptr);
  EXPECT_EQ(host.FindTrayIcon(131)->tip, "读卡服务");
  EXPECT_TRUE(icon.Modify(134, "读卡服务(USB模式)"));
  EXPECT_EQ(host.FindTrayIcon(131)->icon_id, 134);
  EXPECT_EQ(host.FindTrayIcon(131)->tip, "读卡服务(USB模式)");
  EXPECT_TRUE(host.SendTrayMouse(131, ui::kMouseRightUp));
  EXPECT_FALSE(host.SendTrayMouse(132, ui::kMouseRightUp));
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseRightUp}}));

  std::vector<ui::MenuItem> menu = {
      {2028, "设置"}, {2026, "启动", false}, {2027, "停止"}, {2029, "退出"}};
  host.ScriptMenuChoice(2027);
  host.ScriptMenuChoice(2026);  // disabled: the menu closes without a choice
  host.ScriptMenuChoice(4444);  // not in the menu
  EXPECT_EQ(icon.TrackPopupMenu(menu), 2027);
  EXPECT_EQ(icon.TrackPopupMenu(menu), 0);
  EXPECT_EQ(icon.TrackPopupMenu(menu), 0);
  EXPECT_EQ(icon.TrackPopupMenu(menu), 0);  // nothing scripted: dismissed
  ASSERT_EQ(host.menus().size(), 4u);
  EXPECT_FALSE(host.menus()[0].items[1].enabled);
  EXPECT_EQ(host.menus()[0].items[3].text, "退出");

  // A tip longer than the shell keeps is cut on a character boundary.
  std::string long_tip;
  for (int i = 0; i < 130; ++i) long_tip += "读";
  EXPECT_TRUE(icon.Modify(131, long_tip));
  EXPECT_EQ(host.FindTrayIcon(131)->tip.size(), 127u * 3);

  EXPECT_TRUE(icon.Remove());
  EXPECT_EQ(host.FindTrayIcon(131), nullptr);
  EXPECT_FALSE(icon.IsAdded());
  EXPECT_FALSE(icon.Modify(131, "读卡服务"));  // removed: nothing to change

  // No window, no icon; an icon goes with its object.
  TestDialog unbuilt;
  ui::TrayIcon orphan;
  EXPECT_FALSE(orphan.Add(unbuilt, 140, 131, "x"));
  {
    ui::TrayIcon scoped_icon;
    ASSERT_TRUE(scoped_icon.Add(d, 141, 133, "y"));
    EXPECT_NE(host.FindTrayIcon(141), nullptr);
  }
  EXPECT_EQ(host.FindTrayIcon(141), nullptr);
}

TEST_F(HeadlessTest, PostsFromOtherThreadsArriveInOrderOnTheLoopThread) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  constexpr int kCount = 200;
  std::thread poster([&] {
    for (int i = 0; i < kCount; ++i) d.PostMessage(2031, 0, i);
    d.PostDeviceChange(ui::kDeviceArrival);
    d.PostPowerBroadcast(ui::kPowerSuspend);
  });
  for (int waited = 0; d.powers.empty() && waited < 1000; ++waited) host.WaitAndDispatch(10);
  poster.join();
  ASSERT_EQ(d.messages.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(d.messages[i], i);
  for (auto id : d.message_threads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(d.devices, std::vector<int>{ui::kDeviceArrival});
  EXPECT_EQ(d.powers, std::vector<int>{ui::kPowerSuspend});

  // A send from another thread blocks until the loop has handled it, and returns its result.
  std::atomic<intptr_t> result{0};
  std::thread sender([&] { result = d.SendMessage(2030, 5, 77); });
  for (int waited = 0; result == 0 && waited < 1000; ++waited) host.WaitAndDispatch(10);
  sender.join();
  EXPECT_EQ(result, 2035);
  EXPECT_EQ(d.SendMessage(2030, 1, 0), 2031);  // on the loop thread: at once

  // Messages below the private range are refused; a window that is gone takes nothing.
  EXPECT_FALSE(d.PostMessage(15, 0, 0));
  d.PostMessage(2031, 0, 1);
  d.DestroyWindow();
  EXPECT_EQ(host.DispatchPosted(), 0);  // the queued message died with the window
  EXPECT_FALSE(d.PostMessage(2031, 0, 2));
  EXPECT_EQ(d.SendMessage(2030, 0, 0), -1);
  EXPECT_EQ(d.destroys, 1);
}

TEST_F(HeadlessTest, SenderBlockedOnAWindowThatIsDestroyedGetsMinusOne) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::atomic<bool> done{false};
  intptr_t result = 0;
  std::thread sender([&] {
    result = d.SendMessage(2030, 1, 1);
    done = true;
  });
  // Wait for the send to be queued, then destroy the window without serving it.
  for (int i = 0; i < 1000 && !done; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (i == 20) d.DestroyWindow();
  }
  sender.join();
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(d.messages.empty());
}

TEST_F(HeadlessTest, CloseBoxAndEscapeOnlyHideAModelessDialog) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  EXPECT_FALSE(d.IsVisible());      // no visible style in the template
  EXPECT_FALSE(host.Click(d, 10));  // hidden: the user cannot reach it
  d.SetTimer(1, 1000);
  ASSERT_TRUE(d.ShowWindow(true));
  EXPECT_TRUE(host.PressClose(d));
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(d.IsCreated());
  d.ShowWindow(true);
  EXPECT_TRUE(host.PressEscape(d));
  EXPECT_FALSE(d.IsVisible());
  EXPECT_EQ(d.cancels, 2);
  host.AdvanceTime(2000);
  EXPECT_EQ(d.timers, (std::vector<int>{1, 1}));  // the timers carry on

  // Enter presses the default button; a push button with the focus (the last one clicked)
  // takes it over, as under Windows' dialog manager.
  d.ShowWindow(true);
  EXPECT_TRUE(host.PressEnter(d));
  EXPECT_EQ(d.commands, std::vector<int>{10});
  EXPECT_TRUE(host.Click(d, 11));
  EXPECT_TRUE(host.PressEnter(d));
  EXPECT_EQ(d.commands, (std::vector<int>{10, 11, 11}));
}

TEST_F(HeadlessTest, WindowRectangleHalvesAndClicksStayInsideTheClientArea) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  d.ShowWindow(true);
  ui::Rect w = d.GetWindowRect();
  ui::Rect c = d.GetClientRect();
  EXPECT_EQ(c.Width(), HeadlessHost::DluToPixelsX(400));
  EXPECT_EQ(c.Height(), HeadlessHost::DluToPixelsY(200));
  EXPECT_EQ(w.left, 0);
  EXPECT_TRUE(host.Click(d, 99));
  ui::Rect half = w;
  half.right = w.left + w.Width() / 2;
  ASSERT_TRUE(d.MoveWindow(half));
  EXPECT_EQ(d.GetWindowRect(), half);
  EXPECT_FALSE(host.Click(d, 99));  // now beyond the right edge
  EXPECT_TRUE(host.Click(d, 10));

  ui::Rect client = d.GetClientRect();
  EXPECT_TRUE(host.DoubleClick(d, 0, client.bottom - 1));
  EXPECT_FALSE(host.DoubleClick(d, 0, client.bottom));
  EXPECT_EQ(d.double_clicks, (std::vector<std::pair<int, int>>{{0, client.bottom - 1}}));

  EXPECT_TRUE(d.SetIcon(131));
  EXPECT_EQ(host.IconOf(d), 131);
  EXPECT_TRUE(d.RegisterPortNotifications());
  EXPECT_TRUE(host.AreRegisteredForPorts(d));
  EXPECT_EQ(host.FindDialog("测试窗口"), &d);
  EXPECT_TRUE(d.SetCaption("读卡器设置"));
  EXPECT_EQ(host.FindDialog("读卡器设置"), &d);
}

TEST_F(HeadlessTest, ModalRunsEndByEndDialogByTheirTimersOrByTheUser) {
  // A driver plays the user: OK ends the run with kIdOk after the data exchange.
  TestDialog main_window;
  ASSERT_TRUE(main_window.Create());
  main_window.ShowWindow(true);
  TestDialog ok;
  host.SetModalDriver([&](ui::Dialog& d) {
    EXPECT_EQ(&d, &ok);
    EXPECT_FALSE(host.Click(main_window, 10));  // the modal run holds the user
    EXPECT_FALSE(host.PressClose(main_window));
    EXPECT_TRUE(d.IsVisible());
    EXPECT_TRUE(host.TypeText(d, 50, "90"));
    d.SetItemText(51, "100");
    d.SetItemText(90, "改了");
    EXPECT_TRUE(host.PressEnter(d));  // the default button 10 only sends its command
    EXPECT_TRUE(d.IsCreated());
    d.EndDialog(ui::kIdOk);
  });
  EXPECT_EQ(ok.DoModal(), ui::kIdOk);
  EXPECT_FALSE(ok.IsCreated());
  EXPECT_EQ(ok.destroys, 1);
  EXPECT_EQ(ok.commands, std::vector<int>{10});
  EXPECT_TRUE(main_window.commands.empty());
  EXPECT_TRUE(host.Click(main_window, 10));  // reachable again

  // Without a driver, virtual time runs timer by timer until the dialog ends itself.
  host.SetModalDriver(nullptr);
  TestDialog timed;
  timed.on_timer = [&](int) {
    if (timed.timers.size() == 3) timed.EndDialog(42);
  };
  uint64_t start = host.NowMs();
  host.SetModalDriver([&](ui::Dialog& d) { d.SetTimer(6, 250); });
  EXPECT_EQ(timed.DoModal(), 42);
  EXPECT_EQ(host.NowMs() - start, 750u);

  // A dialog nobody ends is closed by the user once the virtual time limit has passed.
  TestDialog forever;
  host.SetModalTimeLimitMs(10000);
  host.SetModalDriver([&](ui::Dialog& d) { d.SetTimer(3, 1000); });
  start = host.NowMs();
  EXPECT_EQ(forever.DoModal(), ui::kIdCancel);
  EXPECT_EQ(forever.timers.size(), 10u);
  EXPECT_EQ(forever.cancels, 1);
  EXPECT_EQ(host.NowMs() - start, 10000u);
}

TEST(HeadlessRealClock, LoopServesTimersPostsAndQuitAndPrintsMessageBoxes) {
  HeadlessHost host(ClockMode::kReal);
  ui::ScopedBackend scoped(&host);
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.SetTimer(1, 20));
  std::thread other;
  d.on_timer = [&](int) {
    if (d.timers.size() == 3) {
      d.KillTimer(1);
      // Another thread asks the loop to show a question and then to quit.
      other = std::thread([&] {
        host.Post([&] {
          d.MessageBox("当前使用移动数据连接，是否在退出后保持读卡功能?",
                       MessageBoxButtons::kYesNo);
        });
        d.PostMessage(2031, 0, 9);
        host.Post([] { ui::Announce("当前使用的端口：ttyACM0"); });
        ui::PostQuit(3);
      });
    }
  };
  testing::internal::CaptureStderr();
  int code = ui::RunMessageLoop();
  std::string err = testing::internal::GetCapturedStderr();
  other.join();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(d.timers.size(), 3u);
  EXPECT_EQ(d.messages, std::vector<intptr_t>{9});
  EXPECT_NE(err.find("[提示] 当前使用移动数据连接"), std::string::npos) << err;
  EXPECT_NE(err.find("-> No"), std::string::npos) << err;
  // The program's host runs for months: what it printed is not kept as well.
  EXPECT_TRUE(host.message_boxes().empty());
  EXPECT_TRUE(host.announcements().empty());
  // Announcements reach the console as lines of their own behind a local time stamp.
  size_t at = err.find(" 当前使用的端口：ttyACM0\n");
  ASSERT_NE(at, std::string::npos) << err;
  size_t line_start = err.rfind('\n', at);
  line_start = line_start == std::string::npos ? 0 : line_start + 1;
  EXPECT_EQ(at - line_start, 19u) << err;  // "YYYY-MM-DD HH:MM:SS"
}

TEST(HeadlessVirtualClock, AnnouncementsAreRecordedButNotPrinted) {
  HeadlessHost host;
  ui::ScopedBackend scoped(&host);
  testing::internal::CaptureStderr();
  ui::Announce("正在升级");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(host.announcements(), std::vector<std::string>{"正在升级"});
}

}  // namespace
