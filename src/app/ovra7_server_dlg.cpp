// The main window: construction, initialisation, control states, tray icon and menu, expand
// and collapse, hiding, exit and the About box. Portable.
#include "app/ovra7_server_dlg.h"

#include "app/about_dialog.h"
#include "app/autostart_setting.h"
#include "app/main_window_template.h"
#include "app/port_discovery.h"
#include "dfu/dfu_dialog_template.h"
#include "log/log.h"

namespace app {
namespace {

const char kTipDefault[] = "读卡服务";
const char kTipUsb[] = "读卡服务(USB模式)";
const char kTipCat1[] = "读卡服务(Cat1模式)";
const char kServiceNotStarted[] = "当前服务未启动";
const char kMobileDataQuestion[] = "当前使用移动数据连接，是否在退出后保持读卡功能?";

// The size of the double-click square in the client area's bottom-left corner.
constexpr int kExpandSquare = 10;

// What the tray tip says is announced under this topic (the others are control ids).
constexpr int kTrayTopic = 0;

}  // namespace

COvra7ServerDlg::COvra7ServerDlg(DialogEnvironment env)
    : ui::Dialog(MainWindowTemplate()), env_(std::move(env)) {
  service_ = std::make_unique<Ovra7Service>(this, &COvra7ServerDlg::notifyUpgradeFileDownloaded,
                                            env_.opener);
  if (env_.resolver) service_->SetResolverForTesting(env_.resolver);
  // A reader's port that hung up is a removed device, as Windows reports it: the scan that
  // follows stops the dead service at once and the reader's return starts a new one.
  service_->SetPortLostCallback([this] { PostDeviceChange(ui::kDeviceRemoveComplete); });
  iconId_ = kIconApp;
  store_.Prepare(env_.settingsFolder);
  Settings s = store_.Load();
  configuredPort_ = s.port;
  savedNetworkMode_ = s.networkMode;
  autoStart_ = s.autoStart;
  LogEnabled.store(s.log, std::memory_order_relaxed);
  usbHeartBeat_ = s.usbHeartBeat;
  cat1HeartBeat_ = s.cat1HeartBeat;
  networkChoice_ = savedNetworkMode_;
  service_->SetHeartBeatInterval(usbHeartBeat_, cat1HeartBeat_, false, true);
}

COvra7ServerDlg::~COvra7ServerDlg() {
  // The process is ending; a service still running must not outlive its window.
  if (service_ && service_->IsRunning()) service_->Stop(false);
  // A relay thread that ended by itself may still be telling this window so: it is joined first.
  service_.reset();
  DestroyWindow();
}

void COvra7ServerDlg::DoDataExchange(ui::DataExchange& dx) {
  dx.Radio(ids::kModeAuto, networkChoice_);
  dx.Radio(ids::kConnectAuto, platformConnectChoice_);
  dx.Radio(ids::kCacheOff, dataCacheChoice_);
  dx.IntRange(ids::kUsbInterval, usbHeartBeat_, 60, 600);
  dx.IntRange(ids::kCat1Interval, cat1HeartBeat_, 60, 600);
}

bool COvra7ServerDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetIcon(iconId_);
  SetUpDownBuddy(ids::kUsbSpin, ids::kUsbInterval);
  SetUpDownBuddy(ids::kCat1Spin, ids::kCat1Interval);
  CheckItem(ids::kAutostartSystem, IsAutostartRegistered());
  tray_.Add(*this, kIconApp, kIconApp, kTipDefault);
  AnnounceOnChange(kTrayTopic, kTipDefault);
  CheckItem(ids::kLog, LogEnabled.load(std::memory_order_relaxed) != 0);
  CheckItem(ids::kAutoStartService, autoStart_ != 0);
  RegisterPortNotifications();
  DiscoverPorts();
  if (autoStart_) {
    StartCommand();  // as if the user had pressed start
  } else {
    serviceRequested_ = 0;
  }
  UpdateControlStates();
  FillPortBox();
  Collapse();
  if (!readerOnline_) SetTimer(kUpgradeCheckTimer, kUpgradeCheckDelayMs);
  return true;
}

