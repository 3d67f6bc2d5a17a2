// Portable: the host's command transactions with the reader. Each transaction builds its request
// and reads its answer in buffers of its own, so a send on the relay thread never overwrites a
// request or an answer of the UI thread (or the other way round).
#include <algorithm>
#include <cstring>

#include "log/log.h"
#include "relay/ovra7_service.h"
#include "relay/serial_text.h"

using namespace relay;

namespace {

int Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

}  // namespace

int Ovra7Service::WaitResponse(int timeoutMs, uint8_t* area) {
  std::memset(area, 0, kResponseAreaSize);
  if (!responseEvent_.Wait(timeoutMs)) {
    WriteLog("read input report timeout");
    return -3;
  }
  std::lock_guard<std::mutex> guard(portLock_);
  // The receive buffer cannot deliver more than the area holds, but the bound stays explicit.
  const int n = std::min(responseLength_, static_cast<int>(kResponseAreaSize));
  std::memcpy(area, responseBuffer_.get(), static_cast<size_t>(n));
  return 0;
}

int Ovra7Service::PassGate() {
  if (!WaitComCanSend()) return 0;
  if (gatePassed_) gatePassed_();
  return 1;
}

int Ovra7Service::Transact(const uint8_t* payload, int n, int timeoutMs, uint8_t* area) {
  if (!PassGate()) return -1;
  return SendAndWait(payload, n, timeoutMs, area);
}

int Ovra7Service::SendAndWait(const uint8_t* payload, int n, int timeoutMs, uint8_t* area) {
  responseEvent_.Reset();
  // A failed write clears `running`; the wait below then runs out.
  WriteCom(payload, n);
  return WaitResponse(timeoutMs, area);
}

