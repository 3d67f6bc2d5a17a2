// The main window drives the relay service: the start sequence, missing and vanishing readers,
// device and power events, the mode watchdog and WM_SERVICE_CONTROL.
#include "window_fixture.h"

namespace apptest {
namespace {

const std::vector<uint8_t> kStartCodes = {0x01, 0x09, 0x02};  // Cat1 query, platform, mode

TEST_F(WindowTest, StartSequenceQueriesTheReaderSetsTheModeAndArmsTheTimers) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.cat1Model = 0x85;  // a model byte above 0x7f shows sign-extended
  config.platformHost = "127.0.0.1";
  auto& reader = AddReader(3, config);
  MakeWindow();

  EXPECT_TRUE(window_->readerOnline());
  EXPECT_TRUE(window_->serviceRequested());
  EXPECT_EQ(kStartCodes, Codes(reader));
  // Automatic choice and a reachable server: mode 1 (the computer's network).
  ASSERT_EQ(1u, Count(reader, 0x02));
  EXPECT_EQ(1, reader.Frames()[2].payload[1]);
  EXPECT_EQ(app::kIconUsb, window_->trayIcon().icon_id());
  EXPECT_EQ("读卡服务(USB模式)", window_->trayIcon().tip());
  EXPECT_EQ("当前使用的端口：" + platform::PortNameFromNumber(3), Text(ids::kPortLabel));
  EXPECT_EQ("有", Text(ids::kCat1Present));
  EXPECT_EQ("0xffffff85", Text(ids::kCat1Model));
  EXPECT_EQ("127.0.0.1", Text(ids::kServerAddress));
  EXPECT_EQ(std::to_string(server_.port()), Text(ids::kServerPort));
  EXPECT_EQ(server_.port(), window_->service().GetServerPort());
  EXPECT_EQ(1000, host_.TimerPeriod(*window_, app::kStatusTimer));
  EXPECT_EQ(30000, host_.TimerPeriod(*window_, app::kModeWatchdogTimer));
  EXPECT_EQ(10000, host_.TimerPeriod(*window_, app::kPortScanTimer));
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kUpgradeCheckTimer));
  EXPECT_FALSE(Enabled(ids::kStart));
  for (int id : {ids::kStop, ids::kChangePort, ids::kPortBox, ids::kSwitchMode, ids::kModeCat1,
                 ids::kQualityTest, ids::kQueryAuth, ids::kQueryStatus})
    EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_TRUE(host_.AreRegisteredForPorts(*window_));
  EXPECT_EQ(0, window_->ComboGetCurSel(ids::kPortBox));
  EXPECT_EQ(2, window_->ComboGetCount(ids::kPortBox));

  // The status timer fills the six labels.
  host_.AdvanceTime(1000);
  EXPECT_EQ("已打开", Text(ids::kComState));
  EXPECT_EQ("未连接", Text(ids::kServerState));
  EXPECT_NE("0", Text(ids::kComRead));
  // After the stop command the counters read 0 and the window is back in its stopped state.
  window_->StopCommand();
  EXPECT_EQ("0", Text(ids::kComRead));
  EXPECT_EQ("0", Text(ids::kComWrite));
  EXPECT_EQ("当前服务未启动", Text(ids::kPortLabel));
  EXPECT_TRUE(Enabled(ids::kStart));
  EXPECT_FALSE(Enabled(ids::kStop));
  EXPECT_FALSE(Enabled(ids::kSwitchMode));
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  EXPECT_EQ(1u, Count(reader, 0x05));  // the stop told the reader
}

