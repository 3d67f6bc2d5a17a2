// The relay service: owns the reader's serial port and the server connection, runs the relay
// thread that moves traffic between them, carries the host's command transactions to the reader
// and answers the reader's upgrade requests. Portable.
//
// Threads:
//  - the owner's UI thread: Start, Stop, the status accessors, TestServer and the commands;
//  - the relay thread (one per Start): reads and routes every reader frame, relays server data,
//    serves the connect request, sends its own notices and answers 0x0D / 0x0E.
// portLock serialises every serial write and guards the stored response and `reconnecting`;
// socketLock guards the installation of a new server connection. Counters and flags are
// atomics read without a lock. Nothing on the relay thread waits for the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial.h"
#include "platform/socket.h"
#include "platform/wake_signal.h"
#include "relay/manual_reset_event.h"
#include "relay/reader_frame.h"
#include "upgrade/upgrade_downloader.h"

// Opens port n at the given baud rate; the product uses platform::OpenSerialPort, tests plug an
// in-memory cable.
using SerialOpener = std::function<std::unique_ptr<platform::SerialPort>(int n, int baud)>;
// Resolves a host name to dotted IPv4 texts in the resolver's order; tests plug their own.
using HostResolver = std::function<bool(const std::string& host, std::vector<std::string>*)>;

class Ovra7Service {
 public:
  static constexpr int kDefaultServerPort = 21313;
  static constexpr int kResponseBufferSize = 65536;
  static constexpr int kRequestBufferSize = 256;
  static constexpr int kResponseAreaSize = 4096;
  static constexpr int kCommandTimeoutMs = 2000;
  static constexpr int kQualityTimeoutMs = 5000;
  static constexpr int kConnectTimeoutMs = 3000;
  static constexpr int kGateTimeoutMs = 5000;
  static constexpr int kServerSendTimeoutMs = 5000;
  static constexpr int kMaxCandidates = 5;
  static constexpr int kMaxPlatformHost = 250;       // bytes on the wire, code page 936
  static constexpr int kMaxPlatformHostShown = 240;  // bytes of the reader's answer taken
  // The default card server; deployment data, replaced by the reader's platform address.
  static const char* const kDefaultServerHost;

  // owner and callback go to the downloader, which calls callback(owner, path) when a package
  // meant for flashing is ready; the service itself never calls them.
  Ovra7Service(void* owner, DownloadFinishedCallback callback,
               SerialOpener opener = platform::OpenSerialPort);
  ~Ovra7Service();
  Ovra7Service(const Ovra7Service&) = delete;
  Ovra7Service& operator=(const Ovra7Service&) = delete;

  // --- lifecycle (UI thread) ---
  // n > 0 opens COMn; n == 0 walks portNames from entry 1 (entry 0 is the automatic choice).
  // 1 when a port opened and the relay thread started, else 0.
  int Start(int n, const std::vector<std::string>& portNames);
  // Optionally tells the reader DisconnectPlatform, ends the server session, waits for the relay
  // thread without a limit and closes the port. Always 1.
  int Stop(bool notify);
  // Resets the four counters and serverLinkActive; the socket stays open.
  void StopServerConnect();

  int IsRunning() const { return running_.load(); }
  // Called on the relay thread when the port's device has gone (a hung-up terminal), after the
  // service stopped relaying; the owner looks for the reader again. Set it before Start.
  void SetPortLostCallback(std::function<void()> callback) { portLost_ = std::move(callback); }
  bool IsServerConnected() const { return socketHandle_.load() != platform::kInvalidSocket; }
  int GetComPort() const { return comPort_.load(); }
  uint32_t GetComReadBytes() const { return comReadBytes_.load(); }
  uint32_t GetComWriteBytes() const { return comWriteBytes_.load(); }
  uint32_t GetServerRecvBytes() const { return serverRecvBytes_.load(); }
  uint32_t GetServerSendBytes() const { return serverSendBytes_.load(); }
  void GetComStatusText(std::string* text) const;     // "已打开" / "未打开"
  void GetServerStatusText(std::string* text) const;  // "已连接" / "未连接"

