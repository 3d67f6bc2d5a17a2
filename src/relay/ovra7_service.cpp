// Portable: the relay service's lifecycle, the relay thread and the server-to-reader direction.
#include "relay/ovra7_service.h"

#include <cstring>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/port_names.h"
#include "platform/thread_name.h"
#include "platform/thread_start.h"

const char* const Ovra7Service::kDefaultServerHost = "ovra7.cardserver.cn";

Ovra7Service::Ovra7Service(void* owner, DownloadFinishedCallback callback, SerialOpener opener)
    : responseBuffer_(new uint8_t[kResponseBufferSize]()),
      serverHost_(kDefaultServerHost),
      downloader_(new UpgradeDownloader()),
      opener_(std::move(opener)),
      resolver_(platform::ResolveIPv4) {
  downloader_->setDownloadCallback(owner, callback);
}

Ovra7Service::~Ovra7Service() {
  // The process keeps the service until it ends; a test's service must not leave its thread.
  StopRelayThread();
  platform::CloseSocket(socketHandle_.exchange(platform::kInvalidSocket));
}

int Ovra7Service::Start(int n, const std::vector<std::string>& portNames) {
  // A relay thread that is still joinable would be overwritten below (a crash) and would read a
  // port closed under it: end it first.
  if (relayThread_.joinable()) StopRelayThread();
  if (comHandle_) {
    WriteLog("COM is already open while start service, close it");
    comHandle_.reset();
  }
  if (n != 0) {
    WriteLog("Open port %d", n);
    auto port = OpenComm(n, 115200);
    if (!port) {
      WriteLog("open %d failed", n);
      return 0;
    }
    return StartRelayThread(std::move(port), n) ? 1 : 0;
  }
  for (size_t i = 1; i < portNames.size(); ++i) {
    const std::string& name = portNames[i];
    WriteLog("try to open %s", name.c_str());
    int m = platform::PortNumberFromName(name);
    std::unique_ptr<platform::SerialPort> port = m > 0 ? OpenComm(m, 115200) : nullptr;
    if (port) return StartRelayThread(std::move(port), m) ? 1 : 0;
    // The digits the number was read from: the name without its "COM" on Windows.
    std::string digits = name.size() > 3 ? name.substr(3) : std::string();
    if (platform::NativePortNameStyle() == platform::PortNameStyle::kLinux) digits = name;
    WriteLog("open %s failed", digits.c_str());
  }
  return 0;
}

bool Ovra7Service::StartRelayThread(std::unique_ptr<platform::SerialPort> port, int n) {
  comHandle_ = std::move(port);
  stopRequested_ = false;
  running_ = 1;
  if (platform::StartThread(&relayThread_, [this] { RelayThread(); })) {
    comPort_ = n;
    return true;
  }
  // A system out of threads: the port is not held by a service that cannot serve it.
  WriteLog("relay thread could not be started");
  running_ = 0;
  comHandle_.reset();
  return false;
}

void Ovra7Service::JoinRelayThread() {
  if (relayThread_.joinable() && relayThread_.get_id() != std::this_thread::get_id())
    relayThread_.join();
}

void Ovra7Service::StopRelayThread() {
  stopRequested_ = true;
  EndRelay();
  JoinRelayThread();
}

int Ovra7Service::Stop(bool notify) {
  WriteLog("enter Ovra7Service::Stop");
  comPort_ = -1;
  if (notify) DisconnectPlatform();
  StopServerConnect();
  // Also collects a thread that ended by itself (failed write or head read).
  StopRelayThread();
  UninitComm();
  WriteLog("leave Ovra7Service::Stop");
  return 1;
}

void Ovra7Service::StopServerConnect() {
  WriteLog("StopServerConnect begin");
  comReadBytes_ = 0;
  comWriteBytes_ = 0;
  serverRecvBytes_ = 0;
  serverSendBytes_ = 0;
  serverLinkActive_ = 0;
  WriteLog("StopServerConnect end");
}

void Ovra7Service::GetComStatusText(std::string* text) const {
  *text = comHandle_ ? "已打开" : "未打开";
}

void Ovra7Service::GetServerStatusText(std::string* text) const {
  *text = IsServerConnected() ? "已连接" : "未连接";
}

void Ovra7Service::SetServerAddress(const std::string& host, int port) {
  std::lock_guard<std::mutex> guard(hostLock_);
  serverHost_ = host;
  serverPort_ = port;
}

std::string Ovra7Service::GetServerHost() const {
  std::lock_guard<std::mutex> guard(hostLock_);
  return serverHost_;
}

