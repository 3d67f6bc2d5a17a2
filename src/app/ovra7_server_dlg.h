// COvra7ServerDlg: the program's settings window behind the tray icon. It owns the relay service
// for the life of the process, holds the settings in memory, decides when the service runs and
// presents the reader's configuration. Portable: built on the dialog framework (ui/).
//
// Every handler runs on the loop thread. Handlers that talk to the reader block that thread for
// the length of the command (up to 2 s each, 5 s per quality probe; the server reachability test
// up to 3 s per address). Other threads reach the window only through PostMessage/SendMessage.
// Another process may ask it to exit: the Windows installer and uninstaller find the window by
// its title and send WM_EXIT_REQUEST with kExitWithoutQuestion, so that no message box waits.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "dfu/dfu_upgrade_dialog.h"
#include "platform/app_data.h"
#include "relay/ovra7_service.h"
#include "ui/dialog.h"
#include "ui/tray_icon.h"

namespace app {

// The window's private messages (WM_USER + n).
constexpr int WM_SERVICE_CONTROL = 2030;
constexpr int WM_UPGRADE_FILE_READY = 2031;
// Within the process: show the window (a second start), exit (a termination signal, and the
// installer from outside, see above), and the destroy the exit command posts to the window.
constexpr int WM_SHOW_REQUEST = 2040;
constexpr int WM_EXIT_REQUEST = 2041;
// WM_EXIT_REQUEST's wparam for a termination signal: nobody may be there to answer the exit
// question (a session ending, a service manager), so the reader is told as the default answer.
constexpr intptr_t kExitWithoutQuestion = 1;
constexpr int WM_POSTED_DESTROY = 2042;
// A power event from a monitor thread that waits until it was handled (wparam: the event).
constexpr int WM_POWER_EVENT = 2043;
// The control socket's "upgrade" (sent; lparam: a std::string* for the last status line; the
// result is a kUpgrade... code of platform/control_protocol.h).
constexpr int WM_UPGRADE_REQUEST = 2044;

// Timer ids and periods.
constexpr int kStatusTimer = 1;
constexpr int kModeWatchdogTimer = 2;
constexpr int kPortScanTimer = 3;
constexpr int kUpgradeCheckTimer = 4;
constexpr int kStatusPeriodMs = 1000;
constexpr int kWatchdogPeriodMs = 30000;
constexpr int kScanPeriodMs = 10000;
constexpr int kScanAfterDeviceEventMs = 500;
constexpr int kScanAfterResumeMs = 20000;
constexpr int kUpgradeCheckDelayMs = 2000;

// What the window needs from outside; the defaults are the real machine. Tests plug a simulated
// reader (opener), their own device list and a settings folder of their own.
struct DialogEnvironment {
  std::string settingsFolder = platform::ProgramDataFolder();
  SerialOpener opener = platform::OpenSerialPort;
  std::function<std::vector<std::string>()> discoverPorts;  // empty: the machine's readers
  HostResolver resolver;                                    // empty: the service's own
};

class COvra7ServerDlg : public ui::Dialog {
 public:
  // Prepares the settings folder, loads the settings and creates the relay service, handing it
  // the heartbeat intervals (store only). The window itself is made by Create().
  explicit COvra7ServerDlg(DialogEnvironment env = DialogEnvironment());
  ~COvra7ServerDlg() override;

  // --- the service (loop thread) ---
  void StartService();
  void StopService(bool notify);
  void StartCommand();
  void StopCommand();
  // WM_SERVICE_CONTROL: the five command rows; the result is the message's result.
  long OnServiceControl(int command, int argument);
  // The pending-upgrade check with its question answered Yes: flashes a reader waiting in DFU
  // mode from the package cache. Blocks until the flashing dialog has ended. Returns a
  // kUpgrade... code; *lastStatus gets the dialog's last status line ("" when none ran).
  long RunPendingUpgrade(std::string* lastStatus);
  bool flashing() const { return flashing_; }