void COvra7ServerDlg::UpdateControlStates() {
  bool requested = serviceRequested_ != 0;
  EnableItem(ids::kStart, !requested);
  EnableItem(ids::kStop, requested);
  EnableItem(ids::kChangePort, requested);
  EnableItem(ids::kPortBox, requested);
  if (!requested) SetPortLabel(kServiceNotStarted);
  bool online = readerOnline_ != 0;
  for (int id : {ids::kSwitchMode, ids::kQualityTest, ids::kQueryAuth, ids::kQueryPlatform,
                 ids::kChangePlatform, ids::kQueryStatus, ids::kModeAuto, ids::kModeUsb})
    EnableItem(id, online);
  EnableItem(ids::kModeCat1, online && !noCat1Module_);
  // Desktops that open the tray menu themselves show it as it stands now.
  tray_.SetMenu(TrayMenuItems());
}

void COvra7ServerDlg::ShowModeInTray(int mode) {
  if (mode == 1)
    tray_.Modify(kIconUsb, kTipUsb);
  else if (mode == 2)
    tray_.Modify(kIconCat1, kTipCat1);
  else
    tray_.Modify(kIconApp, kTipDefault);
  AnnounceOnChange(kTrayTopic, tray_.tip());
}

void COvra7ServerDlg::OnTrayNotify(int iconId, int mouseMessage) {
  if (iconId != kIconApp) return;
  if (mouseMessage == ui::kMouseLeftDown || mouseMessage == ui::kMouseLeftDoubleClick) {
    ShowWindow(true);
  } else if (mouseMessage == ui::kMouseRightUp) {
    ShowTrayMenu();
  }
}

std::vector<ui::MenuItem> COvra7ServerDlg::TrayMenuItems() const {
  bool requested = serviceRequested_ != 0;
  return {
      {ids::kTraySettings, "设置", true, false},
      {ids::kTrayStart, "启动", !requested, false},
      {ids::kTrayStop, "停止", requested, false},
      {ids::kTrayExit, "退出", true, false},
  };
}

void COvra7ServerDlg::ShowTrayMenu() {
  SetForeground();
  int command = tray_.TrackPopupMenu(TrayMenuItems());
  if (command != 0) OnCommand(command);
}

void COvra7ServerDlg::Collapse() {
  ui::Rect r = GetWindowRect();
  r.right = r.left + r.Width() / 2;
  MoveWindow(r);
}

void COvra7ServerDlg::Expand() {
  ui::Rect r = GetWindowRect();
  r.right = r.left + r.Width() * 2;
  MoveWindow(r);
}

void COvra7ServerDlg::OnLeftDoubleClick(int x, int y) {
  ui::Rect client = GetClientRect();
  bool inSquare = x >= client.left && x < client.left + kExpandSquare &&
                  y >= client.bottom - kExpandSquare && y < client.bottom;
  if (inSquare && !expanded_) {
    Expand();
    expanded_ = 1;
  }
}

void COvra7ServerDlg::OnCommand(int id) {
  switch (id) {
    case ids::kStart:
    case ids::kTrayStart:
      StartCommand();
      break;
    case ids::kStop:
    case ids::kTrayStop:
      StopCommand();
      break;
    case ids::kTraySettings:
      ShowWindow(true);
      break;
    case ids::kTrayExit:
      // The tray menu still answers while the flashing dialog runs; ending the program then
      // would stop an erase or a download half way and leave the reader without firmware.
      if (flashing_) {
        MessageBox(dfu::kWarningText);
        break;
      }
      Exit(true);
      break;
    case ids::kChangePort:
      ChangePort();
      break;
    case ids::kSwitchMode:
      SwitchNetworkMode();
      break;
    case ids::kQueryAuth:
      QueryAuthorization();
      break;
    case ids::kQueryPlatform:
      QueryPlatform();
      break;
    case ids::kChangePlatform:
      ChangePlatform();
      break;
    case ids::kQueryStatus:
      QueryConnectStatus();
      break;
    case ids::kQualityTest:
      TestNetworkQuality();
      break;
    case ids::kQueryHeartBeat:
      QueryHeartBeat();
      break;
    case ids::kChangeHeartBeat:
      ChangeHeartBeat();
      break;
    case ids::kCollapse:
      if (expanded_) {
        Collapse();
        expanded_ = 0;
      }
      break;
    case ids::kAutostartSystem:
      CheckItem(ids::kAutostartSystem,
                ToggleAutostartRegistration(IsItemChecked(ids::kAutostartSystem)));
      break;
    case ids::kAutoStartService:
      ToggleServiceAutoStart();
      break;
    case ids::kLog:
      ToggleLog();
      break;
    case ids::kAbout:
      ShowAbout();
      break;
    default:
      break;
  }
}

