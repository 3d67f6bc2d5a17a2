// The Win32 backend under a real window system (wine + Xvfb here): a dialog built from the
// in-memory template, controls found by id, timers, posts, sends, the tray icon, modal runs.
#include "ui/win32/win32_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "ui/backend.h"
#include "ui/test_dialog.h"
#include "ui/tray_icon.h"
#include "ui/win32/win32_internal.h"

namespace {

using ui_test::TestDialog;

HWND WindowOf(const ui::Dialog& d) {
  return static_cast<ui::win32::Win32DialogPeer*>(d.peer())->hwnd();
}

class Win32Test : public testing::Test {
 protected:
  void SetUp() override {
    backend_ = ui::win32::CreateWin32Backend();
    ASSERT_NE(backend_, nullptr);
    ui::SetBackend(backend_.get());
  }
  void TearDown() override { ui::SetBackend(nullptr); }

  // Serves messages until done() or the time bound (generous: wine can be slow to start).
  template <typename Done>
  bool PumpUntil(Done done, int bound_ms = 10000) {
    DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > static_cast<DWORD>(bound_ms)) return false;
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }

  std::unique_ptr<ui::Backend> backend_;
};

TEST_F(Win32Test, DialogFromTemplateHasItsControlsByIdWithTheirTexts) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  HWND hwnd = WindowOf(d);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(d.inits, 1);
  EXPECT_FALSE(d.IsVisible());  // no visible style in the template

  wchar_t cls[64] = {};
  GetClassNameW(GetDlgItem(hwnd, 70), cls, 64);
  EXPECT_STREQ(cls, L"msctls_updown32");
  GetClassNameW(GetDlgItem(hwnd, 60), cls, 64);
  EXPECT_STREQ(cls, L"ComboBox");
  EXPECT_EQ(d.GetItemText(10), "启动");
  EXPECT_EQ(d.GetItemText(31), "仅USB");
  EXPECT_EQ(d.GetItemText(50), "600");  // loaded by the data exchange at initialisation
  wchar_t title[64] = {};
  GetWindowTextW(hwnd, title, 64);
  EXPECT_STREQ(title, L"测试窗口");
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, 50), GWL_STYLE) & ES_NUMBER);
  EXPECT_EQ(GetWindowLongW(GetDlgItem(hwnd, 10), GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, 40), GWL_STYLE) & WS_GROUP);
  EXPECT_FALSE(GetWindowLongW(GetDlgItem(hwnd, 41), GWL_STYLE) & WS_GROUP);
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, 50), GWL_STYLE) & WS_GROUP);  // ends the radios

  // Item operations reach the real controls.
  EXPECT_TRUE(d.SetItemText(90, "已连接"));
  EXPECT_EQ(d.GetItemText(90), "已连接");
  EXPECT_TRUE(d.EnableItem(11, false));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, 11)));
  EXPECT_TRUE(d.SetRadioIndex(30, 2));
  EXPECT_EQ(IsDlgButtonChecked(hwnd, 32), BST_CHECKED);
  EXPECT_EQ(d.GetRadioIndex(30), 2);
  EXPECT_EQ(d.ComboAddString(60, "自动"), 0);
  EXPECT_EQ(d.ComboAddString(60, "COM5"), 1);
  EXPECT_TRUE(d.ComboSetCurSel(60, 1));
  EXPECT_EQ(d.ComboGetCurSel(60), 1);
  EXPECT_EQ(d.GetItemText(60), "COM5");
  EXPECT_EQ(d.ComboGetString(60, 0), "自动");
  EXPECT_TRUE(d.SetUpDownBuddy(70, 50));
  EXPECT_EQ(d.GetUpDownBuddy(70), 50);
  EXPECT_TRUE(d.SetProgressPos(80, 40));
  EXPECT_EQ(d.GetProgressPos(80), 40);

  // A click on a radio button checks it alone in its group and arrives as a command.
  ASSERT_TRUE(d.ShowWindow(true));
  EXPECT_TRUE(d.IsVisible());
  SendMessageW(GetDlgItem(hwnd, 31), BM_CLICK, 0, 0);
  EXPECT_EQ(d.GetRadioIndex(30), 1);
  EXPECT_EQ(d.commands, std::vector<int>{31});

  // Halving the width keeps position and height.
  ui::Rect w = d.GetWindowRect();
  EXPECT_GT(w.Width(), 0);
  ui::Rect half = w;
  half.right = w.left + w.Width() / 2;
  ASSERT_TRUE(d.MoveWindow(half));
  EXPECT_EQ(d.GetWindowRect(), half);
  EXPECT_GT(d.GetClientRect().Width(), 0);

  // The close box only hides a modeless dialog.
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(d.IsCreated());
  EXPECT_EQ(d.cancels, 1);

  EXPECT_TRUE(d.RegisterPortNotifications());
  EXPECT_TRUE(d.SetCaption("读卡器设置"));
  EXPECT_EQ(FindWindowW(nullptr, L"读卡器设置"), hwnd);
  EXPECT_FALSE(d.SetIcon(4321));  // no such icon resource in this program

  d.DestroyWindow();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(d.destroys, 1);
}

