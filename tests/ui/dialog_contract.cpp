// The cases every backend runs (see dialog_contract.h).
#include "ui/dialog_contract.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "ui/test_dialog.h"
#include "ui/tray_icon.h"

namespace ui_test {

using ui::MessageBoxButtons;
using ui::MessageBoxResult;

namespace {

bool Has(const std::vector<intptr_t>& v, intptr_t x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace

void ItemsFollowTheProgram(BackendFixture&) {
  TestDialog d;
  EXPECT_FALSE(d.SetItemText(90, "x"));  // no window yet
  ASSERT_TRUE(d.Create());
  EXPECT_EQ(d.inits, 1);
  EXPECT_FALSE(d.IsVisible());  // no visible style in the template
  EXPECT_EQ(d.GetItemText(31), "仅USB");
  EXPECT_EQ(d.GetItemText(50), "600");  // loaded by the data exchange at initialisation
  EXPECT_FALSE(d.SetItemText(12345, "x"));
  // Radio groups run from a group start to the next: one checked, or none.
  EXPECT_TRUE(d.SetRadioIndex(30, 2));
  EXPECT_TRUE(d.SetRadioIndex(40, 1));
  EXPECT_FALSE(d.IsItemChecked(30));
  EXPECT_EQ(d.GetRadioIndex(30), 2);
  EXPECT_EQ(d.GetRadioIndex(40), 1);
  EXPECT_FALSE(d.SetRadioIndex(30, 3));
  EXPECT_FALSE(d.SetRadioIndex(30, -2));
  EXPECT_EQ(d.GetRadioIndex(30), 2);
  EXPECT_TRUE(d.SetRadioIndex(30, -1));
  EXPECT_EQ(d.GetRadioIndex(30), -1);
  // Combo box: adding selects nothing; a selection puts its text into the edit field.
  EXPECT_EQ(d.ComboAddString(60, "自动"), 0);
  EXPECT_EQ(d.ComboAddString(60, "COM5"), 1);
  EXPECT_EQ(d.ComboGetCurSel(60), -1);
  EXPECT_TRUE(d.ComboSetCurSel(60, 1));
  EXPECT_EQ(d.GetItemText(60), "COM5");
  EXPECT_EQ(d.ComboGetString(60, 0), "自动");
  EXPECT_TRUE(d.ComboResetContent(60));
  EXPECT_EQ(d.ComboGetCount(60), 0);
  // Progress bar: the position stays inside the range; only a bar has a bar text.
  EXPECT_TRUE(d.SetProgressPos(80, 140));
  EXPECT_EQ(d.GetProgressPos(80), 100);
  EXPECT_TRUE(d.SetProgressRange(80, 0, 1000));
  EXPECT_TRUE(d.SetProgressPos(80, 140));
  EXPECT_EQ(d.GetProgressPos(80), 140);
  EXPECT_TRUE(d.SetProgressText(80, "Erase (40%)"));
  EXPECT_EQ(d.GetProgressText(80), "Erase (40%)");
  EXPECT_FALSE(d.SetProgressText(90, "x"));
  EXPECT_FALSE(d.SetProgressRange(90, 0, 10));
  EXPECT_FALSE(d.SetProgressPos(90, 5));
  d.DestroyWindow();
  EXPECT_EQ(d.destroys, 1);
  EXPECT_EQ(d.GetItemText(31), "");
  EXPECT_FALSE(d.SetTimer(1, 100));
}

void InputReachesTheControlsAndTheDialog(BackendFixture& f) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  f.Show(d);
  // A radio button is checked alone in its group, a check box toggles, each then commands.
  f.Click(d, 31);
  EXPECT_EQ(d.GetRadioIndex(30), 1);
  f.Click(d, 31);
  EXPECT_EQ(d.GetRadioIndex(30), 1);
  f.Click(d, 20);
  EXPECT_TRUE(d.IsItemChecked(20));
  d.EnableItem(11, false);
  f.Click(d, 11);  // disabled: nothing
  EXPECT_EQ(d.commands, (std::vector<int>{31, 31, 20}));
  f.Type(d, 50, "3a0");  // digits only
  EXPECT_EQ(d.GetItemText(50).find('a'), std::string::npos) << d.GetItemText(50);
  f.Step(d, 70, -1);
  f.Step(d, 70, 1);
  EXPECT_EQ(d.steps, (std::vector<std::pair<int, int>>{{70, -1}, {70, 1}}));

  // Enter: the focused push button's command, else the default button's; a disabled default
  // does nothing.
  d.commands.clear();
  d.EnableItem(11, true);
  f.Enter(d, 51);
  f.Enter(d, 11);
  d.EnableItem(10, false);
  f.Enter(d, 51);
  EXPECT_EQ(d.commands, (std::vector<int>{10, 11}));

  // A double click clear of every control reaches the dialog in client coordinates.
  ui::Rect client = d.GetClientRect();
  f.DoubleClick(d, 3, client.bottom - 3);
  ASSERT_TRUE(f.RunUntil([&] { return !d.double_clicks.empty(); }));
  EXPECT_EQ(d.double_clicks[0], (std::pair<int, int>{3, client.bottom - 3}));

  // The window halves keeping its place.
  ui::Rect half = d.GetWindowRect();
  half.right -= half.Width() / 2;
  ASSERT_TRUE(d.MoveWindow(half));
  EXPECT_TRUE(f.RunUntil([&] { return d.GetWindowRect() == half; }));
  EXPECT_LT(d.GetClientRect().Width(), client.Width());
  // Escape and the close box only hide a modeless dialog; it and its timers live on.
  ASSERT_TRUE(d.SetTimer(1, 20));
  f.Escape(d);
  EXPECT_EQ(d.cancels, 1);
  EXPECT_FALSE(d.IsVisible());
  f.Show(d);
  f.CloseBox(d);
  EXPECT_EQ(d.cancels, 2);
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(f.RunUntil([&] { return !d.timers.empty(); }));
}

void TimersPostsAndSendsArriveOnTheLoopThread(BackendFixture& f) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.SetTimer(1, 30));
  ASSERT_TRUE(f.RunUntil([&] { return d.timers.size() >= 2; }));
  EXPECT_EQ(d.timers, (std::vector<int>{1, 1}));
  EXPECT_TRUE(d.KillTimer(1));
  EXPECT_FALSE(d.KillTimer(1));
  // Setting a running timer again restarts it with the new period; a killed one stays quiet.
  d.timers.clear();
  ASSERT_TRUE(d.SetTimer(2, 20));
  ASSERT_TRUE(d.SetTimer(2, 60000));
  ASSERT_TRUE(d.SetTimer(3, 100));
  ASSERT_TRUE(f.RunUntil([&] { return !d.timers.empty(); }));
  EXPECT_EQ(d.timers, std::vector<int>{3});
  d.KillTimer(2);
  d.KillTimer(3);