TEST_F(WindowTest, StartPicksCat1WithoutRouteAndHonoursAModuleLessReader) {
  testsupport::ReaderConfig config = UnreachableConfig();
  config.cat1Status = 0;  // no Cat1 module
  auto& reader = AddReader(2, config);
  MakeWindow();
  ASSERT_TRUE(window_->readerOnline());
  EXPECT_EQ(2, reader.Frames().back().payload[1]);  // mode 2
  EXPECT_EQ("读卡服务(Cat1模式)", window_->trayIcon().tip());
  EXPECT_EQ(app::kIconCat1, window_->trayIcon().icon_id());
  EXPECT_EQ("无", Text(ids::kCat1Present));
  EXPECT_FALSE(Enabled(ids::kModeCat1));
  EXPECT_TRUE(Enabled(ids::kModeUsb));
  EXPECT_TRUE(Enabled(ids::kSwitchMode));
}

TEST_F(WindowTest, ModeRefusedAfterStartIsReportedAndUnknownModuleShown) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.cat1Status = 7;
  config.status[0x02] = 3;  // the reader refuses the mode
  AddReader(4, config);
  MakeWindow();
  EXPECT_TRUE(window_->readerOnline());
  EXPECT_EQ("未知", Text(ids::kCat1Present));
  EXPECT_EQ(std::vector<std::string>{"设置网络模式失败"}, BoxTexts());
  EXPECT_EQ(app::kIconApp, window_->trayIcon().icon_id());
}

// "设置网络模式失败" is open inside a start when a stop arrives (tray menu, --control stop,
// suspend). Once the box is answered the start goes no further: a stopped service is not shown
// online, no status or watchdog timer runs, and a stopped service gets no port scans.
TEST_F(WindowTest, StopHandledWhileTheStartsMessageBoxIsOpenEndsThatStart) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.status[0x02] = 3;  // the reader refuses the mode: every start shows the box
  auto& reader = AddReader(3, config);
  WriteSettings("[SETTING]\nAutoStart=0\n");
  MakeWindow();
  Show();
  auto expectStopped = [&](const char* how) {
    EXPECT_FALSE(window_->service().IsRunning()) << how;
    EXPECT_FALSE(window_->readerOnline()) << how;
    EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kStatusTimer)) << how;
    EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kModeWatchdogTimer)) << how;
    EXPECT_FALSE(Enabled(ids::kSwitchMode)) << how;
  };
  auto stopBy = [&](const char* how, std::function<void()> stop) {
    host_.ClearMessageBoxes();
    host_.ScriptWhileMessageBoxOpen([&, stop] {
      ASSERT_TRUE(window_->service().IsRunning()) << how;
      stop();
      ASSERT_FALSE(window_->service().IsRunning()) << how;
    });
    ASSERT_TRUE(host_.Click(*window_, ids::kStart)) << how;
    EXPECT_EQ(std::vector<std::string>{"设置网络模式失败"}, BoxTexts()) << how;
  };

  stopBy("tray menu", [&] {
    host_.ScriptMenuChoice(ids::kTrayStop);
    ASSERT_TRUE(host_.SendTrayMouse(app::kIconApp, ui::kMouseRightUp));
  });
  expectStopped("tray menu");
  EXPECT_FALSE(window_->serviceRequested());
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  EXPECT_EQ("当前服务未启动", Text(ids::kPortLabel));
  EXPECT_TRUE(Enabled(ids::kStart));

  stopBy("control message",
         [&] { EXPECT_EQ(1, window_->SendMessage(app::WM_SERVICE_CONTROL, 1, 0)); });
  expectStopped("control message");
  EXPECT_FALSE(window_->serviceRequested());
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  host_.AdvanceTime(60000);
  EXPECT_EQ(2u, Count(reader, 0x01)) << "nothing started the service again";

  // Suspend keeps the service wanted: the scan after the resume brings it back (its own box
  // is answered at once this time).
  stopBy("suspend", [&] { EXPECT_EQ(1, host_.SendPowerBroadcast(*window_, ui::kPowerSuspend)); });
  expectStopped("suspend");
  EXPECT_TRUE(window_->serviceRequested());
  EXPECT_EQ(1, host_.SendPowerBroadcast(*window_, ui::kPowerResumeAutomatic));
  host_.AdvanceTime(20000);
  EXPECT_TRUE(window_->readerOnline());
  EXPECT_TRUE(host_.IsTimerRunning(*window_, app::kStatusTimer));
  EXPECT_TRUE(host_.IsTimerRunning(*window_, app::kModeWatchdogTimer));
}