TEST_F(Win32Test, TimersPostsAndSendsArriveOnTheLoopThread) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  DWORD loop = GetCurrentThreadId();
  std::atomic<intptr_t> sent{0};
  std::thread other;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case the loop never ends
    if (id == 1 && d.timers.size() == 2) {
      d.KillTimer(1);
      other = std::thread([&] {
        d.PostMessage(2031, 0, 5);
        d.PostDeviceChange(ui::kDeviceArrival);
        sent = d.SendMessage(2030, 4, 0);  // answered only by the loop
        ui::PostQuit(7);
      });
    }
  };
  ASSERT_TRUE(d.SetTimer(1, 30));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  int code = ui::RunMessageLoop();
  if (other.joinable()) other.join();
  EXPECT_EQ(code, 7);
  EXPECT_EQ(d.timers.size(), 2u);
  // A sent message overtakes posted ones (the system serves sends first), so only membership.
  ASSERT_EQ(d.messages.size(), 2u);
  EXPECT_NE(std::find(d.messages.begin(), d.messages.end(), 5), d.messages.end());
  EXPECT_NE(std::find(d.messages.begin(), d.messages.end(), 0), d.messages.end());
  EXPECT_EQ(sent, 2034);
  EXPECT_EQ(d.devices, std::vector<int>{ui::kDeviceArrival});
  EXPECT_EQ(GetCurrentThreadId(), loop);

  // Another process finds the window by its title and sends a private message with a result.
  HWND found = FindWindowW(nullptr, L"测试窗口");
  EXPECT_EQ(found, WindowOf(d));
  EXPECT_EQ(SendMessageW(found, 2030, 3, 0), 2033);

  // Up-down steps reach the handler with their delta, and its answer goes back.
  NMUPDOWN ud{};
  ud.hdr.hwndFrom = GetDlgItem(found, 70);
  ud.hdr.idFrom = 70;
  ud.hdr.code = UDN_DELTAPOS;
  ud.iDelta = -1;
  EXPECT_EQ(SendMessageW(found, WM_NOTIFY, 70, reinterpret_cast<LPARAM>(&ud)), 0);
  EXPECT_EQ(d.steps, (std::vector<std::pair<int, int>>{{70, -1}}));
  EXPECT_EQ(SendMessageW(found, WM_POWERBROADCAST, ui::kPowerSuspend, 0), 1);
  EXPECT_EQ(d.powers, std::vector<int>{ui::kPowerSuspend});
}

TEST_F(Win32Test, TrayIconIsAddedModifiedAndRemoved) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ui::TrayIcon icon;
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  EXPECT_TRUE(icon.IsAdded());
  // The shell holds it: a modification of the same identity succeeds.
  EXPECT_TRUE(icon.Modify(134, "读卡服务(USB模式)"));
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = WindowOf(d);
  nid.uID = 131;
  nid.uFlags = NIF_TIP;
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  // Its mouse messages reach the owner.
  SendMessageW(WindowOf(d), ui::kTrayCallbackMessage, 131, WM_RBUTTONUP);
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseRightUp}}));
  EXPECT_TRUE(icon.Remove());
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid));
}

TEST_F(Win32Test, TrayIconComesBackAfterTheTaskbarRestartsAndRetriesAFailedAdd) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = WindowOf(d);
  nid.uID = 131;
  nid.uFlags = NIF_TIP;
  ui::TrayIcon icon;
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  // Explorer restarted: the shell forgot the icon, then announces the new taskbar.
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  SendMessageW(WindowOf(d), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  EXPECT_TRUE(icon.Remove());

  // An add the shell refuses (here: the identity is taken, as a stand-in for a taskbar that is
  // not ready at logon) is retried until it succeeds.
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
  // The retry runs on the window's timer.
  ASSERT_TRUE(icon.Modify(133, "读卡服务(Cat1模式)"));
  bool back = PumpUntil([&] { return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE; });
  EXPECT_TRUE(back);
  EXPECT_TRUE(icon.Remove());
}