int Ovra7Service::QueryCat1Module(uint8_t* model, uint8_t* secondByte) {
  const uint8_t request[] = {kQueryCat1Module, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  if (r[0] != kQueryCat1Module) return 0;
  if (r[1] == 1) {
    if (model) *model = r[2];
    if (secondByte) *secondByte = r[3];
  }
  return r[1];
}

int Ovra7Service::SetNetworkMode(int mode) {
  // One gate, then the reset, then the send: a second gate could make the command wait for a
  // connect request that came in meanwhile, or refuse it after the counters were already reset.
  if (!PassGate()) return -1;
  if (mode == 2) StopServerConnect();
  const uint8_t request[] = {kSetNetworkMode, static_cast<uint8_t>(mode), 0};
  uint8_t r[kResponseAreaSize];
  int result = SendAndWait(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  return r[0] == kSetNetworkMode ? r[1] : 0;
}

int Ovra7Service::QueryConnectStatus(uint8_t* statusCode, uint8_t* connectionType) {
  const uint8_t request[] = {kQueryConnectStatus, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  if (r[0] != kQueryConnectStatus) return 0;
  if (r[1] == 0) {
    if (statusCode) *statusCode = r[2];
    if (connectionType) *connectionType = r[3];
  }
  return r[1];
}

int Ovra7Service::DisconnectPlatform() {
  const uint8_t request[] = {kDisconnectPlatform, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  return r[0] == kDisconnectPlatform ? r[1] : 0;
}

int Ovra7Service::GetAuthorizationInfo(uint8_t* auth, char* mac, char* iccid) {
  const uint8_t request[] = {kGetAuthorizationInfo, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  if (r[0] != kGetAuthorizationInfo) return 0;
  if (r[1] == 0) {
    if (auth) std::memcpy(auth, r + 3, 32);
    if (mac) std::memcpy(mac, r + 35, 12);
    if (iccid) std::memcpy(iccid, r + 47, 20);
  }
  return r[1];
}

int Ovra7Service::SetPlatformInfo(uint8_t connectMethod, uint8_t dataCache, uint16_t port,
                                  const std::string& host) {
  std::string wire;
  if (!relay::Utf8ToReaderText(host, &wire)) {
    WriteLog("SetPlatformInfo host not in code page 936");
    return -1;
  }
  // The request buffer holds 256 bytes: code, method, cache, two port bytes, host, terminator;
  // the host counts in the reader's bytes, not in UTF-8's.
  if (wire.size() > static_cast<size_t>(kMaxPlatformHost)) {
    WriteLog("SetPlatformInfo host too long: %d", static_cast<int>(wire.size()));
    return -1;
  }
  uint8_t request[kRequestBufferSize];
  std::memset(request, 0, sizeof request);
  request[0] = kSetPlatformInfo;
  request[1] = connectMethod;
  request[2] = dataCache;
  request[3] = static_cast<uint8_t>(port & 0xFF);
  request[4] = static_cast<uint8_t>(port >> 8);
  std::memcpy(request + 5, wire.data(), wire.size());
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, static_cast<int>(wire.size()) + 6, timeouts_.commandMs, r);
  if (result != 0) return result;
  return r[0] == kSetPlatformInfo ? r[1] : 0;
}

int Ovra7Service::GetPlatformInfo(uint8_t* connectMethod, uint8_t* dataCache, uint16_t* port,
                                  std::string* host) {
  const uint8_t request[] = {kGetPlatformInfo, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  if (r[0] != kGetPlatformInfo) return 0;
  if (r[1] == 0) {
    const char* text = reinterpret_cast<const char*>(r + 7);
    size_t len = 0;
    while (len < kMaxPlatformHostShown && text[len] != '\0') ++len;
    const std::string hostText = relay::ReaderTextToUtf8(text, len);
    const int portValue = Le16(r + 5);
    if (connectMethod) *connectMethod = r[3];
    if (dataCache) *dataCache = r[4];
    if (port) *port = static_cast<uint16_t>(portValue);
    if (host) *host = hostText;
    SetServerAddress(hostText, portValue);
  }
  return r[1];
}

int Ovra7Service::NotifyConnectResult(uint8_t x, uint8_t y) {
  const uint8_t request[] = {kConnectRequest, x, y};
  WriteCom(request, sizeof request);
  return 0;
}

int Ovra7Service::NotifyServerLost(uint8_t arg) {
  const uint8_t request[] = {kNotifyServerLost, arg, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  return r[0] == kNotifyServerLost ? r[1] : 0;
}

int Ovra7Service::TestNetworkQuality(uint8_t a, uint8_t b) {
  if (!PassGate()) return -1;
  responseEvent_.Reset();
  const uint8_t request[] = {kTestNetworkQuality, a, b};
  WriteCom(request, sizeof request);
  uint8_t r[kResponseAreaSize];
  std::memset(r, 0, sizeof r);
  if (!responseEvent_.Wait(timeouts_.qualityMs)) {
    WriteLog("read input report timeout");
    return -3;
  }
  {
    std::lock_guard<std::mutex> guard(portLock_);
    const int n = std::min(responseLength_, static_cast<int>(kResponseAreaSize));
    std::memcpy(r, responseBuffer_.get(), static_cast<size_t>(n));
  }
  if (r[0] != kTestNetworkQuality) return -3;
  if (r[1] != 0) return -4;
  return Le16(r + 2);
}

int Ovra7Service::NotifyEnterDfuMode() {
  const uint8_t request[] = {kNotifyEnterDfuMode, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  return r[0] == kNotifyEnterDfuMode ? r[1] : 0;
}

int Ovra7Service::SetHeartBeatInterval(int usbSeconds, int cat1Seconds, bool noWait,
                                       bool storeOnly) {
  WriteLog("set heart beat interval: %d %d", usbSeconds, cat1Seconds);
  usbHeartBeat_ = usbSeconds;
  cat1HeartBeat_ = cat1Seconds;
  if (storeOnly) return 0;
  const uint8_t request[] = {kSetHeartBeatInterval, static_cast<uint8_t>(usbSeconds & 0xFF),
                             static_cast<uint8_t>((usbSeconds >> 8) & 0xFF),
                             static_cast<uint8_t>(cat1Seconds & 0xFF),
                             static_cast<uint8_t>((cat1Seconds >> 8) & 0xFF)};
  if (noWait) {
    if (!PassGate()) return 0;  // the push is skipped; the no-wait form reports 0
    responseEvent_.Reset();
    WriteCom(request, sizeof request);
    return 0;
  }
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  return r[0] == kSetHeartBeatInterval ? r[1] : -2;
}

int Ovra7Service::GetHeartBeatInterval(int* usbSeconds, int* cat1Seconds) {
  const uint8_t request[] = {kGetHeartBeatInterval, 0, 0};
  uint8_t r[kResponseAreaSize];
  int result = Transact(request, sizeof request, timeouts_.commandMs, r);
  if (result != 0) return result;
  if (r[0] != kGetHeartBeatInterval) return -2;
  if (r[1] != 0) return -3;
  if (usbSeconds) *usbSeconds = Le16(r + 3);
  if (cat1Seconds) *cat1Seconds = Le16(r + 5);
  return 0;
}
