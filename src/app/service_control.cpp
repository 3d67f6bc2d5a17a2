// When the relay service runs: StartService and StopService, the start and stop commands, the
// four timers, the status display, the mode watchdog, port discovery and the port scan, device
// and power events, and WM_SERVICE_CONTROL. Portable.
#include <algorithm>
#include <cstdio>

#include "app/main_window_template.h"
#include "app/ovra7_server_dlg.h"
#include "app/port_discovery.h"
#include "app/reader_text.h"
#include "log/log.h"
#include "platform/control_protocol.h"
#include "platform/serial.h"

namespace app {
namespace {

const char kNoReader[] = "设备未连接";
const char kPortOpenFailed[] = "COM端口打开失败";
const char kPortInUse[] = "当前使用的端口：";
const char kServiceNotStarted[] = "当前服务未启动";
const char kReaderGone[] = "设备连接已断开";

}  // namespace

std::string COvra7ServerDlg::PortName(int n) const { return platform::PortNameFromNumber(n); }

void COvra7ServerDlg::DiscoverPorts() {
  portList_ = env_.discoverPorts ? env_.discoverPorts() : DiscoverReaderPorts();
  // Entry 0 is always the automatic choice, whatever the source returned.
  if (portList_.empty() || portList_[0] != kAutomaticPortText)
    portList_.insert(portList_.begin(), kAutomaticPortText);
}

void COvra7ServerDlg::SetPortLabelFromService() {
  int port = service_->GetComPort();
  SetPortLabel(port > 0 ? kPortInUse + PortName(port) : kPortOpenFailed);
}

void COvra7ServerDlg::StartService() {
  if (portList_.size() < 2) {
    readerOnline_ = 0;
    SetPortLabel(kNoReader);
    UpdateControlStates();
    return;
  }
  if (!service_->Start(configuredPort_, portList_)) {
    readerOnline_ = 0;
  } else {
    uint8_t model = 0, second = 0;
    int cat1 = service_->QueryCat1Module(&model, &second);
    SetItemText(ids::kCat1Model, "");
    if (cat1 == 0) {
      noCat1Module_ = true;
      SetItemText(ids::kCat1Present, "无");
    } else if (cat1 == 1) {
      noCat1Module_ = false;
      SetItemText(ids::kCat1Present, "有");
      SetItemText(ids::kCat1Model, SignedByteHex(model));
    } else {
      noCat1Module_ = false;
      SetItemText(ids::kCat1Present, "未知");
    }
    ReadPlatformSettings();
    int mode = 2;
    if (networkChoice_ == 0)
      mode = service_->TestServer() ? 1 : 2;
    else if (networkChoice_ == 1)
      mode = 1;
    int result = service_->SetNetworkMode(mode);
    if (result == 0) {
      ShowModeInTray(mode);
    } else if (result > 0) {
      MessageBox("设置网络模式失败");
      // The box ran a message loop of its own: a stop handled meanwhile (tray menu, control
      // message, suspend, exit) has already brought the window to its state, which this start
      // must not overwrite with timers and an online reader.
      if (!StartStillWanted()) {
        WriteLog("StartService: stopped while a message box was open");
        return;
      }
    }
    SetTimer(kModeWatchdogTimer, kWatchdogPeriodMs);
    SetTimer(kStatusTimer, kStatusPeriodMs);
    readerOnline_ = 1;
  }
  SetPortLabelFromService();
  UpdateControlStates();
}

bool COvra7ServerDlg::StartForControl() {
  const bool opened = service_->Start(configuredPort_, portList_) != 0;
  if (opened) {
    ReadPlatformSettings();
    SetTimer(kStatusTimer, kStatusPeriodMs);
  }
  SetPortLabelFromService();
  return opened;
}

bool COvra7ServerDlg::StartStillWanted() const {
  return serviceRequested_ != 0 && service_->IsRunning() != 0;
}

void COvra7ServerDlg::StopService(bool notify) {
  WriteLog("StopService");
  readerOnline_ = 0;
  KillTimer(kStatusTimer);
  KillTimer(kModeWatchdogTimer);
  service_->Stop(notify);
  RefreshStatus();
  UpdateControlStates();
}

void COvra7ServerDlg::StartCommand() {
  serviceRequested_ = 1;
  StartService();
  // A stop command handled while the start showed a message ends the scans too.
  if (serviceRequested_) SetTimer(kPortScanTimer, kScanPeriodMs);
}

void COvra7ServerDlg::StopCommand() {
  serviceRequested_ = 0;
  externalStart_ = false;
  KillTimer(kPortScanTimer);
  StopService(true);
}

void COvra7ServerDlg::RefreshStatus() {
  SetItemText(ids::kComRead, std::to_string(service_->GetComReadBytes()));
  SetItemText(ids::kComWrite, std::to_string(service_->GetComWriteBytes()));
  SetItemText(ids::kServerRecv, std::to_string(service_->GetServerRecvBytes()));
  SetItemText(ids::kServerSend, std::to_string(service_->GetServerSendBytes()));
  std::string text;
  service_->GetComStatusText(&text);
  SetItemText(ids::kComState, text);
  AnnounceOnChange(ids::kComState, "串口：" + text);  // the row's caption in the window
  service_->GetServerStatusText(&text);
  SetItemText(ids::kServerState, text);
  AnnounceOnChange(ids::kServerState, "连接：" + text);
}

void COvra7ServerDlg::SetPortLabel(const std::string& text) {
  SetItemText(ids::kPortLabel, text);
  AnnounceOnChange(ids::kPortLabel, text);
}

void COvra7ServerDlg::AnnounceOnChange(int topic, const std::string& line) {
  // The byte counters change all the time; these lines only when what they say changes.
  std::string& last = announced_[topic];
  if (last == line) return;
  last = line;
  ui::Announce(line);
}

void COvra7ServerDlg::OnTimer(int id) {
  switch (id) {
    case kStatusTimer:
      RefreshStatus();
      break;
    case kModeWatchdogTimer:
      ModeWatchdog();
      break;
    case kPortScanTimer:
      PortScan();
      break;
    case kUpgradeCheckTimer:
      KillTimer(kUpgradeCheckTimer);
      checkPendingDfuUpgrade();
      break;
    default:
      break;
  }
}

void COvra7ServerDlg::ModeWatchdog() {
  // Cat1-only readers look after their own link.
  if (networkChoice_ != 0 && networkChoice_ != 1) return;
  if (!service_->IsRunning() || service_->IsServerConnected()) return;
  WriteLog("check USB mode, server not connected");
  int mode = 1;
  if (networkChoice_ == 0 && !service_->TestServer()) mode = 2;
  if (mode == 1) service_->DisconnectPlatform();
  service_->SetNetworkMode(mode);
}

void COvra7ServerDlg::FillPortBox() {
  if (portList_.empty()) return;
  std::string wanted = configuredPort_ == 0 ? kAutomaticPortText : PortName(configuredPort_);
  int noted = -1;
  for (size_t i = 0; i < portList_.size(); ++i) {
    int index = ComboAddString(ids::kPortBox, portList_[i]);
    if (portList_[i] == wanted && noted < 0) noted = index;
  }
  ComboSetCurSel(ids::kPortBox, configuredPort_ == 0 ? 0 : noted);
}

void COvra7ServerDlg::CheckServicePort() {
  if (!service_->IsRunning()) {
    if (!serviceRequested_ && !externalStart_) {
      SetPortLabel(kServiceNotStarted);
      return;
    }
    // Also closes the port of a relay that ended by itself (a port that hung up).
    StopService(false);
    if (serviceRequested_)
      StartService();
    else if (portList_.size() < 2)
      SetPortLabel(kNoReader);
    else
      StartForControl();
    return;
  }
  std::string name = PortName(service_->GetComPort());
  if (std::find(portList_.begin(), portList_.end(), name) != portList_.end()) return;
  WriteLog("could not find select com port");
  StopService(false);
  SetPortLabel(kReaderGone);
}

void COvra7ServerDlg::PortScan() {
  KillTimer(kPortScanTimer);
  DiscoverPorts();
  ComboResetContent(ids::kPortBox);
  FillPortBox();
  CheckServicePort();
  // An external start is scanned for only while its reader is away.
  if (serviceRequested_ || (externalStart_ && !service_->IsRunning()))
    SetTimer(kPortScanTimer, kScanPeriodMs);
}

void COvra7ServerDlg::ChangePort() {
  int index = ComboGetCurSel(ids::kPortBox);
  if (index < 0) return;
  int port = 0;
  if (index > 0) {
    if (static_cast<size_t>(index) >= portList_.size()) return;
    port = platform::PortNumberFromName(portList_[static_cast<size_t>(index)]);
    if (port < 0) return;  // a name this system cannot number
  }
  if (port == configuredPort_) return;
  configuredPort_ = port;
  store_.WriteInt(keys::kComSection, keys::kPortWritten, port);
  StopService(true);
  StartService();
}

void COvra7ServerDlg::OnDeviceChange(int event) {
  const char* name = nullptr;
  if (event == ui::kDeviceArrival) name = "DBT_DEVICEARRIVAL";
  if (event == ui::kDeviceRemoveComplete) name = "DBT_DEVICEREMOVECOMPLETE";
  if (event == ui::kDeviceNodesChanged) name = "DBT_DEVNODES_CHANGED";
  if (!name) return;
  WriteLog("%s", name);
  if (!serviceRequested_ && !externalStart_) return;
  KillTimer(kPortScanTimer);
  SetTimer(kPortScanTimer, kScanAfterDeviceEventMs);
}

int COvra7ServerDlg::OnPowerBroadcast(int event) {
  if (event == ui::kPowerResumeAutomatic) {
    WriteLog("System Resume");
    if (serviceRequested_) {
      KillTimer(kPortScanTimer);
      SetTimer(kPortScanTimer, kScanAfterResumeMs);
    }
  } else if (event == ui::kPowerSuspend) {
    WriteLog("System Suspend");
    externalStart_ = false;  // only a requested service comes back after the resume
    StopService(true);
    KillTimer(kPortScanTimer);
  }
  return 1;
}

long COvra7ServerDlg::OnServiceControl(int command, int argument) {
  switch (command) {
    case 0:
      DiscoverPorts();
      if (!StartForControl()) return 0;
      externalStart_ = true;
      return 1;
    case 1:
      serviceRequested_ = 0;
      externalStart_ = false;
      StopService(true);
      KillTimer(kPortScanTimer);
      return 1;
    case 2:
      if (argument != 1 && argument != 2) return -1;
      networkChoice_ = argument;
      UpdateData(false);
      if (service_->SetNetworkMode(argument) != 0) return 0;
      ShowModeInTray(argument);
      return 1;
    case 3: {
      if (flashing_) return platform::kStatusFlashing;
      uint8_t statusCode = 0, connectionType = 0;
      if (service_->QueryConnectStatus(&statusCode, &connectionType) != 0) return -1;
      WriteLog("connect status 0x%x", statusCode);
      return static_cast<int8_t>(statusCode);
    }
    default:
      return 0;
  }
}

}  // namespace app