// The menu is driven by keys sent to the menu window from a timer while it is open.
HWND g_menu_owner = nullptr;
int g_menu_keys = 0;
void CALLBACK PressMenuKeys(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND menu = FindWindowW(L"#32768", nullptr);
  if (!menu) return;
  KillTimer(nullptr, timer);
  ++g_menu_keys;
  PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

TEST_F(Win32Test, PopupMenuReturnsTheChosenCommand) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ui::TrayIcon icon;
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  d.ShowWindow(true);
  d.SetForeground();
  g_menu_owner = WindowOf(d);
  SetTimer(nullptr, 0, 100, &PressMenuKeys);
  int chosen = icon.TrackPopupMenu({{2028, "设置"}, {2026, "启动"}, {2027, "停止"}});
  EXPECT_EQ(g_menu_keys, 1);
  EXPECT_EQ(chosen, 2026);
}

TEST_F(Win32Test, EscapeThroughTheLoopHidesAModelessDialog) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.ShowWindow(true));
  // The loop ends once the key has been handled, or at a bound in case it never is.
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);
    if (id == 2 && d.cancels > 0) ui::PostQuit(0);
  };
  ASSERT_TRUE(d.SetTimer(2, 20));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  PostMessageW(GetDlgItem(WindowOf(d), 11), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(ui::RunMessageLoop(), 0);
  EXPECT_EQ(d.cancels, 1);
  EXPECT_FALSE(d.IsVisible());
  EXPECT_TRUE(d.IsCreated());
}

TEST_F(Win32Test, ModalRunEndsWithTheCodeGivenToEndDialog) {
  struct Arming : TestDialog {
    bool OnInitDialog() override {
      SetTimer(4, 50);
      return TestDialog::OnInitDialog();
    }
  } modal;
  TestDialog main_window;
  ASSERT_TRUE(main_window.Create());
  bool main_was_enabled = true;
  modal.on_timer = [&](int id) {
    main_was_enabled = IsWindowEnabled(WindowOf(main_window)) != FALSE;
    if (id == 4) modal.EndDialog(42);
  };
  EXPECT_EQ(modal.DoModal(), 42);
  EXPECT_FALSE(main_was_enabled);  // the rest of the program waits for the modal run
  EXPECT_TRUE(IsWindowEnabled(WindowOf(main_window)));
  EXPECT_FALSE(modal.IsCreated());
  EXPECT_EQ(modal.destroys, 1);
}

// A box is answered by a helper thread that finds it by its caption and presses Yes.
TEST_F(Win32Test, QuestionBoxCarriesItsCaptionAndReturnsTheAnswer) {
  std::atomic<bool> stop{false};
  // It looks until the box returns: a box that shows late is still answered, never left open.
  std::thread presser([&] {
    while (!stop) {
      HWND box = FindWindowW(nullptr, L"提示");
      if (box) {
        PostMessageW(box, WM_COMMAND, IDYES, 0);
        return;
      }
      Sleep(10);
    }
  });
  ui::MessageBoxResult r = ui::ShowMessageBox("继续吗?", ui::MessageBoxButtons::kYesNo);
  stop = true;
  presser.join();
  EXPECT_EQ(r, ui::MessageBoxResult::kYes);
}

// A mouse input that carries its own place, absolute on the virtual screen. Under wine a
// relative (unplaced) click lands wherever the wine server last put the pointer, and a crossing
// event from the X server, handled late by another process (the virtual desktop's), can move that
// back to where the X pointer was before the window showed.
INPUT MouseInputAt(POINT screen, DWORD buttons) {
  const LONGLONG left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const LONGLONG top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const LONGLONG width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const LONGLONG height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  // 0..65535 across the screen, aimed a quarter into the pixel: rounding either way lands on it.
  in.mi.dx = static_cast<LONG>(((screen.x - left) * 4 + 1) * 65536 / (width * 4));
  in.mi.dy = static_cast<LONG>(((screen.y - top) * 4 + 1) * 65536 / (height * 4));
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | buttons;
  return in;
}