TEST_F(WindowTest, NoReaderThenPluggedInStartsAboutHalfASecondAfterTheDeviceEvent) {
  MakeWindow();
  EXPECT_FALSE(window_->readerOnline());
  EXPECT_EQ("设备未连接", Text(ids::kPortLabel));
  EXPECT_TRUE(Enabled(ids::kStop));
  EXPECT_FALSE(Enabled(ids::kSwitchMode));
  EXPECT_TRUE(host_.IsTimerRunning(*window_, app::kUpgradeCheckTimer));

  auto& reader = AddReader(5);
  ASSERT_TRUE(host_.SendDeviceChange(*window_, ui::kDeviceArrival));
  EXPECT_EQ(500, host_.TimerPeriod(*window_, app::kPortScanTimer));
  host_.AdvanceTime(499);
  EXPECT_FALSE(window_->readerOnline());
  host_.AdvanceTime(1);
  EXPECT_TRUE(window_->readerOnline());
  EXPECT_EQ(kStartCodes, Codes(reader));
  EXPECT_EQ(10000, host_.TimerPeriod(*window_, app::kPortScanTimer));
  EXPECT_EQ(1, LogCount("DBT_DEVICEARRIVAL"));
  // The one-shot upgrade check ran once and logged its hand-off.
  host_.AdvanceTime(3000);
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kUpgradeCheckTimer));
}

// A console sees what the window would show: the port label, the serial and server states and the
// tray tip, each once per change, never for the byte counters' ticks.
TEST_F(WindowTest, ConsoleIsToldThePortLabelStatesAndTipOnlyWhenTheyChange) {
  MakeWindow();
  std::vector<std::string> expected = {"读卡服务", "设备未连接"};
  EXPECT_EQ(expected, host_.announcements());
  auto& reader = AddReader(5, UnreachableConfig());
  ASSERT_TRUE(host_.SendDeviceChange(*window_, ui::kDeviceArrival));
  host_.AdvanceTime(500);
  ASSERT_TRUE(window_->readerOnline());
  // The scan's stop before the restart shows the states once; then the start.
  expected.insert(expected.end(), {"串口：未打开", "连接：未连接", "读卡服务(Cat1模式)",
                                   "当前使用的端口：" + platform::PortNameFromNumber(5)});
  EXPECT_EQ(expected, host_.announcements());
  reader.SendRaw({0x55, 0xAA, 0x01, 0x00, 0x7F, 0x7F});  // bytes from the reader: counters move
  host_.AdvanceTime(5000);                               // five status ticks, two scans
  expected.push_back("串口：已打开");
  EXPECT_EQ(expected, host_.announcements());
  Show();
  ASSERT_TRUE(host_.Click(*window_, ids::kStop));
  expected.insert(expected.end(), {"串口：未打开", "当前服务未启动"});
  EXPECT_EQ(expected, host_.announcements());
}

TEST_F(WindowTest, DeviceEventsWithoutRequestedServiceDoNotScan) {
  WriteSettings("[SETTING]\nAutoStart=0\n");
  MakeWindow();
  EXPECT_FALSE(window_->serviceRequested());
  EXPECT_EQ("当前服务未启动", Text(ids::kPortLabel));
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  AddReader(5);
  host_.SendDeviceChange(*window_, ui::kDeviceNodesChanged);
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  EXPECT_EQ(1, LogCount("DBT_DEVNODES_CHANGED"));
  host_.AdvanceTime(30000);
  EXPECT_FALSE(window_->service().IsRunning());
}

