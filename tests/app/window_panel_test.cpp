// The reader configuration panel: every button's messages, what reaches the reader, and which
// settings are written only once the reader accepted them.
#include "ui/data_exchange.h"
#include "window_fixture.h"

namespace apptest {
namespace {

TEST_F(WindowTest, NetworkModeSwitchStoresTheChoiceOnlyWhenTheReaderAccepts) {
  auto& reader = AddReader(3);
  MakeWindow();
  Show();
  // The saved mode is chosen again: nothing is sent, nothing shown.
  size_t frames = reader.Frames().size();
  ASSERT_TRUE(host_.Click(*window_, ids::kSwitchMode));
  EXPECT_EQ(frames, reader.Frames().size());
  EXPECT_TRUE(host_.message_boxes().empty());

  ASSERT_TRUE(host_.Click(*window_, ids::kModeUsb));
  ASSERT_TRUE(host_.Click(*window_, ids::kSwitchMode));
  EXPECT_EQ("切换到使用本机网络", LastBox());
  EXPECT_EQ(1, Setting("CONNECT", "TYPE"));
  EXPECT_EQ(1, window_->savedNetworkMode());
  EXPECT_EQ(30000, host_.TimerPeriod(*window_, app::kModeWatchdogTimer));

  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x02] = 1; });
  ASSERT_TRUE(host_.Click(*window_, ids::kModeCat1));
  ASSERT_TRUE(host_.Click(*window_, ids::kSwitchMode));
  EXPECT_EQ("设置使用Cat1失败", LastBox());
  EXPECT_EQ(1, Setting("CONNECT", "TYPE"));
  EXPECT_EQ(1, window_->GetRadioIndex(ids::kModeAuto));  // back to the saved choice
  EXPECT_EQ(app::kIconUsb, window_->trayIcon().icon_id());

  reader.Configure([](testsupport::ReaderConfig& c) {
    c.status.clear();
    c.platformPort = 1;  // the computer no longer reaches the server
  });
  window_->service().SetServerAddress("127.0.0.1", 1);
  ASSERT_TRUE(host_.Click(*window_, ids::kModeAuto));
  ASSERT_TRUE(host_.Click(*window_, ids::kSwitchMode));
  EXPECT_EQ("使用Cat1", LastBox());
  EXPECT_EQ(2, reader.Frames().back().payload[1]);
  EXPECT_EQ(0, Setting("CONNECT", "TYPE"));  // the choice, not the mode sent
  EXPECT_EQ(app::kIconCat1, window_->trayIcon().icon_id());
}

TEST_F(WindowTest, AuthorizationRecordIsShownAsHexMacPairsAndCutIccid) {
  testsupport::ReaderConfig config = ReachableConfig();
  for (int i = 0; i < 32; ++i) config.auth[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 9);
  config.iccid = std::string("8986001234") + std::string(10, '\0');
  auto& reader = AddReader(3, config);
  MakeWindow();
  Show(true);
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryAuth));
  EXPECT_EQ("0009121b242d363f48515a636c757e879099a2abb4bdc6cfd8e1eaf3fc050e17",
            Text(ids::kLicense));
  EXPECT_EQ("A1:B2:C3:D4:E5:F6", Text(ids::kMac));
  EXPECT_EQ("8986001234", Text(ids::kIccid));
  EXPECT_TRUE(host_.message_boxes().empty());

  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x07] = 2; });
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryAuth));
  EXPECT_EQ("获取授权信息失败", LastBox());
  EXPECT_EQ("A1:B2:C3:D4:E5:F6", Text(ids::kMac));  // unchanged
}

TEST_F(WindowTest, PlatformSettingsQueryAndChangeSendWhatTheEditsHold) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.platformMethod = 1;
  config.platformCache = 1;
  auto& reader = AddReader(3, config);
  MakeWindow();
  Show(true);
  EXPECT_EQ(1, window_->GetRadioIndex(ids::kConnectAuto));
  EXPECT_EQ(1, window_->GetRadioIndex(ids::kCacheOff));

  ASSERT_TRUE(host_.Click(*window_, ids::kConnectAuto));
  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerAddress, "card.example.net"));
  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerPort, "70000"));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePlatform));
  EXPECT_EQ("修改平台信息成功", LastBox());
  testsupport::ReaderConfig now = reader.Config();
  EXPECT_EQ(0, now.platformMethod);
  EXPECT_EQ(1, now.platformCache);
  EXPECT_EQ(4464, now.platformPort);  // the low 16 bits of 70000
  EXPECT_EQ("card.example.net", now.platformHost);

  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerPort, ""));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePlatform));
  EXPECT_EQ(0, reader.Config().platformPort);

  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x08] = 1; });
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePlatform));
  EXPECT_EQ("修改平台信息失败", LastBox());

  reader.Configure([](testsupport::ReaderConfig& c) {
    c.platformHost = "10.1.2.3";
    c.platformPort = 4000;
  });
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryPlatform));
  EXPECT_EQ("10.1.2.3", Text(ids::kServerAddress));
  EXPECT_EQ("4000", Text(ids::kServerPort));
  EXPECT_EQ("10.1.2.3", window_->service().GetServerHost());  // the service adopts it
  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x09] = 1; });
  host_.ClearMessageBoxes();
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryPlatform));
  EXPECT_EQ("获取平台信息失败", LastBox());
  EXPECT_EQ("10.1.2.3", Text(ids::kServerAddress));
}

