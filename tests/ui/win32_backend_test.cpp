// The Win32 backend under a real window system (wine + Xvfb here): the shared dialog cases, then
// what only Windows has: the controls' classes and styles, other processes' messages, the shell's
// tray, the session's end.
#include "ui/win32/win32_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/utf.h"
#include "ui/backend.h"
#include "ui/dialog_contract.h"
#include "ui/test_dialog.h"
#include "ui/tray_icon.h"
#include "ui/win32/win32_internal.h"

namespace {

using ui_test::TestDialog;

HWND WindowOf(const ui::Dialog& d) {
  return static_cast<ui::win32::Win32DialogPeer*>(d.peer())->hwnd();
}
HWND ItemOf(const ui::Dialog& d, int id) { return GetDlgItem(WindowOf(d), id); }

// Serves messages until done() or a generous bound (wine can be slow to start).
bool PumpUntil(const std::function<bool()>& done) {
  for (DWORD start = GetTickCount(); !done();
       MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT)) {
    if (GetTickCount() - start > 10000) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

// A key as the program's loop hands it to the dialog manager.
void DialogKey(const ui::Dialog& d, WPARAM key) {
  MSG m{};
  m.hwnd = GetFocus();
  m.message = WM_KEYDOWN;
  m.wParam = key;
  IsDialogMessageW(WindowOf(d), &m);
}

// A mouse input that carries its own place, absolute on the virtual screen: under wine an
// unplaced click lands where the wine server last put the pointer, which a late crossing event
// from the X server can move back.
INPUT MouseInputAt(POINT screen, DWORD buttons) {
  const LONGLONG left = GetSystemMetrics(SM_XVIRTUALSCREEN),
                 top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const LONGLONG width = GetSystemMetrics(SM_CXVIRTUALSCREEN),
                 height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  // 0..65535 across the screen, aimed a quarter into the pixel: rounding either way lands on it.
  in.mi.dx = static_cast<LONG>(((screen.x - left) * 4 + 1) * 65536 / (width * 4));
  in.mi.dy = static_cast<LONG>(((screen.y - top) * 4 + 1) * 65536 / (height * 4));
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | buttons;
  return in;
}

// The loop's end and the menu's keys come from thread timers, which take no context.
std::function<bool()> g_done;
DWORD g_started = 0;
void CALLBACK CheckDone(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_done) return;
  bool done = g_done();
  if (done || GetTickCount() - g_started > 10000) {
    g_done = nullptr;
    ui::PostQuit(done ? 0 : -1);
  }
}
int g_menu_downs = 0;
void CALLBACK PressMenuKeys(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND menu = FindWindowW(L"#32768", nullptr);
  if (!menu) return;
  KillTimer(nullptr, timer);
  for (int i = 0; i < g_menu_downs; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

class Win32Test : public ui_test::BackendFixture {
 protected:
  void SetUp() override {
    backend_ = ui::win32::CreateWin32Backend();
    ASSERT_NE(backend_, nullptr);
    ui::SetBackend(backend_.get());
  }
  void TearDown() override {
    if (presser_.joinable()) presser_.join();
    ui::SetBackend(nullptr);
  }

 public:
  // Input goes to the window once it is shown where it was made and is in front.
  void Show(ui::Dialog& d) override {
    HWND hwnd = WindowOf(d);
    RECT placed{}, now{};
    GetWindowRect(hwnd, &placed);
    ASSERT_TRUE(d.ShowWindow(true));
    d.SetForeground();
    ASSERT_TRUE(PumpUntil([&] {
      return IsWindowVisible(hwnd) && GetForegroundWindow() == hwnd && GetWindowRect(hwnd, &now) &&
             EqualRect(&now, &placed);
    })) << "window at "
        << now.left << "," << now.top << ", in front " << (GetForegroundWindow() == hwnd);
  }
  // A window the system disabled (another runs modally) takes no clicks.
  void Click(ui::Dialog& d, int id) override {
    if (IsWindowEnabled(WindowOf(d)) && IsWindowEnabled(ItemOf(d, id)))
      SendMessageW(ItemOf(d, id), BM_CLICK, 0, 0);
  }
  void Type(ui::Dialog& d, int id, const std::string& text) override {
    SetWindowTextW(ItemOf(d, id), L"");
    for (char c : text) SendMessageW(ItemOf(d, id), WM_CHAR, static_cast<WPARAM>(c), 0);
  }
  // Focus moved as the dialog manager does (Tab), then Enter.
  void Enter(ui::Dialog& d, int focus_id) override {
    SendMessageW(WindowOf(d), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ItemOf(d, focus_id)), TRUE);
    DialogKey(d, VK_RETURN);
  }
  void Escape(ui::Dialog& d) override { DialogKey(d, VK_ESCAPE); }
  void CloseBox(ui::Dialog& d) override { SendMessageW(WindowOf(d), WM_CLOSE, 0, 0); }
  void Step(ui::Dialog& d, int id, int delta) override {
    NMUPDOWN ud{};
    ud.hdr.hwndFrom = ItemOf(d, id);
    ud.hdr.idFrom = static_cast<UINT_PTR>(id);
    ud.hdr.code = UDN_DELTAPOS;
    ud.iDelta = delta;
    SendMessageW(WindowOf(d), WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&ud));
  }
  // Real input through the system, not a sent message, from a pointer left elsewhere.
  void DoubleClick(ui::Dialog& d, int x, int y) override {
    POINT target{x, y};
    ASSERT_TRUE(ClientToScreen(WindowOf(d), &target));
    ASSERT_TRUE(SetCursorPos(target.x + 200, target.y - 150));
    INPUT clicks[4] = {
        MouseInputAt(target, MOUSEEVENTF_LEFTDOWN), MouseInputAt(target, MOUSEEVENTF_LEFTUP),
        MouseInputAt(target, MOUSEEVENTF_LEFTDOWN), MouseInputAt(target, MOUSEEVENTF_LEFTUP)};
    ASSERT_EQ(SendInput(4, clicks, sizeof(INPUT)), 4u);
  }
  // A helper thread finds the box by its caption (also one that shows late) and presses.
  void AnswerNextBox(const std::string& caption, ui::MessageBoxResult answer) override {
    if (presser_.joinable()) presser_.join();
    presser_ = std::thread([this, caption, answer] {
      for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10)) {
        HWND box = FindWindowW(L"#32770", platform::Widen(caption).c_str());
        if (!box) continue;
        wchar_t text[256] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 256);
        box_caption = caption;
        box_text = platform::Narrow(text);
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        return;
      }
      ui::PostQuit(-1);  // no such box: end the one that is open
    });
  }
  void PickInNextMenu(int index, int) override {
    g_menu_downs = index + 1;
    SetTimer(nullptr, 0, 50, &PressMenuKeys);
  }
  bool RunUntil(const std::function<bool()>& done) override {
    if (done()) return true;
    g_done = done;
    g_started = GetTickCount();
    UINT_PTR timer = SetTimer(nullptr, 0, 5, &CheckDone);
    int code = ui::RunMessageLoop();
    KillTimer(nullptr, timer);
    g_done = nullptr;
    return code == 0 && done();
  }

 private:
  std::unique_ptr<ui::Backend> backend_;
  std::thread presser_;
};