TEST_F(WindowTest, VanishedPortStopsTheServiceWithoutNotifyAndItReturnsWithTheReader) {
  auto& reader = AddReader(3);
  MakeWindow();
  ASSERT_TRUE(window_->service().IsRunning());
  listed_.clear();  // unplugged
  host_.SendDeviceChange(*window_, ui::kDeviceRemoveComplete);
  host_.AdvanceTime(500);
  EXPECT_FALSE(window_->service().IsRunning());
  EXPECT_EQ("设备连接已断开", Text(ids::kPortLabel));
  EXPECT_EQ(0u, Count(reader, 0x05));  // the reader is gone: it is not told
  EXPECT_EQ(1, LogCount("could not find select com port"));
  EXPECT_TRUE(window_->serviceRequested());
  // The next scan without a reader: "设备未连接".
  host_.AdvanceTime(10000);
  EXPECT_EQ("设备未连接", Text(ids::kPortLabel));
  listed_.push_back(platform::PortNameFromNumber(3));
  host_.SendDeviceChange(*window_, ui::kDeviceArrival);
  host_.AdvanceTime(500);
  EXPECT_TRUE(window_->readerOnline());
}

// The reader's port hangs up while its node is still listed (unplugged between two scans): the
// window hears it from the service, closes the dead port at once and serves the reader again when
// it is back, after an external start too, whose flags stay as it left them. Only a real
// terminal hangs up: a pseudo-terminal plays the port (none on Windows, where the test skips).
class WindowHangUpTest : public WindowTest, public testing::WithParamInterface<bool> {
 protected:
  bool Plug() {
    auto pty = platform::OpenPseudoTerminal(&peer_);
    if (!pty) return false;
    reader_ = std::make_unique<testsupport::SimulatedReader>(std::move(pty), ReachableConfig());
    return true;
  }
  std::string peer_;
  std::unique_ptr<testsupport::SimulatedReader> reader_;
};

TEST_P(WindowHangUpTest, DeadPortIsClosedAtOnceAndTheReaderServedAgainWhenBack) {
  const bool external = GetParam();
  if (!Plug()) {
    GTEST_SKIP() << "no pseudo-terminals";
  }
  listed_.push_back(platform::PortNameFromNumber(3));
  app::DialogEnvironment env = SimulatedEnvironment(SettingsFolder(), ports_, listed_);
  env.opener = [this](int n, int baud) {
    return n == 3 && reader_ ? platform::OpenSerialDevice(peer_, baud) : nullptr;
  };
  if (external) WriteSettings("[SETTING]\nAutoStart=0\n");
  window_ = std::make_unique<app::COvra7ServerDlg>(env);
  LogEnabled = 1;
  ASSERT_TRUE(window_->Create());
  if (external) {
    ASSERT_EQ(1, window_->SendMessage(app::WM_SERVICE_CONTROL, 0, 0));
  }
  ASSERT_TRUE(window_->service().IsRunning());

  reader_.reset();  // the port hangs up
  for (int i = 0; i < 60 && LogCount("DBT_DEVICEREMOVECOMPLETE") == 0; ++i)
    host_.WaitAndDispatch(1000);
  ASSERT_EQ(1, LogCount("DBT_DEVICEREMOVECOMPLETE")) << "the hang-up never reached the window";
  host_.AdvanceTime(500);
  std::string state;
  window_->service().GetComStatusText(&state);
  EXPECT_EQ("未打开", state);

  ASSERT_TRUE(Plug());
  ASSERT_TRUE(host_.SendDeviceChange(*window_, ui::kDeviceArrival));
  host_.AdvanceTime(500);
  EXPECT_TRUE(window_->service().IsRunning());
  EXPECT_EQ(external ? std::vector<uint8_t>{0x09} : kStartCodes, Codes(*reader_));
  EXPECT_EQ(!external, window_->serviceRequested());
  EXPECT_EQ(!external, window_->readerOnline());
  EXPECT_EQ(!external, host_.IsTimerRunning(*window_, app::kPortScanTimer));
  EXPECT_TRUE(host_.IsTimerRunning(*window_, app::kStatusTimer));
}