void Ovra7Service::RelayThread() {
  platform::NameThisThread("ovra7-relay");
  platform::SerialPort* port = comHandle_.get();
  const intptr_t portFd = port->WaitHandle();
  // Where the port, the socket and the wake-up signal can be waited on together, the thread sleeps
  // until one of them has something; otherwise it looks at least every millisecond.
  intptr_t portWait = portFd;
  intptr_t wake = portWait >= 0 ? wake_.Handle() : -1;
  int waitUs = wake >= 0 ? -1 : 1000;
  bool waitFailed = false;
  while (running_) {
    platform::SocketHandle s = socketHandle_.load();
    bool waitedOnPort = false;
    if (s != platform::kInvalidSocket || portWait >= 0) {
      int ready = platform::WaitRelayEvents(s, portWait, wake, waitUs);
      if (ready < 0) {
        // A failed wait fails again at once, and would spin the thread: from here on it looks at
        // the port every millisecond and waits on the socket alone, as where there is no such wait.
        if (!waitFailed) WriteLog("relay wait failed");
        waitFailed = true;
        portWait = wake = -1;
        waitUs = 1000;
      } else {
        waitedOnPort = portWait >= 0;
        if (ready & platform::kWoken) wake_.Clear();
        if (ready & platform::kSocketReadable) ReadServer();
        if (ready & platform::kPortHungUp) break;
        // The wait saw nothing on the port: its queue is empty and the wait was this pass's sleep.
        if (waitedOnPort && !(ready & platform::kPortReadable)) continue;
      }
    }
    uint32_t errors = 0, queued = 0;
    bool queried = port->QueryStatus(&errors, &queued);
    if (queried && errors != 0) {
      WriteLog("comm error");
      if (queued > 0) port->PurgeReceive();
      continue;
    }
    if (!queried || queued == 0) {
      if (!waitedOnPort || !queried) platform::SleepMs(1);
      continue;
    }
    ReadCom();
  }
  platform::CloseSocket(socketHandle_.exchange(platform::kInvalidSocket));
  // However the loop ended (the wait saw it, or a read failed as the device went in the middle
  // of a frame), a port that has hung up is a device that went away; unless the owner stopped
  // the service, as it does when the machine goes to sleep and takes the device with it.
  if (stopRequested_) return;
  const int last =
      portFd >= 0 ? platform::WaitRelayEvents(platform::kInvalidSocket, portFd, -1, 0) : 0;
  if (last > 0 && (last & platform::kPortHungUp)) PortHungUp();
}

void Ovra7Service::PortHungUp() {
  // The device is gone for good (a hung-up terminal never comes back): the service ends, and the
  // owner hears of it as of a removed device, so that it looks for the reader again at once.
  WriteLog("com port hung up");
  running_ = 0;
  if (portLost_) portLost_();
}

void Ovra7Service::ReportServerLost() {
  // Once per lost link: every relay frame the reader sent before it heard of the loss would
  // otherwise cost another notice and its two-second wait, holding its connect request back.
  if (lossReported_) return;
  lossReported_ = true;
  NotifyServerLost(1);
}

void Ovra7Service::EndRelay() {
  running_ = 0;
  wake_.Raise();
}

void Ovra7Service::ReadServer() {
  uint8_t buffer[relay::kReceiveBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  platform::SocketHandle s = socketHandle_.load();
  int count = platform::Receive(s, buffer + 1, relay::kReceiveBufferSize - 1);
  if (count <= 0) {
    WriteLog("read failed");
    {
      std::lock_guard<std::mutex> guard(socketLock_);
      // Only the socket that failed: a connect request may have installed a new one meanwhile.
      platform::SocketHandle expected = s;
      if (socketHandle_.compare_exchange_strong(expected, platform::kInvalidSocket))
        platform::CloseSocket(s);
    }
    if (serverLinkActive_ && !lossReported_) {
      platform::SleepMs(10);
      ReportServerLost();
    }
    return;
  }
  const uint8_t* data = buffer + 1;
  LogHex("read server: ", data, static_cast<size_t>(count));
  bool sawOk = false;
  if (count > 3 && data[0] == 0x01 && data[1] == 0x3F && data[2] == 0x02) {
    // A text notice: logged up to its first zero byte, searched over all that was received.
    std::string notice(reinterpret_cast<const char*>(data + 3), static_cast<size_t>(count - 3));
    WriteLog("%s", notice.c_str());
    if (notice.find(":Upgrade:") != std::string::npos) serverLinkActive_ = 0;
    if (notice.find(":OK:") != std::string::npos) sawOk = true;
  }
  serverRecvBytes_ += static_cast<uint32_t>(count);
  buffer[0] = relay::kRelayData;
  WriteCom(buffer, count + 1);
  if (sawOk && serverLinkActive_ && keepAliveSet_) {
    SetHeartBeatInterval(usbHeartBeat_, cat1HeartBeat_, true, false);
  }
}

void Ovra7Service::ServeConnectRequest() {
  {
    std::lock_guard<std::mutex> guard(portLock_);
    reconnecting_ = 1;
  }
  StopServerConnect();
  platform::SocketHandle s = ConnectServer();
  if (s != platform::kInvalidSocket) {
    platform::SocketHandle old;
    {
      std::lock_guard<std::mutex> guard(socketLock_);
      old = socketHandle_.exchange(s);
      serverLinkActive_ = 1;
      lossReported_ = false;
    }
    // The service holds one connection; the one a new request replaces would otherwise leak.
    platform::CloseSocket(old);
    NotifyConnectResult(0, 0);
  } else {
    NotifyConnectResult(1, 1);
  }
  std::lock_guard<std::mutex> guard(portLock_);
  reconnecting_ = 0;
}