DIALOG_CONTRACT_TESTS(Win32Test)

// Another process finds the window by its title and sends a private message or a power request;
// the answers go back. The shell's tray messages reach the owner.
TEST_F(Win32Test, OtherProcessesAndTheShellReachTheWindow) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  wchar_t cls[64] = {};
  GetClassNameW(ItemOf(d, 70), cls, 64);
  EXPECT_STREQ(cls, L"msctls_updown32");
  EXPECT_FALSE(d.SetIcon(4321));  // no such icon resource in this program
  ASSERT_TRUE(d.SetCaption("读卡器设置"));
  HWND found = FindWindowW(nullptr, L"读卡器设置");
  EXPECT_EQ(found, WindowOf(d));
  EXPECT_EQ(SendMessageW(found, 2030, 3, 0), 2033);
  EXPECT_EQ(SendMessageW(found, WM_POWERBROADCAST, ui::kPowerSuspend, 0), 1);
  SendMessageW(found, ui::kTrayCallbackMessage, 131, WM_RBUTTONUP);
  EXPECT_EQ(d.tray, (std::vector<std::pair<int, int>>{{131, ui::kMouseRightUp}}));
}

// The shell holds the icon (a modification of the same identity succeeds) and gets it back after
// the taskbar restarts; an add it refuses is retried on the window's timer.
TEST_F(Win32Test, TrayIconStaysWithTheShellThroughRestartsAndRefusals) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = WindowOf(d);
  nid.uID = 131;
  nid.uFlags = NIF_TIP;
  ui::TrayIcon icon;
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));  // Explorer restarted and forgot it
  SendMessageW(WindowOf(d), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  EXPECT_TRUE(icon.Remove());
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid));
  // Refused (the identity is taken, standing in for a taskbar not ready at logon): retried.
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
  ASSERT_TRUE(icon.Add(d, 131, 131, "读卡服务"));
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
  ASSERT_TRUE(icon.Modify(133, "读卡服务(Cat1模式)"));
  EXPECT_TRUE(PumpUntil([&] { return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE; }));
  EXPECT_TRUE(icon.Remove());
}

// A quit request (SIGTERM's path) while a message box is open closes the box and ends the loop.
TEST_F(Win32Test, QuitWhileAMessageBoxIsOpenEndsTheLoopAndTheBoxSaysNo) {
  TestDialog d;
  ASSERT_TRUE(d.Create());
  std::thread quitter;
  std::atomic<bool> stop{false};
  ui::MessageBoxResult answer = ui::MessageBoxResult::kYes;
  d.on_timer = [&](int id) {
    if (id == 9) ui::PostQuit(-1);  // a bound in case the box never shows or the request is lost
    if (id != 1) return;
    d.KillTimer(1);
    quitter = std::thread([&] {  // only once the box is open, however long it takes to show
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
  EXPECT_EQ(answer, ui::MessageBoxResult::kNo);
}

// Windows asks every top-level window before the session ends: one that says no holds the
// log-out; the end itself reaches the window.
TEST_F(Win32Test, SessionEndIsAnsweredByTheWindowAndItsEndReachesIt) {
  struct Holding : TestDialog {
    bool hold = true;
    int ends = 0;
    bool OnQueryEndSession() override { return !hold; }
    void OnEndSession() override { ++ends; }
  } d;
  ASSERT_TRUE(d.Create());
  HWND hwnd = WindowOf(d);
  EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
  d.hold = false;
  EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  SendMessageW(hwnd, WM_ENDSESSION, FALSE, 0);  // cancelled by someone: nothing to do
  EXPECT_EQ(d.ends, 0);
  SendMessageW(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(d.ends, 1);
}

}  // namespace