  // Another thread, started from the running loop, posts and sends; all arrive on the loop
  // thread, the send with its result.
  const std::thread::id loop = std::this_thread::get_id();
  std::atomic<intptr_t> sent{0};
  std::thread other;
  d.on_timer = [&](int id) {
    if (id != 8 || !d.KillTimer(8)) return;
    other = std::thread([&] {
      EXPECT_TRUE(d.PostMessage(2031, 0, 5));
      EXPECT_TRUE(d.PostMessage(2031, 0, 6));
      EXPECT_TRUE(d.PostDeviceChange(ui::kDeviceArrival));
      EXPECT_TRUE(d.PostPowerBroadcast(ui::kPowerSuspend));
      sent = d.SendMessage(2030, 4, 0);
    });
  };
  ASSERT_TRUE(d.SetTimer(8, 10));
  EXPECT_TRUE(f.RunUntil([&] { return sent != 0 && d.messages.size() == 3 && !d.powers.empty(); }));
  if (other.joinable()) other.join();
  EXPECT_EQ(sent, 2034);
  ASSERT_EQ(d.messages.size(), 3u);
  EXPECT_TRUE(Has(d.messages, 0));
  EXPECT_LT(std::find(d.messages.begin(), d.messages.end(), 5),
            std::find(d.messages.begin(), d.messages.end(), 6));  // posts keep their order
  EXPECT_EQ(d.devices, std::vector<int>{ui::kDeviceArrival});
  EXPECT_EQ(d.powers, std::vector<int>{ui::kPowerSuspend});
  for (std::thread::id t : d.message_threads) EXPECT_EQ(t, loop);
  EXPECT_EQ(d.SendMessage(2030, 1, 0), 2031);  // on the loop thread: at once
  EXPECT_FALSE(d.PostMessage(15, 0, 0));       // below the private range

  // A window that is gone drops what was queued for it and takes nothing more.
  TestDialog marker;
  ASSERT_TRUE(marker.Create());
  marker.on_timer = [&](int) {
    if (marker.timers.size() != 1) return;
    EXPECT_TRUE(d.PostMessage(2031, 0, 7));
    d.DestroyWindow();
  };
  ASSERT_TRUE(marker.SetTimer(1, 20));
  EXPECT_TRUE(f.RunUntil([&] { return marker.timers.size() >= 3; }));
  EXPECT_FALSE(d.IsCreated());
  EXPECT_FALSE(Has(d.messages, 7));
  intptr_t late = 0;
  bool posted = true;
  std::thread([&] {
    late = d.SendMessage(2030, 1, 0);
    posted = d.PostMessage(2031, 0, 1);
  }).join();
  EXPECT_EQ(late, -1);
  EXPECT_FALSE(posted);
}