  void SetServerAddress(const std::string& host, int port);
  std::string GetServerHost() const;
  int GetServerPort() const { return serverPort_.load(); }
  // 1 when serverHost:serverPort accepts a connection (closed again at once), else 0.
  int TestServer();

  // --- reader commands (UI thread unless noted). Results: -1 not sent, -3 no answer in time,
  // -7 wait failed, -2/-4 as noted, else the reader's status byte. ---
  int QueryCat1Module(uint8_t* model, uint8_t* secondByte);
  int SetNetworkMode(int mode);
  int QueryConnectStatus(uint8_t* statusCode, uint8_t* connectionType);
  int DisconnectPlatform();
  // auth: 32 raw bytes; mac: 12 characters; iccid: 20 characters (not terminated).
  int GetAuthorizationInfo(uint8_t* auth, char* mac, char* iccid);
  // host is UTF-8 and goes to the reader in code page 936. A host that code page 936 cannot
  // encode, or that takes more than 250 bytes in it, is refused without sending (-1).
  int SetPlatformInfo(uint8_t connectMethod, uint8_t dataCache, uint16_t port,
                      const std::string& host);
  // host receives the reader's text (at most 240 bytes of code page 936, up to its first zero)
  // as UTF-8; bytes that are no character of the code page show as U+FFFD.
  int GetPlatformInfo(uint8_t* connectMethod, uint8_t* dataCache, uint16_t* port,
                      std::string* host);
  // Relay thread: no gate, no wait.
  int NotifyConnectResult(uint8_t x, uint8_t y);
  // Relay thread: a waiting command that always ends by its time-out (only the relay reads).
  int NotifyServerLost(uint8_t arg);
  // Delay in ms, or -1 / -2 (wait failed) / -3 (time-out or other code) / -4 (status not 0).
  int TestNetworkQuality(uint8_t a, uint8_t b);
  int NotifyEnterDfuMode();
  // Stores the intervals; storeOnly sends nothing; noWait sends without waiting (relay thread).
  int SetHeartBeatInterval(int usbSeconds, int cat1Seconds, bool noWait, bool storeOnly);
  int GetHeartBeatInterval(int* usbSeconds, int* cat1Seconds);
  int GetUsbHeartBeat() const { return usbHeartBeat_.load(); }
  int GetCat1HeartBeat() const { return cat1HeartBeat_.load(); }

  // --- the reader's upgrade requests (relay thread) ---
  void procDownloadUpgradeFile(const uint8_t* data, int n);
  void procSendUpgradeFile(const uint8_t* data, int n);
  UpgradeDownloader* downloader() { return downloader_.get(); }

  // --- serial link ---
  // Frames payload and writes it under portLock. Payload bytes written (written - 5) or -1; a
  // failed write clears `running`.
  int WriteCom(const uint8_t* payload, int n);
  // 1 when a host command may be sent: running, and no connect request holds the link (waits up
  // to 5000 ms, checking every 100 ms). 0 otherwise.
  int WaitComCanSend();
  // Reads, checks and routes one frame. Relay thread only; public so that the frame fuzzer can
  // drive it without a thread.
  void ReadCom();

  // Gives the service a port without starting the relay thread, for callers that drive ReadCom
  // themselves (the frame fuzzer). Only while the service is stopped.
  void AttachPortWithoutRelay(std::unique_ptr<platform::SerialPort> port);

