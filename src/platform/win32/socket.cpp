// Winsock 2.2 behind platform/socket.h. Only Windows code belongs here.
#include "platform/socket.h"

// Winsock must come before windows.h, and mstcpip.h after both.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mstcpip.h>
// clang-format on

#include <cstring>

#include "platform/win32/utf.h"

namespace platform {
namespace {

SOCKET S(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

bool NetStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() { WSACleanup(); }

bool IsDottedIPv4(const std::string& text) {
  in_addr addr;
  return inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

bool ResolveIPv4(const std::string& host, std::vector<std::string>* addresses) {
  ADDRINFOW hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* result = nullptr;
  // The wide call: the host is UTF-8 text (the reader's code page is converted at the serial
  // link), which the 8-bit call would read in the system's code page.
  if (GetAddrInfoW(Widen(host).c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  addresses->clear();
  for (ADDRINFOW* p = result; p; p = p->ai_next) {
    char text[INET_ADDRSTRLEN];
    auto* sin = reinterpret_cast<sockaddr_in*>(p->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) addresses->push_back(text);
  }
  FreeAddrInfoW(result);
  return true;
}

SocketHandle CreateTcpSocket() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

void CloseSocket(SocketHandle s) {
  if (s != kInvalidSocket) closesocket(S(s));
}

void ShutdownSend(SocketHandle s) {
  if (s != kInvalidSocket) shutdown(S(s), SD_SEND);
}

bool EnableKeepAlive(SocketHandle s) {
  BOOL on = TRUE;
  return setsockopt(S(s), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                    sizeof on) == 0;
}

bool SetKeepAliveValues(SocketHandle s, uint32_t idleMs, uint32_t intervalMs) {
  tcp_keepalive values;
  values.onoff = 1;
  values.keepalivetime = idleMs;
  values.keepaliveinterval = intervalMs;
  DWORD returned = 0;
  return WSAIoctl(S(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                  nullptr) == 0;
}

bool SetNonBlocking(SocketHandle s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(S(s), FIONBIO, &mode) == 0;
}

bool SetSendTimeout(SocketHandle s, int ms) {
  DWORD value = static_cast<DWORD>(ms);
  return setsockopt(S(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
                    sizeof value) == 0;
}

ConnectStart StartConnect(SocketHandle s, const std::string& dottedAddress, uint16_t port) {
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, dottedAddress.c_str(), &addr.sin_addr) != 1) return ConnectStart::kFailed;
  if (connect(S(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
    return ConnectStart::kConnected;
  return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectStart::kInProgress : ConnectStart::kFailed;
}

int WaitWritable(SocketHandle s, int timeoutMs) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(S(s), &writable);
  // Winsock reports a refused non-blocking connect in the except set, not the write set.
  FD_SET(S(s), &failed);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int r = select(0, nullptr, &writable, &failed, &tv);
  return r == SOCKET_ERROR ? -1 : r;
}

int WaitReadable(SocketHandle s, int timeoutUs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(S(s), &readable);
  timeval tv{timeoutUs / 1000000, timeoutUs % 1000000};
  int r = select(0, &readable, nullptr, nullptr, &tv);
  return r == SOCKET_ERROR ? -1 : r;
}

int WaitRelayEvents(SocketHandle s, intptr_t, intptr_t, int timeoutUs) {
  // Nothing here can end an unbounded wait but the socket: the caller never asks for one, and
  // should it, a millisecond stands in.
  if (timeoutUs < 0) timeoutUs = 1000;
  if (s == kInvalidSocket) {
    Sleep(static_cast<DWORD>((timeoutUs + 999) / 1000));
    return 0;
  }
  int r = WaitReadable(s, timeoutUs);
  return r > 0 ? kSocketReadable : r;
}

int PendingError(SocketHandle s) {
  int error = 0;
  int len = sizeof error;
  if (getsockopt(S(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) return -1;
  return error;
}

int Send(SocketHandle s, const uint8_t* data, int n) {
  int r = send(S(s), reinterpret_cast<const char*>(data), n, 0);
  return r == SOCKET_ERROR ? -1 : r;
}

int Receive(SocketHandle s, uint8_t* data, int n) {
  int r = recv(S(s), reinterpret_cast<char*>(data), n, 0);
  return r == SOCKET_ERROR ? -1 : r;
}

SocketHandle ListenLoopback(uint16_t port, uint16_t* boundPort) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0) {
    closesocket(s);
    return kInvalidSocket;
  }
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  if (boundPort) *boundPort = ntohs(addr.sin_port);
  return static_cast<SocketHandle>(s);
}

SocketHandle Accept(SocketHandle listener, int timeoutMs) {
  if (WaitReadable(listener, timeoutMs * 1000) <= 0) return kInvalidSocket;
  SOCKET s = accept(S(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

}  // namespace platform