// A real double click (input through the system, not a sent message) in the dialog's own client
// area arrives as OnLeftDoubleClick in client coordinates: the dialog class takes double clicks.
TEST_F(Win32Test, DoubleClickInTheClientAreaReachesTheDialog) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  HWND hwnd = WindowOf(d);
  RECT placed{};
  ASSERT_TRUE(GetWindowRect(hwnd, &placed));
  ASSERT_TRUE(d.ShowWindow(true));
  d.SetForeground();
  // Input goes to the window once it is shown where it was made and is in front.
  RECT now{};
  const bool ready = PumpUntil([&] {
    return IsWindowVisible(hwnd) && GetForegroundWindow() == hwnd && GetWindowRect(hwnd, &now) &&
           EqualRect(&now, &placed);
  });
  ASSERT_TRUE(ready) << "window at " << now.left << "," << now.top << ", in front "
                     << (GetForegroundWindow() == hwnd);
  ui::Rect client = d.GetClientRect();
  const POINT corner{3, client.bottom - 3};  // the bottom-left corner, clear of every control
  POINT target = corner;
  ASSERT_TRUE(ClientToScreen(hwnd, &target));
  // The pointer left elsewhere, as another test or a late event from the X server leaves it:
  // the clicks land where they say all the same.
  ASSERT_TRUE(SetCursorPos(target.x + 200, target.y - 150));
  INPUT clicks[4] = {
      MouseInputAt(target, MOUSEEVENTF_LEFTDOWN), MouseInputAt(target, MOUSEEVENTF_LEFTUP),
      MouseInputAt(target, MOUSEEVENTF_LEFTDOWN), MouseInputAt(target, MOUSEEVENTF_LEFTUP)};
  ASSERT_EQ(SendInput(4, clicks, sizeof(INPUT)), 4u);
  ASSERT_TRUE(PumpUntil([&] { return !d.double_clicks.empty(); }));
  EXPECT_EQ(d.double_clicks, (std::vector<std::pair<int, int>>{{corner.x, corner.y}}));
}

// A quit request (SIGTERM's path) while a message box is open closes the box and ends the loop.
TEST_F(Win32Test, QuitWhileAMessageBoxIsOpenEndsTheLoop) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::thread quitter;
  std::atomic<bool> stop{false};
  ui::MessageBoxResult answer = ui::MessageBoxResult::kYes;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case the box never shows or the request is lost
    if (id != 1) return;
    d.KillTimer(1);
    // The request goes only once the box is open, however long it takes to show.
    quitter = std::thread([&] {
      while (!stop && !FindWindowW(nullptr, L"提示")) Sleep(10);
      if (!stop) ui::PostQuit(5);
    });
    answer = d.MessageBox("是否退出?", ui::MessageBoxButtons::kYesNo);
  };
  ASSERT_TRUE(d.SetTimer(1, 20));
  ASSERT_TRUE(d.SetTimer(9, 15000));
  int code = ui::RunMessageLoop();
  stop = true;
  if (quitter.joinable()) quitter.join();
  EXPECT_EQ(code, 5);
  EXPECT_EQ(answer, ui::MessageBoxResult::kNo);  // a box closed without an answer says No
}

}  // namespace

namespace {

// A window that, like the main window during a flash, asks that the session does not end.
class SessionHoldingDialog : public TestDialog {
 public:
  bool hold = true;
  int ends = 0;

 protected:
  bool OnQueryEndSession() override { return !hold; }
  void OnEndSession() override { ++ends; }
};

}  // namespace

// Windows asks every top-level window before the session ends: the window's answer goes back,
// so one that says no holds the log-out or shut-down; the end itself reaches the window.
TEST_F(Win32Test, SessionEndIsAnsweredByTheWindowAndItsEndReachesIt) {
  SessionHoldingDialog d;
  ASSERT_TRUE(d.Create());
  HWND hwnd = WindowOf(d);
  EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
  d.hold = false;
  EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  SendMessageW(hwnd, WM_ENDSESSION, FALSE, 0);  // cancelled by someone: nothing to do
  EXPECT_EQ(d.ends, 0);
  SendMessageW(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(d.ends, 1);
  TestDialog plain;  // a window that does not care lets the session end
  ASSERT_TRUE(plain.Create());
  EXPECT_EQ(SendMessageW(WindowOf(plain), WM_QUERYENDSESSION, 0, 0), TRUE);
}