  Ovra7Service& service() { return *service_; }
  const std::vector<std::string>& portList() const { return portList_; }
  const SettingsStore& settings() const { return store_; }
  int configuredPort() const { return configuredPort_; }
  int savedNetworkMode() const { return savedNetworkMode_; }
  int networkChoice() const { return networkChoice_; }
  bool serviceRequested() const { return serviceRequested_ != 0; }
  bool readerOnline() const { return readerOnline_ != 0; }
  bool expanded() const { return expanded_ != 0; }
  const ui::TrayIcon& trayIcon() const { return tray_; }

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  void OnCommand(int id) override;
  void OnTimer(int id) override;
  void OnDeviceChange(int event) override;
  int OnPowerBroadcast(int event) override;
  void OnTrayNotify(int iconId, int mouseMessage) override;
  int OnUpDownStep(int id, int delta) override;
  intptr_t OnAppMessage(int msg, intptr_t wparam, intptr_t lparam) override;
  void OnLeftDoubleClick(int x, int y) override;
  void OnDestroy() override;

 private:
  // Window and tray (ovra7_server_dlg.cpp).
  void UpdateControlStates();
  void ShowModeInTray(int mode);
  void ShowTrayMenu();
  void Collapse();
  void Expand();
  // The exit command; mayAsk: the mobile-data question may be asked (not for a signal).
  void Exit(bool mayAsk);
  void ShowAbout();
  void ToggleServiceAutoStart();
  void ToggleLog();
  // Upgrade flow (upgrade_flow.cpp).
  static void notifyUpgradeFileDownloaded(void* context, const char* path);
  // Takes the path buffer and frees it; always 1.
  int OnUpgradeFileDownloadFinished(char* path);
  void checkPendingDfuUpgrade();
  long FlashPendingDevice(bool answeredYes, std::string* lastStatus);
  long RunFlashingDialog(DFUpgradeDialog& dialog, std::string* lastStatus);

  // Ports and service (service_control.cpp).
  void DiscoverPorts();
  void FillPortBox();
  void CheckServicePort();
  void ChangePort();
  void PortScan();
  void ModeWatchdog();
  void RefreshStatus();
  void SetPortLabelFromService();
  // After a message box inside a start: whether the service is still wanted and running, that
  // is, no stop was handled while the box was open.
  bool StartStillWanted() const;
  void SetPortLabel(const std::string& text);
  // Tells a console (the headless program) a line of what the window shows, once per change.
  void AnnounceOnChange(int topic, const std::string& line);
  std::string PortName(int n) const;

  // Reader configuration panel (reader_panel.cpp).
  void SwitchNetworkMode();
  void QueryAuthorization();
  bool ReadPlatformSettings();
  void QueryPlatform();
  void ChangePlatform();
  void QueryConnectStatus();
  void TestNetworkQuality();
  void QueryHeartBeat();
  void ChangeHeartBeat();

  DialogEnvironment env_;
  int iconId_ = 0;
  ui::TrayIcon tray_;
  std::vector<std::string> portList_;
  int configuredPort_ = 0;
  int savedNetworkMode_ = 0;
  int autoStart_ = 1;
  int serviceRequested_ = 0;
  std::unique_ptr<Ovra7Service> service_;
  SettingsStore store_;
  int expanded_ = 0;
  int readerOnline_ = 0;
  int networkChoice_ = 0;
  int platformConnectChoice_ = 0;
  int dataCacheChoice_ = 0;
  int usbHeartBeat_ = 600;
  int cat1HeartBeat_ = 600;
  bool noCat1Module_ = false;  // the last start learnt the reader has no Cat1 module
  bool flashing_ = false;      // a flashing dialog runs (its modal loop serves our messages)
  std::map<int, std::string> announced_;  // last line announced per topic
};

}  // namespace app
