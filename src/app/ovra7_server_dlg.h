// COvra7ServerDlg: the program's settings window behind the tray icon. It owns the relay service
// for the life of the process, holds the settings in memory, decides when the service runs and
// presents the reader's configuration. Portable: built on the dialog framework (ui/).
//
// Every handler runs on the loop thread. Handlers that talk to the reader block that thread for
// the length of the command (up to 2 s each, 5 s per quality probe; the server reachability test
// up to 3 s per address). Other threads reach the window only through PostMessage/SendMessage.
// Another process may ask it to exit: the Windows installer and uninstaller find the window by
// its title and send WM_EXIT_REQUEST with kExitWithoutQuestion, so that no message box waits.
// While a flash runs, an exit of any origin (and the session's end) waits for it to end.
//
// On Windows any process of the session can send the window its private messages. So what
// another process may send is only integers (WM_SERVICE_CONTROL, the show and exit requests);
// whatever carries more (a package path, an upgrade request with its answer, a power event) is
// queued in the window by the program's own threads, and its message only rings the bell: a
// message that finds nothing queued does nothing.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "dfu/dfu_upgrade_dialog.h"
#include "platform/app_data.h"
#include "platform/single_instance.h"
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
// A power event from a monitor thread that waits until it was handled (DeliverPowerEvent).
constexpr int WM_POWER_EVENT = 2043;
// The control socket's "upgrade": the request waits in the window's queue (RequestUpgrade).
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
  // Any thread: queues the control socket's "upgrade" and returns at once; `reply` gets the
  // kUpgrade... code and the dialog's last status line when the flash has ended (at once when
  // none can run).
  void RequestUpgrade(platform::UpgradeReply reply);
  // Any thread but the window's: hands a power event to the window and waits until it was
  // handled.
  void DeliverPowerEvent(int event);
  // An exit was asked for while a flash runs; it is carried out when the flash has ended.
  bool exitPending() const { return exitPending_; }

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
  // Refused while a flash runs (the reason is on the windows, see platform/session_end.h).
  bool OnQueryEndSession() override;
  // The session ends anyway: the exit without its question.
  void OnEndSession() override;
  void OnDestroy() override;

 private:
  // Window and tray (ovra7_server_dlg.cpp).
  void UpdateControlStates();
  void ShowModeInTray(int mode);
  std::vector<ui::MenuItem> TrayMenuItems() const;  // the tray menu for the current state
  void ShowTrayMenu();
  void Collapse();
  void Expand();
  // The exit command; mayAsk: the mobile-data question may be asked (not for a signal).
  void Exit(bool mayAsk);
  // An exit from outside (a signal, the installer, the session's end): deferred while a flash
  // runs, until its sequence has ended.
  void RequestExit(bool mayAsk);
  void ShowAbout();
  void ToggleServiceAutoStart();
  void ToggleLog();
  // Upgrade flow (upgrade_flow.cpp).
  static void notifyUpgradeFileDownloaded(void* context, const char* path);
  // Flashes the package the download thread queued (nothing when none is queued); always 1.
  int OnUpgradeFileDownloadFinished();
  // Serves the queued "upgrade" requests (nothing when none is queued).
  void ServeUpgradeRequests();
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
  // The external start's own steps: opens the port without touching the window's flags, mode or
  // watchdog; true when it opened.
  bool StartForControl();
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
  // An external start holds until a stop: a reader that goes away meanwhile has its dead port
  // closed and is started the same way again when it is back.
  bool externalStart_ = false;
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
  DFUpgradeDialog* flashingDialog_ = nullptr;  // that dialog while it runs
  bool exitPending_ = false;   // an exit waits for the flash to end
  bool exitMayAsk_ = true;     // ... and whether it may ask its question then
  bool exiting_ = false;       // Exit ran: the posted destroy is ours
  std::map<int, std::string> announced_;  // last line announced per topic

  // What the program's other threads hand the window (see the top of this file).
  std::mutex inboxLock_;
  std::deque<std::string> downloadedPackages_;
  std::deque<platform::UpgradeReply> upgradeRequests_;
  std::deque<int> powerEvents_;
};

}  // namespace app