  // Tests replace the resolver (default: platform::ResolveIPv4).
  void SetResolverForTesting(HostResolver resolver) { resolver_ = std::move(resolver); }
  // Tests see each time the gate lets a reader command through, on the calling thread, before
  // the command goes on (so they can make something happen right there). Read without a lock:
  // set it before commands run.
  void SetGatePassedHookForTesting(std::function<void()> hook) { gatePassed_ = std::move(hook); }
  // Tests shorten the waits for the reader's answers, for the gate and for a blocked server send,
  // so that cases about them run out quickly. Set it before Start.
  struct Timeouts {
    int commandMs = kCommandTimeoutMs;
    int qualityMs = kQualityTimeoutMs;
    int gateMs = kGateTimeoutMs;
    int serverSendMs = kServerSendTimeoutMs;
  };
  void SetTimeoutsForTesting(const Timeouts& timeouts) { timeouts_ = timeouts; }

 private:
  std::unique_ptr<platform::SerialPort> OpenComm(int n, int baud);
  void UninitComm();
  bool StartRelayThread(std::unique_ptr<platform::SerialPort> port, int n);
  void JoinRelayThread();
  // The owner ends the relay thread (Stop, a new Start, the service's end) and waits for it.
  void StopRelayThread();
  void RelayThread();
  void PortHungUp();
  // Clears `running` and wakes the relay thread, wherever it sleeps.
  void EndRelay();
  void ReadServer();
  void RouteFrame(const uint8_t* frame, int length);
  void ServeConnectRequest();
  void StoreResponse(const uint8_t* record, int n);

  platform::SocketHandle ConnectServer();
  platform::SocketHandle ConnectWithTimeout(const std::string& address, int port, int timeoutMs);
  int SendServer(const uint8_t* data, int n);
  // NotifyServerLost, unless the reader was told already since the last connection was made.
  void ReportServerLost();

  // WaitComCanSend for a command, then the test hook when it let the command through.
  int PassGate();
  // The standard transaction: gate, reset the event, write, wait. Returns 0 with the answer in
  // area (kResponseAreaSize bytes, zero-filled), or -1 / -3 / -7.
  int Transact(const uint8_t* payload, int n, int timeoutMs, uint8_t* area);
  // The transaction after its gate: reset the event, write, wait. 0, -3 or -7 as above.
  int SendAndWait(const uint8_t* payload, int n, int timeoutMs, uint8_t* area);
  int WaitResponse(int timeoutMs, uint8_t* area);

  std::atomic<platform::SocketHandle> socketHandle_{platform::kInvalidSocket};
  std::atomic<int> serverLinkActive_{0};
  // The reader was told the server is lost since the last connection was made (relay thread).
  bool lossReported_ = false;
  std::mutex socketLock_;
  std::atomic<int> running_{0};
  // The owner asked the relay thread to end: a port that hangs up meanwhile is not reported.
  std::atomic<bool> stopRequested_{false};
  platform::WakeSignal wake_;
  // Written only by the UI thread while no relay thread runs; read by the relay thread.
  std::unique_ptr<platform::SerialPort> comHandle_;
  std::thread relayThread_;
  std::unique_ptr<uint8_t[]> responseBuffer_;
  int responseLength_ = 0;  // guarded by portLock_
  std::mutex portLock_;
  relay::ManualResetEvent responseEvent_;
  std::atomic<uint32_t> comWriteBytes_{0};
  std::atomic<uint32_t> comReadBytes_{0};
  std::atomic<uint32_t> serverSendBytes_{0};
  std::atomic<uint32_t> serverRecvBytes_{0};
  std::atomic<int> comPort_{0};
  mutable std::mutex hostLock_;  // serverHost_ is text: set by a command, read by the relay
  std::string serverHost_;
  std::atomic<int> serverPort_{kDefaultServerPort};
  uint8_t reconnecting_ = 0;  // guarded by portLock_
  std::unique_ptr<UpgradeDownloader> downloader_;
  std::atomic<int> keepAliveSet_{0};
  std::atomic<int> usbHeartBeat_{600};
  std::atomic<int> cat1HeartBeat_{600};

  SerialOpener opener_;
  HostResolver resolver_;
  std::function<void()> gatePassed_;
  Timeouts timeouts_;
  std::function<void()> portLost_;
};