INSTANTIATE_TEST_SUITE_P(StartedBy, WindowHangUpTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& row) {
                           return row.param ? "ControlMessage" : "StartCommand";
                         });

TEST_F(WindowTest, SuspendStopsAndNotifiesAndResumeRestartsTwentySecondsLater) {
  auto& reader = AddReader(3);
  MakeWindow();
  ASSERT_TRUE(window_->readerOnline());
  EXPECT_EQ(1, host_.SendPowerBroadcast(*window_, ui::kPowerSuspend));
  EXPECT_FALSE(window_->service().IsRunning());
  EXPECT_EQ(1u, Count(reader, 0x05));
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  EXPECT_TRUE(window_->serviceRequested());
  EXPECT_EQ(1, host_.SendPowerBroadcast(*window_, ui::kPowerResumeAutomatic));
  EXPECT_EQ(20000, host_.TimerPeriod(*window_, app::kPortScanTimer));
  EXPECT_EQ(1, host_.SendPowerBroadcast(*window_, 10));  // other power events: no effect
  host_.AdvanceTime(19999);
  EXPECT_FALSE(window_->service().IsRunning());
  host_.AdvanceTime(1);
  EXPECT_TRUE(window_->readerOnline());
  EXPECT_EQ(1, LogCount("System Suspend"));
  EXPECT_EQ(1, LogCount("System Resume"));
  // The Linux monitor sends the event and waits for its handling before letting the machine
  // sleep.
  window_->DeliverPowerEvent(ui::kPowerSuspend);
  EXPECT_FALSE(window_->service().IsRunning());
  EXPECT_EQ(2u, Count(reader, 0x05));
}

// USB only: mode 1 whether or not the computer reaches the server, which is never tried.
TEST_F(WindowTest, WatchdogSendsDisconnectAndUsbModeEveryThirtySecondsWhileServerIsDown) {
  WriteSettings("[CONNECT]\nTYPE=1\n");
  auto& reader = AddReader(3, UnreachableConfig());
  MakeWindow();
  ASSERT_TRUE(window_->readerOnline());
  size_t before = reader.Frames().size();
  host_.AdvanceTime(30000);
  host_.AdvanceTime(30000);
  std::vector<uint8_t> codes = Codes(reader);
  std::vector<uint8_t> after(codes.begin() + static_cast<long>(before), codes.end());
  EXPECT_EQ((std::vector<uint8_t>{0x05, 0x02, 0x05, 0x02}), after);
  EXPECT_EQ(1, reader.Frames().back().payload[1]);
  EXPECT_EQ(2, LogCount("check USB mode, server not connected"));
  EXPECT_EQ(0, LogCount("connect server 127.0.0.1:1"));

  // A Cat1-only choice is not watched.
  window_->OnServiceControl(2, 2);
  size_t count = reader.Frames().size();
  host_.AdvanceTime(30000);
  EXPECT_EQ(count, reader.Frames().size());
}

