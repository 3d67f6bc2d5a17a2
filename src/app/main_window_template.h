// The layouts of the main window (template 129) and the About box (template 132), and the ids
// the window logic addresses. Portable data.
#pragma once

#include "app/main_window_title.h"
#include "ui/dialog_template.h"

namespace app {

namespace ids {
// Left half.
constexpr int kStart = 1041;
constexpr int kStop = 1042;
constexpr int kAutostartSystem = 1032;
constexpr int kAutoStartService = 1033;
constexpr int kPortBox = 1002;
constexpr int kChangePort = 1003;
constexpr int kPortLabel = 1011;
constexpr int kModeAuto = 1000;
constexpr int kModeUsb = 1001;
constexpr int kModeCat1 = 1006;
constexpr int kSwitchMode = 1012;
constexpr int kComState = 1005;
constexpr int kComRead = 1007;
constexpr int kComWrite = 1009;
constexpr int kServerState = 1004;
constexpr int kServerRecv = 1008;
constexpr int kServerSend = 1010;
constexpr int kCat1Present = 1013;
constexpr int kCat1Model = 1014;
constexpr int kQualityTest = 1038;
constexpr int kQualityResult = 1039;
constexpr int kAbout = 1037;
// Right half: the reader configuration panel.
constexpr int kCollapse = 1016;
constexpr int kLicense = 1029;
constexpr int kMac = 1030;
constexpr int kIccid = 1031;
constexpr int kQueryAuth = 1026;
constexpr int kConnectAuto = 1019;
constexpr int kConnectWait = 1020;
constexpr int kCacheOff = 1021;
constexpr int kCacheOn = 1022;
constexpr int kServerAddress = 1017;
constexpr int kQueryPlatform = 1027;
constexpr int kServerPort = 1018;
constexpr int kChangePlatform = 1028;
constexpr int kQueryStatus = 1034;
constexpr int kStatusCode = 1035;
constexpr int kConnectionType = 1036;
constexpr int kLog = 1040;
constexpr int kUsbInterval = 1048;
constexpr int kUsbSpin = 1049;
constexpr int kCat1Interval = 1052;
constexpr int kCat1Spin = 1053;
constexpr int kQueryHeartBeat = 1050;
constexpr int kChangeHeartBeat = 1051;
// Tray menu commands.
constexpr int kTraySettings = 2028;
constexpr int kTrayStart = 2026;
constexpr int kTrayStop = 2027;
constexpr int kTrayExit = 2029;
// About box.
constexpr int kAboutVersion = 1036;
}  // namespace ids

// Icons: the application (and default tray icon), Cat1 mode and USB mode.
constexpr int kIconApp = 131;
constexpr int kIconCat1 = 133;
constexpr int kIconUsb = 134;

constexpr int kMainTemplateId = 129;
constexpr int kAboutTemplateId = 132;

ui::DialogTemplate MainWindowTemplate();
ui::DialogTemplate AboutTemplate();

}  // namespace app
