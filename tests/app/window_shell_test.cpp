// The window around the service: settings at start-up, check boxes, tray icon and menu,
// expand and collapse, hiding, exit and the About box.
#include "app/about_dialog.h"
#include "ovra7_version.h"
#include "platform/port_names.h"
#include "window_fixture.h"

namespace apptest {
namespace {

TEST_F(WindowTest, NoSettingsFileGivesTheDefaultsAndSendsNothingToTheReader) {
  auto& reader = AddReader(3);
  MakeWindow(false);
  EXPECT_EQ(0, LogEnabled.load());
  EXPECT_EQ(0, window_->configuredPort());
  EXPECT_EQ(0, window_->savedNetworkMode());
  EXPECT_TRUE(window_->IsItemChecked(ids::kAutoStartService));
  EXPECT_FALSE(window_->IsItemChecked(ids::kLog));
  EXPECT_EQ("600", Text(ids::kUsbInterval));
  EXPECT_EQ("600", Text(ids::kCat1Interval));
  EXPECT_EQ(0u, Count(reader, 0x10));  // the intervals were only handed to the service
  EXPECT_EQ(600, window_->service().GetCat1HeartBeat());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(SettingsFile())));
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::u8path(SettingsFolder())));
}

TEST_F(WindowTest, SettingsAreReadWithoutCaseAndBadValuesDoNotHurt) {
  WriteSettings(
      "[connect]\r\ntype=1\r\n[heartbeat]\r\nUSB=90\r\ncat1=abc\r\n[set]\r\nlog=1\r\n"
      "\x01\x02\xff garbage\r\n[SETTING]\r\nautostart=0\r\n");
  MakeWindow(false);
  EXPECT_EQ(1, window_->savedNetworkMode());
  EXPECT_EQ(1, window_->GetRadioIndex(ids::kModeAuto));
  EXPECT_EQ("90", Text(ids::kUsbInterval));
  EXPECT_EQ("0", Text(ids::kCat1Interval));  // no digits: 0, checked only before sending
  EXPECT_EQ(1, LogEnabled.load());
  EXPECT_TRUE(window_->IsItemChecked(ids::kLog));
  EXPECT_FALSE(window_->serviceRequested());
}

TEST_F(WindowTest, CheckBoxesWriteTheirKeysAtTheClick) {
  MakeWindow(false);
  Show(true);
  ASSERT_TRUE(host_.Click(*window_, ids::kAutoStartService));  // no key yet: default 1 negated
  EXPECT_EQ(0, Setting("SETTING", "AutoStart"));
  EXPECT_FALSE(window_->IsItemChecked(ids::kAutoStartService));
  ASSERT_TRUE(host_.Click(*window_, ids::kAutoStartService));
  EXPECT_EQ(1, Setting("SETTING", "AutoStart"));
  ASSERT_TRUE(host_.Click(*window_, ids::kLog));
  EXPECT_EQ(1, LogEnabled.load());
  EXPECT_EQ(1, Setting("Set", "Log"));
  ASSERT_TRUE(host_.Click(*window_, ids::kLog));
  EXPECT_EQ(0, LogEnabled.load());
  EXPECT_EQ(0, Setting("Set", "Log"));
}