void MessageBoxesCarryCaptionTextAndAnswer(BackendFixture& f) {
  f.AnswerNextBox("提示", MessageBoxResult::kYes);
  EXPECT_EQ(ui::ShowMessageBox("继续吗?", MessageBoxButtons::kYesNo), MessageBoxResult::kYes);
  EXPECT_EQ(f.box_caption, "提示");
  EXPECT_EQ(f.box_text, "继续吗?");
  f.AnswerNextBox("提示", MessageBoxResult::kNo);
  EXPECT_EQ(ui::ShowMessageBox("退出吗?", MessageBoxButtons::kYesNo), MessageBoxResult::kNo);

  // A window's OK box: the application's name as caption unless one is given; text as it is.
  TestDialog d;
  ASSERT_TRUE(d.Create());
  f.AnswerNextBox(ui::ApplicationName(), MessageBoxResult::kOk);
  EXPECT_EQ(d.MessageBox("<i>设置心跳间隔成功</i>"), MessageBoxResult::kOk);
  EXPECT_EQ(f.box_caption, ui::ApplicationName());
  EXPECT_EQ(f.box_text, "<i>设置心跳间隔成功</i>");
  f.AnswerNextBox("自定义", MessageBoxResult::kOk);
  EXPECT_EQ(d.MessageBox("失败", MessageBoxButtons::kOk, "自定义"), MessageBoxResult::kOk);
  EXPECT_EQ(f.box_caption, "自定义");
}

void DataExchangeOutOfRangeTellsTheUserAndFocusesTheField(BackendFixture& f) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  f.Show(d);
  f.Type(d, 50, "30");
  f.AnswerNextBox(ui::ApplicationName(), MessageBoxResult::kOk);
  EXPECT_FALSE(d.UpdateData(true));
  EXPECT_EQ(f.box_text, ui::RangeMessage(60, 600));
  EXPECT_EQ(d.GetFocusItem(), 50);
  EXPECT_EQ(d.usb, 600);  // the field keeps its value
  f.Type(d, 50, "120");
  EXPECT_TRUE(d.UpdateData(true));
  EXPECT_EQ(d.usb, 120);
}

void ModalRunHoldsTheOtherWindowsAndEndsWithItsCode(BackendFixture& f) {
  TestDialog main_window;
  ASSERT_TRUE(main_window.Create());
  f.Show(main_window);
  TestDialog modal;
  modal.arm_timer = 4;
  modal.on_timer = [&](int) {
    modal.KillTimer(4);
    f.Click(main_window, 11);  // the modal run keeps it from arriving
    modal.EndDialog(42);
  };
  EXPECT_EQ(modal.DoModal(), 42);
  EXPECT_TRUE(main_window.commands.empty());
  EXPECT_FALSE(modal.IsCreated());
  EXPECT_EQ(modal.destroys, 1);
  f.Click(main_window, 11);  // reachable again
  EXPECT_EQ(main_window.commands, std::vector<int>{11});

  TestDialog escaping;
  escaping.arm_timer = 4;
  escaping.on_timer = [&](int) {
    escaping.KillTimer(4);
    f.Escape(escaping);
  };
  EXPECT_EQ(escaping.DoModal(), ui::kIdCancel);

  // Enter without a default button is OK: the fields are saved and the run ends.
  ui::DialogTemplate t = TestTemplate();
  t.controls[0].style = ui::kStyleNone;
  TestDialog entering(t);
  entering.arm_timer = 4;
  entering.on_timer = [&](int) {
    entering.KillTimer(4);
    f.Type(entering, 50, "90");
    f.Enter(entering, 51);
  };
  EXPECT_EQ(entering.DoModal(), ui::kIdOk);
  EXPECT_EQ(entering.usb, 90);
  EXPECT_TRUE(entering.commands.empty());
}

void TrayIconAndItsPopupMenu(BackendFixture& f) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  TestDialog unbuilt;
  ui::TrayIcon icon;
  EXPECT_FALSE(icon.Add(unbuilt, 140, 131, "x"));  // no window, no icon
  EXPECT_FALSE(icon.Modify(131, "x"));
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  EXPECT_TRUE(icon.IsAdded());
  EXPECT_TRUE(icon.Modify(134, "读卡服务(USB模式)"));
  d.ShowWindow(true);
  d.SetForeground();
  f.PickInNextMenu(1, 2026);
  EXPECT_EQ(icon.TrackPopupMenu({{2028, "设置"}, {2026, "启动"}, {2027, "停止"}}), 2026);
  EXPECT_TRUE(icon.Remove());
  EXPECT_FALSE(icon.IsAdded());
  EXPECT_FALSE(icon.Modify(131, "读卡服务"));  // removed: nothing to change
}

}  // namespace ui_test