// A Chinese address typed into the panel reaches the reader in its code page and reads back
// unchanged; a long one is taken whole (254 characters, not 254 bytes of UTF-8).
TEST_F(WindowTest, ChineseAddressInThePanelRoundTripsThroughTheReader) {
  auto& reader = AddReader(3);
  MakeWindow();
  Show(true);
  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerAddress, "读卡平台.示例.cn"));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePlatform));
  EXPECT_EQ("修改平台信息成功", LastBox());
  EXPECT_EQ("\xB6\xC1\xBF\xA8\xC6\xBD\xCC\xA8.\xCA\xBE\xC0\xFD.cn", reader.Config().platformHost);
  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerAddress, ""));
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryPlatform));
  EXPECT_EQ("读卡平台.示例.cn", Text(ids::kServerAddress));
  EXPECT_EQ("读卡平台.示例.cn", window_->service().GetServerHost());

  std::string hundred;  // 300 bytes of UTF-8, 200 on the wire
  for (int i = 0; i < 100; ++i) hundred += "卡";
  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerAddress, hundred));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePlatform));
  EXPECT_EQ("修改平台信息成功", LastBox());
  EXPECT_EQ(200u, reader.Config().platformHost.size());
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryPlatform));
  EXPECT_EQ(hundred, Text(ids::kServerAddress));

  // A character the reader's code page has no code for: refused, nothing stored.
  ASSERT_TRUE(host_.TypeText(*window_, ids::kServerAddress, "srv\xF0\x9F\x98\x80.cn"));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangePlatform));
  EXPECT_EQ("修改平台信息失败", LastBox());
  EXPECT_EQ(200u, reader.Config().platformHost.size());
}

TEST_F(WindowTest, ConnectionStatusShowsSignedBytesOrTheFailure) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.connectStatusCode = 0xfe;
  config.connectionType = 2;
  auto& reader = AddReader(3, config);
  MakeWindow();
  Show(true);
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryStatus));
  EXPECT_EQ("0xfffffffe", Text(ids::kStatusCode));
  EXPECT_EQ("0x2", Text(ids::kConnectionType));
  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x03] = 1; });
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryStatus));
  EXPECT_EQ("查询连接状态失败", LastBox());
  EXPECT_EQ("0x2", Text(ids::kConnectionType));
}

TEST_F(WindowTest, QualityTestReportsAverageMaximumSuccessesAndFailures) {
  testsupport::ReaderConfig config = ReachableConfig();
  config.qualityResults = {20, -1, 30, 40, -1, 50, 60, -1, 70, 80};
  auto& reader = AddReader(3, config);
  MakeWindow();
  Show();
  ASSERT_TRUE(host_.Click(*window_, ids::kQualityTest));
  EXPECT_EQ("当前平均延时为50毫秒，最大80毫秒，成功7次，失败3次", Text(ids::kQualityResult));
  ASSERT_EQ(10u, Count(reader, 0x0C));
  EXPECT_EQ((std::vector<uint8_t>{0x0C, 1, 50}), reader.Frames().back().payload);

  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x0C] = 1; });
  ASSERT_TRUE(host_.Click(*window_, ids::kQualityTest));
  EXPECT_EQ("测试读卡器网络质量失败", Text(ids::kQualityResult));
}