TEST_F(WindowTest, TrayIconShowsTheWindowAndItsMenuFollowsTheRequestedState) {
  AddReader(3);
  MakeWindow();
  const ui::headless::TrayIconState* icon = host_.FindTrayIcon(app::kIconApp);
  ASSERT_NE(nullptr, icon);
  EXPECT_FALSE(window_->IsVisible());  // a first start shows only the icon
  EXPECT_TRUE(host_.SendTrayMouse(app::kIconApp, ui::kMouseLeftDown));
  EXPECT_TRUE(window_->IsVisible());
  EXPECT_FALSE(window_->expanded());

  host_.ScriptMenuChoice(app::ids::kTrayStop);
  host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp);
  ASSERT_EQ(1u, host_.menus().size());
  const auto& items = host_.menus()[0].items;
  ASSERT_EQ(4u, items.size());
  EXPECT_EQ("设置", items[0].text);
  EXPECT_EQ(2028, items[0].command);
  EXPECT_EQ("启动", items[1].text);
  EXPECT_FALSE(items[1].enabled);
  EXPECT_EQ("停止", items[2].text);
  EXPECT_TRUE(items[2].enabled);
  EXPECT_EQ("退出", items[3].text);
  EXPECT_FALSE(window_->serviceRequested());  // the chosen 停止 ran

  host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp);  // dismissed
  ASSERT_EQ(2u, host_.menus().size());
  EXPECT_TRUE(host_.menus()[1].items[1].enabled);
  EXPECT_FALSE(host_.menus()[1].items[2].enabled);

  // The close box only hides; the service, timers and icon carry on.
  host_.ScriptMenuChoice(app::ids::kTrayStart);
  host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp);
  ASSERT_TRUE(window_->service().IsRunning());
  ASSERT_TRUE(host_.PressClose(*window_));
  EXPECT_FALSE(window_->IsVisible());
  EXPECT_TRUE(window_->service().IsRunning());
  EXPECT_NE(nullptr, host_.FindTrayIcon(app::kIconApp));
  host_.ScriptMenuChoice(app::ids::kTraySettings);
  host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp);
  EXPECT_TRUE(window_->IsVisible());
  ASSERT_TRUE(host_.PressEscape(*window_));
  EXPECT_FALSE(window_->IsVisible());
  window_->OnServiceControl(1, 0);
}

// StatusNotifier hosts show the menu the icon carries, read before any right click reaches the
// window: it must follow every change of the requested state by itself.
TEST_F(WindowTest, TrayMenuTheIconCarriesFollowsEveryChangeOfTheRequestedState) {
  AddReader(3);
  MakeWindow();
  auto carried = [&] {
    std::vector<std::pair<std::string, bool>> menu;
    if (const ui::headless::TrayIconState* icon = host_.FindTrayIcon(app::kIconApp)) {
      for (const ui::MenuItem& item : icon->menu) menu.emplace_back(item.text, item.enabled);
    }
    return menu;
  };
  using Menu = std::vector<std::pair<std::string, bool>>;
  const Menu running = {{"设置", true}, {"启动", false}, {"停止", true}, {"退出", true}};
  const Menu stopped = {{"设置", true}, {"启动", true}, {"停止", false}, {"退出", true}};
  EXPECT_EQ(running, carried());
  EXPECT_TRUE(host_.menus().empty());  // no popup was needed for it
  ASSERT_TRUE(window_->ShowWindow(true));
  ASSERT_TRUE(host_.Click(*window_, app::ids::kStop));
  EXPECT_EQ(stopped, carried());
  ASSERT_TRUE(host_.Click(*window_, app::ids::kStart));
  EXPECT_EQ(running, carried());
  window_->OnServiceControl(1, 0);  // a stop from another process
  EXPECT_EQ(stopped, carried());
}

TEST_F(WindowTest, DoubleClickInTheCornerSquareExpandsAndCollapseHalves) {
  MakeWindow();
  Show();
  ui::Rect collapsed = window_->GetWindowRect();
  ui::Rect client = window_->GetClientRect();
  EXPECT_FALSE(host_.Click(*window_, ids::kQueryHeartBeat));  // the right half is out of reach
  ASSERT_TRUE(host_.DoubleClick(*window_, 10, client.bottom - 1));  // just outside the square
  EXPECT_FALSE(window_->expanded());
  ASSERT_TRUE(host_.DoubleClick(*window_, 9, client.bottom - 10));
  EXPECT_TRUE(window_->expanded());
  ui::Rect expanded = window_->GetWindowRect();
  EXPECT_EQ(collapsed.Width() * 2, expanded.Width());
  EXPECT_EQ(collapsed.left, expanded.left);
  EXPECT_EQ(collapsed.Height(), expanded.Height());
  client = window_->GetClientRect();
  ASSERT_TRUE(host_.DoubleClick(*window_, 0, client.bottom - 1));  // already expanded
  EXPECT_EQ(expanded, window_->GetWindowRect());
  ASSERT_TRUE(host_.Click(*window_, ids::kCollapse));
  EXPECT_FALSE(window_->expanded());
  EXPECT_EQ(collapsed, window_->GetWindowRect());
}

