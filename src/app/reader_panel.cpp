// The reader configuration panel: network mode, authorization record, platform settings,
// connection status, the quality test and the heartbeat intervals. Portable.
#include "app/main_window_template.h"
#include "app/ovra7_server_dlg.h"
#include "app/reader_text.h"
#include "platform/clock.h"

namespace app {
namespace {

constexpr int kQualityProbes = 10;
constexpr int kQualityPauseMs = 50;
// What the panel takes from the port and address edits.
constexpr size_t kPortCharacters = 8;
constexpr size_t kHostCharacters = 254;

}  // namespace

void COvra7ServerDlg::SwitchNetworkMode() {
  UpdateData(true);  // an out-of-range heartbeat only adds its message
  if (networkChoice_ == savedNetworkMode_) return;
  int mode = 2;
  const char* success = "切换到使用Cat1";
  const char* failure = "设置使用Cat1失败";
  if (networkChoice_ == 0) {
    if (service_->TestServer()) {
      mode = 1;
      success = "使用本机网络";
      failure = "设置使用本机网络失败";
    } else {
      success = "使用Cat1";
    }
  } else if (networkChoice_ == 1) {
    mode = 1;
    success = "切换到使用本机网络";
    failure = "设置使用本机网络失败";
  }
  if (service_->SetNetworkMode(mode) == 0) {
    ShowModeInTray(mode);
    savedNetworkMode_ = networkChoice_;
    store_.WriteInt(keys::kConnectSection, keys::kType, networkChoice_);
    KillTimer(kModeWatchdogTimer);
    SetTimer(kModeWatchdogTimer, kWatchdogPeriodMs);
    MessageBox(success);
  } else {
    networkChoice_ = savedNetworkMode_;
    UpdateData(false);
    MessageBox(failure);
  }
}

void COvra7ServerDlg::QueryAuthorization() {
  uint8_t auth[32] = {};
  char mac[12] = {};
  char iccid[20] = {};
  if (service_->GetAuthorizationInfo(auth, mac, iccid) != 0) {
    MessageBox("获取授权信息失败");
    return;
  }
  SetItemText(ids::kLicense, AuthorizationHex(auth, sizeof auth));
  SetItemText(ids::kMac, MacText(mac));
  SetItemText(ids::kIccid, IccidText(iccid));
}

bool COvra7ServerDlg::ReadPlatformSettings() {
  uint8_t connect = 0, cache = 0;
  uint16_t port = 0;
  std::string host;
  if (service_->GetPlatformInfo(&connect, &cache, &port, &host) != 0) return false;
  platformConnectChoice_ = connect;
  dataCacheChoice_ = cache;
  SetItemText(ids::kServerPort, std::to_string(port));
  SetItemText(ids::kServerAddress, host);
  UpdateData(false);
  return true;
}

void COvra7ServerDlg::QueryPlatform() {
  if (!ReadPlatformSettings()) MessageBox("获取平台信息失败");
}

void COvra7ServerDlg::ChangePlatform() {
  UpdateData(true);
  int port = LeadingDecimal(FirstCharacters(GetItemText(ids::kServerPort), kPortCharacters));
  std::string host = FirstCharacters(GetItemText(ids::kServerAddress), kHostCharacters);
  int result = service_->SetPlatformInfo(static_cast<uint8_t>(platformConnectChoice_),
                                         static_cast<uint8_t>(dataCacheChoice_),
                                         static_cast<uint16_t>(port), host);
  MessageBox(result == 0 ? "修改平台信息成功" : "修改平台信息失败");
}

void COvra7ServerDlg::QueryConnectStatus() {
  uint8_t statusCode = 0, connectionType = 0;
  if (service_->QueryConnectStatus(&statusCode, &connectionType) != 0) {
    MessageBox("查询连接状态失败");
    return;
  }
  SetItemText(ids::kStatusCode, SignedByteHex(statusCode));
  SetItemText(ids::kConnectionType, SignedByteHex(connectionType));
}

void COvra7ServerDlg::TestNetworkQuality() {
  std::vector<int> results;
  for (int i = 0; i < kQualityProbes; ++i) {
    results.push_back(service_->TestNetworkQuality(1, 50));
    platform::SleepMs(kQualityPauseMs);
  }
  SetItemText(ids::kQualityResult, QualityText(SummarizeProbes(results)));
}

void COvra7ServerDlg::QueryHeartBeat() {
  int usb = 0, cat1 = 0;
  if (service_->GetHeartBeatInterval(&usb, &cat1) != 0) {
    MessageBox("获取心跳间隔失败");
    return;
  }
  usbHeartBeat_ = usb;
  cat1HeartBeat_ = cat1;
  UpdateData(false);
  MessageBox("获取心跳间隔成功");
}

void COvra7ServerDlg::ChangeHeartBeat() {
  if (!UpdateData(true)) return;  // the exchange has told the user; nothing is sent
  if (service_->SetHeartBeatInterval(usbHeartBeat_, cat1HeartBeat_, false, false) != 0) {
    MessageBox("设置心跳间隔失败");
    return;
  }
  store_.WriteInt(keys::kHeartBeatSection, keys::kUsb, usbHeartBeat_);
  store_.WriteInt(keys::kHeartBeatSection, keys::kCat1, cat1HeartBeat_);
  MessageBox("设置心跳间隔成功");
}

int COvra7ServerDlg::OnUpDownStep(int id, int delta) {
  if (id != ids::kUsbSpin && id != ids::kCat1Spin) return 0;
  if (!UpdateData(true)) return 1;
  int& interval = id == ids::kUsbSpin ? usbHeartBeat_ : cat1HeartBeat_;
  if (delta < 0) {
    if (interval < 600) ++interval;
  } else if (interval > 60) {
    --interval;
  }
  UpdateData(false);
  return 0;
}

}  // namespace app