void COvra7ServerDlg::ToggleServiceAutoStart() {
  // The state comes from the file, not from the box, so a file changed meanwhile wins.
  int stored = store_.ReadInt(keys::kSettingSection, keys::kAutoStart, 1);
  autoStart_ = stored == 0 ? 1 : 0;
  store_.WriteInt(keys::kSettingSection, keys::kAutoStart, autoStart_);
  CheckItem(ids::kAutoStartService, autoStart_ != 0);
}

void COvra7ServerDlg::ToggleLog() {
  const int now = LogEnabled.load(std::memory_order_relaxed) == 0 ? 1 : 0;
  LogEnabled.store(now, std::memory_order_relaxed);
  store_.WriteInt(keys::kSetSection, keys::kLog, now);
}

void COvra7ServerDlg::ShowAbout() {
  CAboutDialog about;
  about.DoModal();
}

void COvra7ServerDlg::Exit(bool mayAsk) {
  bool notify = true;
  if (mayAsk && service_->IsRunning()) {
    uint8_t statusCode = 0, connectionType = 0;
    if (service_->QueryConnectStatus(&statusCode, &connectionType) == 0 && connectionType == 2 &&
        MessageBox(kMobileDataQuestion, ui::MessageBoxButtons::kYesNo, "提示") ==
            ui::MessageBoxResult::kYes)
      notify = false;
  }
  StopService(notify);
  exiting_ = true;
  PostMessage(WM_POSTED_DESTROY, 0, 0);
}

void COvra7ServerDlg::DeliverPowerEvent(int event) {
  {
    std::lock_guard<std::mutex> hold(inboxLock_);
    powerEvents_.push_back(event);
  }
  SendMessage(WM_POWER_EVENT, 0, 0);
}

void COvra7ServerDlg::OnDestroy() {
  tray_.Remove();
  ui::PostQuit(0);
}

intptr_t COvra7ServerDlg::OnAppMessage(int msg, intptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case WM_SERVICE_CONTROL:
      return OnServiceControl(static_cast<int>(wparam), static_cast<int>(lparam));
    // Doorbells: what they ring for waits in the window's queues; their parameters are not read.
    case WM_UPGRADE_FILE_READY:
      return OnUpgradeFileDownloadFinished();
    case WM_UPGRADE_REQUEST:
      ServeUpgradeRequests();
      return 0;
    case WM_POWER_EVENT:
      for (;;) {
        int event = 0;
        {
          std::lock_guard<std::mutex> hold(inboxLock_);
          if (powerEvents_.empty()) return 1;
          event = powerEvents_.front();
          powerEvents_.pop_front();
        }
        OnPowerBroadcast(event);
      }
    case WM_SHOW_REQUEST:
      WriteLog("show window");
      ShowWindow(true);
      return 0;
    case WM_EXIT_REQUEST:
      RequestExit(wparam != kExitWithoutQuestion);
      return 0;
    case WM_POSTED_DESTROY:
      // Only the destroy that Exit posted: from another process this number means nothing.
      if (exiting_) DestroyWindow();
      return 0;
    default:
      return 0;
  }
}

}  // namespace app
