// Portable: the server connection — name resolution, connect with a time-out per address,
// keep-alive, sending the reader's data, and the reachability test.
#include <cstring>
#include <string>
#include <vector>

#include "log/log.h"
#include "relay/ovra7_service.h"

platform::SocketHandle Ovra7Service::ConnectServer() {
  const std::string host = GetServerHost();
  const int port = serverPort_;
  WriteLog("connect server %s:%d", host.c_str(), port);
  std::vector<std::string> candidates;
  if (platform::IsDottedIPv4(host)) {
    candidates.push_back(host.substr(0, 39));
  } else {
    std::vector<std::string> resolved;
    if (!resolver_ || !resolver_(host, &resolved)) {
      WriteLog("gethostby name failed");
      return platform::kInvalidSocket;
    }
    for (size_t i = 0; i < resolved.size() && candidates.size() < kMaxCandidates; ++i) {
      if (resolved[i].empty()) continue;
      WriteLog("ip %d is: %s", static_cast<int>(i), resolved[i].c_str());
      candidates.push_back(resolved[i].substr(0, 39));
    }
  }
  for (const std::string& address : candidates) {
    WriteLog("Try to connect %s", address.c_str());
    platform::SocketHandle s = ConnectWithTimeout(address, port, kConnectTimeoutMs);
    if (s != platform::kInvalidSocket) {
      WriteLog("connect %s success", address.c_str());
      return s;
    }
    WriteLog("connect %s failed", address.c_str());
  }
  WriteLog("connect %s:%d failed", host.c_str(), port);
  return platform::kInvalidSocket;
}

platform::SocketHandle Ovra7Service::ConnectWithTimeout(const std::string& address, int port,
                                                        int timeoutMs) {
  platform::SocketHandle s = platform::CreateTcpSocket();
  if (s == platform::kInvalidSocket) return s;
  platform::EnableKeepAlive(s);
  keepAliveSet_ = 0;
  if (platform::SetKeepAliveValues(s, 150000, 3000)) {
    WriteLog("Set Keep Alive success");
    keepAliveSet_ = 1;
  } else {
    WriteLog("Set Keep Alive failed");
  }
  bool connected = false;
  if (platform::SetNonBlocking(s, true)) {
    switch (platform::StartConnect(s, address, static_cast<uint16_t>(port))) {
      case platform::ConnectStart::kConnected:
        connected = true;
        break;
      case platform::ConnectStart::kInProgress:
        // Writable with a pending error is a refused connection, not a made one.
        connected = platform::WaitWritable(s, timeoutMs) > 0 && platform::PendingError(s) == 0;
        break;
      case platform::ConnectStart::kFailed:
        break;
    }
  }
  platform::SetNonBlocking(s, false);
  if (!connected) {
    platform::CloseSocket(s);
    return platform::kInvalidSocket;
  }
  // A server that accepts but stops reading must not hold the relay thread in a blocking send:
  // nothing would read the port any more and Stop would never return.
  platform::SetSendTimeout(s, timeouts_.serverSendMs);
  return s;
}

int Ovra7Service::SendServer(const uint8_t* data, int n) {
  platform::SocketHandle s = socketHandle_.load();
  if (s == platform::kInvalidSocket) {
    WriteLog("send failed, socket is not valid");
    return -1;
  }
  int sent = 0;
  while (sent < n) {
    int r = platform::Send(s, data + sent, n - sent);
    if (r < 0) break;
    sent += r;
    serverSendBytes_ += static_cast<uint32_t>(r);
  }
  LogHex("send server: ", data, static_cast<size_t>(n));
  if (sent == n) return 0;
  WriteLog("send failed");
  // Part of the data may have gone out: a later send on this connection would reach the server
  // behind a hole in the stream. The server gets the end instead, and the reader connects anew.
  platform::ShutdownSend(s);
  return -1;
}

int Ovra7Service::TestServer() {
  platform::SocketHandle s = ConnectServer();
  if (s == platform::kInvalidSocket) return 0;
  platform::CloseSocket(s);
  return 1;
}