TEST_F(WindowTest, HeartBeatChangeIsStoredOnlyWhenAcceptedAndRangeChecked) {
  auto& reader = AddReader(3);
  MakeWindow();
  Show(true);
  EXPECT_EQ("600", Text(ids::kUsbInterval));

  ASSERT_TRUE(host_.TypeText(*window_, ids::kUsbInterval, "30"));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangeHeartBeat));
  EXPECT_EQ(ui::RangeMessage(60, 600), LastBox());
  EXPECT_NE(std::string::npos, LastBox().find("60"));
  EXPECT_NE(std::string::npos, LastBox().find("600"));
  EXPECT_EQ(ids::kUsbInterval, window_->GetFocusItem());
  EXPECT_EQ(0u, Count(reader, 0x10));
  EXPECT_FALSE(SettingPresent("HeartBeat", "Usb"));

  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x10] = 1; });
  ASSERT_TRUE(host_.TypeText(*window_, ids::kUsbInterval, "120"));
  ASSERT_TRUE(host_.TypeText(*window_, ids::kCat1Interval, "300"));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangeHeartBeat));
  EXPECT_EQ("设置心跳间隔失败", LastBox());
  EXPECT_EQ(1u, Count(reader, 0x10));
  EXPECT_FALSE(SettingPresent("HeartBeat", "Usb"));
  EXPECT_EQ(120, window_->service().GetUsbHeartBeat());  // held from the moment of sending

  reader.Configure([](testsupport::ReaderConfig& c) { c.status.clear(); });
  ASSERT_TRUE(host_.Click(*window_, ids::kChangeHeartBeat));
  EXPECT_EQ("设置心跳间隔成功", LastBox());
  EXPECT_EQ(120, Setting("HeartBeat", "Usb"));
  EXPECT_EQ(300, Setting("HeartBeat", "Cat1"));
  EXPECT_EQ((std::vector<uint8_t>{0x10, 120, 0, 44, 1}), reader.Frames().back().payload);

  reader.Configure([](testsupport::ReaderConfig& c) {
    c.usbHeartBeat = 90;
    c.cat1HeartBeat = 45;  // read back unchecked and not stored
  });
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryHeartBeat));
  EXPECT_EQ("获取心跳间隔成功", LastBox());
  EXPECT_EQ("90", Text(ids::kUsbInterval));
  EXPECT_EQ("45", Text(ids::kCat1Interval));
  EXPECT_EQ(120, Setting("HeartBeat", "Usb"));
  reader.Configure([](testsupport::ReaderConfig& c) { c.status[0x11] = 1; });
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryHeartBeat));
  EXPECT_EQ("获取心跳间隔失败", LastBox());
}

TEST_F(WindowTest, UpDownStepsStopAtTheLimitsAndSendNothing) {
  auto& reader = AddReader(3);
  MakeWindow();
  Show(true);
  size_t frames = reader.Frames().size();
  EXPECT_EQ(0, host_.StepUpDown(*window_, ids::kUsbSpin, -1));  // upper arrow at 600
  EXPECT_EQ("600", Text(ids::kUsbInterval));
  EXPECT_EQ(0, host_.StepUpDown(*window_, ids::kUsbSpin, 1));
  EXPECT_EQ("599", Text(ids::kUsbInterval));
  ASSERT_TRUE(host_.TypeText(*window_, ids::kCat1Interval, "60"));
  EXPECT_EQ(0, host_.StepUpDown(*window_, ids::kCat1Spin, 1));  // lower arrow at 60
  EXPECT_EQ("60", Text(ids::kCat1Interval));
  EXPECT_EQ(0, host_.StepUpDown(*window_, ids::kCat1Spin, -1));
  EXPECT_EQ("61", Text(ids::kCat1Interval));
  EXPECT_EQ(frames, reader.Frames().size());
  EXPECT_FALSE(SettingPresent("HeartBeat", "Cat1"));
}

TEST_F(WindowTest, PanelButtonsFailWithTheirMessagesWhileTheReaderIsOffline) {
  MakeWindow();
  Show(true);
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryHeartBeat));
  ASSERT_TRUE(host_.Click(*window_, ids::kChangeHeartBeat));
  EXPECT_EQ((std::vector<std::string>{"获取心跳间隔失败", "设置心跳间隔失败"}), BoxTexts());
  EXPECT_FALSE(host_.Click(*window_, ids::kQueryAuth));  // disabled while offline
}

}  // namespace
}  // namespace apptest

namespace apptest {
namespace {

TEST_F(WindowTest, ReaderUnpluggedOrSilentFailsCommandsWithoutHanging) {
  testsupport::ReaderConfig config = ReachableConfig();
  auto& reader = AddReader(3, config);
  MakeWindow();
  Show(true);
  reader.Configure([](testsupport::ReaderConfig& c) { c.silent = {0x03, 0x11}; });
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryStatus));  // no answer within its limit
  EXPECT_EQ("查询连接状态失败", LastBox());
  ports_.Get(3)->Unplug();
  ASSERT_TRUE(host_.Click(*window_, ids::kQueryHeartBeat));
  EXPECT_EQ("获取心跳间隔失败", LastBox());
  // The node is gone for good: the next scan's restart cannot open it.
  ports_.SetOpenFails(3, true);
  host_.AdvanceTime(10000);
  EXPECT_EQ("COM端口打开失败", Text(ids::kPortLabel));
  EXPECT_FALSE(window_->readerOnline());
}

}  // namespace
}  // namespace apptest