TEST_F(WindowTest, ServiceControlMessageRunsTheFiveCommandRows) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.connectStatusCode = 0x90;
  auto& reader = AddReader(3, config);
  WriteSettings("[SETTING]\nAutoStart=0\n");
  MakeWindow();
  ASSERT_FALSE(window_->service().IsRunning());

  EXPECT_EQ(1, window_->SendMessage(app::WM_SERVICE_CONTROL, 0, 0));
  EXPECT_TRUE(window_->service().IsRunning());
  EXPECT_FALSE(window_->serviceRequested());  // flags untouched by the external start
  EXPECT_FALSE(window_->readerOnline());
  EXPECT_EQ((std::vector<uint8_t>{0x09}), Codes(reader));  // platform read only, no mode
  EXPECT_TRUE(host_.IsTimerRunning(*window_, app::kStatusTimer));
  EXPECT_FALSE(host_.IsTimerRunning(*window_, app::kPortScanTimer));
  EXPECT_EQ("当前使用的端口：" + platform::PortNameFromNumber(3), Text(ids::kPortLabel));

  EXPECT_EQ(-1, window_->SendMessage(app::WM_SERVICE_CONTROL, 2, 3));
  EXPECT_EQ(0, window_->SendMessage(app::WM_SERVICE_CONTROL, 7, 0));
  EXPECT_EQ(1u, reader.Frames().size());  // neither sent anything

  EXPECT_EQ(1, window_->SendMessage(app::WM_SERVICE_CONTROL, 2, 2));
  EXPECT_EQ(2, window_->networkChoice());
  EXPECT_EQ(2, window_->GetRadioIndex(ids::kModeAuto));
  EXPECT_EQ(app::kIconCat1, window_->trayIcon().icon_id());
  EXPECT_EQ(0, window_->savedNetworkMode());
  EXPECT_FALSE(SettingPresent("CONNECT", "TYPE"));

  EXPECT_EQ(static_cast<int8_t>(0x90), window_->SendMessage(app::WM_SERVICE_CONTROL, 3, 0));
  EXPECT_EQ(1, LogCount("connect status 0x90"));

  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x02] = 1; });
  EXPECT_EQ(0, window_->SendMessage(app::WM_SERVICE_CONTROL, 2, 1));

  EXPECT_EQ(1, window_->SendMessage(app::WM_SERVICE_CONTROL, 1, 0));
  EXPECT_FALSE(window_->service().IsRunning());
  EXPECT_EQ(1u, Count(reader, 0x05));
  EXPECT_EQ(-1, window_->SendMessage(app::WM_SERVICE_CONTROL, 3, 0));  // no service: failed
  listed_.clear();
  EXPECT_EQ(0, window_->SendMessage(app::WM_SERVICE_CONTROL, 0, 0));
  EXPECT_EQ("COM端口打开失败", Text(ids::kPortLabel));
}

TEST_F(WindowTest, ConfiguredPortIsOpenedDirectlyAndAMissingOneFails) {
  AddReader(2);
  auto& second = AddReader(6);
  WriteSettings("[com]\nPORT=6\n");  // key names match without case
  MakeWindow();
  EXPECT_EQ(6, window_->configuredPort());
  EXPECT_EQ(6, window_->service().GetComPort());
  EXPECT_EQ(kStartCodes, Codes(second));
  EXPECT_EQ(2, window_->ComboGetCurSel(ids::kPortBox));
  window_.reset();

  WriteSettings("[COM]\nport=9\n");
  MakeWindow();
  EXPECT_FALSE(window_->readerOnline());
  EXPECT_EQ("COM端口打开失败", Text(ids::kPortLabel));
  EXPECT_EQ(-1, window_->ComboGetCurSel(ids::kPortBox));
}

TEST_F(WindowTest, ChangePortWritesTheSettingAndRestartsOnlyOnARealChange) {
  auto& first = AddReader(2);
  auto& second = AddReader(7);
  MakeWindow();
  Show();
  ASSERT_EQ(2, window_->service().GetComPort());  // automatic: the first that opens
  ASSERT_TRUE(host_.PickComboEntry(*window_, ids::kPortBox, 0));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePort));
  EXPECT_FALSE(SettingPresent("COM", "PORT"));  // automatic already: nothing happens
  ASSERT_TRUE(host_.PickComboEntry(*window_, ids::kPortBox, 2));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePort));
  EXPECT_EQ(7, Setting("COM", "PORT"));
  EXPECT_EQ(7, window_->service().GetComPort());
  EXPECT_EQ(1u, Count(first, 0x05));  // the old reader was told before the port closed
  EXPECT_EQ(kStartCodes, Codes(second));
  // Text typed into the box leaves no selection: no change.
  ASSERT_TRUE(host_.TypeText(*window_, ids::kPortBox, "COM99"));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePort));
  EXPECT_EQ(7, window_->configuredPort());
}

}  // namespace
}  // namespace apptest