// Only a mobile link is worth keeping after the exit, and only a person can say so: a signal,
// the installer or the session's end exits as after a No. Every exit tells the reader, except
// the Yes; every exit ends the window and its icon.
TEST_F(WindowTest, ExitAsksOnlyAboutAMobileLinkAndOnlyYesKeepsTheReaderLinked) {
  struct Case {
    const char* name;
    int link;          // the reader's connection type: 2 mobile data
    bool fromTray;     // the tray menu's 退出, else WM_EXIT_REQUEST with `how`
    intptr_t how;
    ui::MessageBoxResult answer;
    bool asked;
    size_t disconnects;  // DisconnectPlatform frames the reader got
  };
  const Case cases[] = {
      {"tray, mobile link, Yes", 2, true, 0, ui::MessageBoxResult::kYes, true, 0},
      {"mobile link, No", 2, false, 0, ui::MessageBoxResult::kNo, true, 1},
      {"other link", 1, false, 0, ui::MessageBoxResult::kYes, false, 1},
      {"without question", 2, false, app::kExitWithoutQuestion, ui::MessageBoxResult::kYes, false,
       1},
  };
  int port = 3;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_.reset();
    readers_.clear();
    listed_.clear();
    testsupport::ReaderConfig config = ReachableConfig();
    config.connectionType = c.link;
    auto& reader = AddReader(port++, config);
    MakeWindow();
    ASSERT_TRUE(window_->service().IsRunning());
    host_.ClearMessageBoxes();
    host_.ScriptMessageBoxAnswer(c.answer);
    if (c.fromTray) {
      host_.ScriptMenuChoice(app::ids::kTrayExit);
      host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp);
    } else {
      window_->SendMessage(app::WM_EXIT_REQUEST, c.how, 0);
    }
    ASSERT_EQ(host_.message_boxes().size(), c.asked ? 1u : 0u);
    if (c.asked) {
      const auto& box = host_.message_boxes()[0];
      EXPECT_EQ("当前使用移动数据连接，是否在退出后保持读卡功能?", box.text);
      EXPECT_EQ("提示", box.caption);
      EXPECT_EQ(ui::MessageBoxButtons::kYesNo, box.buttons);
    }
    EXPECT_FALSE(window_->service().IsRunning());
    EXPECT_EQ(c.disconnects, Count(reader, 0x05));
    host_.DispatchPosted();  // the destroy the exit posted to the window
    EXPECT_FALSE(window_->IsCreated());
    EXPECT_EQ(nullptr, host_.FindTrayIcon(app::kIconApp));
  }
}

TEST_F(WindowTest, AboutBoxShowsTheProductVersion) {
  std::string version;
  host_.SetModalDriver([&](ui::Dialog& dialog) {
    version = dialog.GetItemText(app::ids::kAboutVersion);
    dialog.EndDialog(ui::kIdOk);
  });
  MakeWindow();
  Show();
  ASSERT_TRUE(host_.Click(*window_, ids::kAbout));
  // Test executables carry no version resource on Windows; the build's version on Linux.
  if (platform::NativePortNameStyle() == platform::PortNameStyle::kLinux) {
    EXPECT_EQ(OVRA7_VERSION_TEXT, version);
  } else {
    EXPECT_EQ("", version);
  }
}

}  // namespace
}  // namespace apptest
