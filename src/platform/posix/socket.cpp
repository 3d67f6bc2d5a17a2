// BSD sockets behind platform/socket.h. Only generic UNIX code belongs here.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool NetStartup() { return true; }
void NetCleanup() {}

bool IsDottedIPv4(const std::string& text) {
  in_addr addr;
  return inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

bool ResolveIPv4(const std::string& host, std::vector<std::string>* addresses) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  addresses->clear();
  for (addrinfo* p = result; p; p = p->ai_next) {
    char text[INET_ADDRSTRLEN];
    auto* sin = reinterpret_cast<sockaddr_in*>(p->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) addresses->push_back(text);
  }
  freeaddrinfo(result);
  return true;
}

SocketHandle CreateTcpSocket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : fd;
}

void CloseSocket(SocketHandle s) {
  if (s != kInvalidSocket) close(static_cast<int>(s));
}

void ShutdownSend(SocketHandle s) {
  if (s != kInvalidSocket) shutdown(static_cast<int>(s), SHUT_WR);
}

bool EnableKeepAlive(SocketHandle s) {
  int on = 1;
  return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
}

bool SetKeepAliveValues(SocketHandle s, uint32_t idleMs, uint32_t intervalMs) {
  int fd = static_cast<int>(s);
  int on = 1;
  int idle = static_cast<int>((idleMs + 999) / 1000);
  int interval = static_cast<int>((intervalMs + 999) / 1000);
  return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0;
}

bool SetNonBlocking(SocketHandle s, bool on) {
  int fd = static_cast<int>(s);
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

bool SetSendTimeout(SocketHandle s, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

ConnectStart StartConnect(SocketHandle s, const std::string& dottedAddress, uint16_t port) {
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, dottedAddress.c_str(), &addr.sin_addr) != 1) return ConnectStart::kFailed;
  if (connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
    return ConnectStart::kConnected;
  return errno == EINPROGRESS ? ConnectStart::kInProgress : ConnectStart::kFailed;
}

namespace {

int PollOne(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

int WaitWritable(SocketHandle s, int timeoutMs) {
  return PollOne(static_cast<int>(s), POLLOUT, timeoutMs);
}

int WaitReadable(SocketHandle s, int timeoutUs) {
  return WaitRelayEvents(s, -1, -1, timeoutUs < 0 ? 0 : timeoutUs);
}

int WaitRelayEvents(SocketHandle s, intptr_t fd, intptr_t wake, int timeoutUs) {
  pollfd p[3];
  int n = 0;
  int socketSlot = -1, fdSlot = -1, wakeSlot = -1;
  if (s != kInvalidSocket) {
    p[n] = pollfd{static_cast<int>(s), POLLIN, 0};
    socketSlot = n++;
  }
  if (fd >= 0) {
    p[n] = pollfd{static_cast<int>(fd), POLLIN, 0};
    fdSlot = n++;
  }
  if (wake >= 0) {
    p[n] = pollfd{static_cast<int>(wake), POLLIN, 0};
    wakeSlot = n++;
  }
  timespec ts{timeoutUs / 1000000, static_cast<long>(timeoutUs % 1000000) * 1000};
  int r = ppoll(p, static_cast<nfds_t>(n), timeoutUs < 0 ? nullptr : &ts, nullptr);
  if (r < 0) return errno == EINTR ? 0 : -1;
  // A descriptor that is not open would be reported at once by every later wait: the wait itself
  // has failed, whatever its caller does next.
  for (int i = 0; i < n; ++i) {
    if (p[i].revents & POLLNVAL) return -1;
  }
  int mask = 0;
  // A closed or failed socket counts as readable: the receive then reports it.
  if (socketSlot >= 0 && (p[socketSlot].revents & (POLLIN | POLLHUP | POLLERR)))
    mask |= kSocketReadable;
  if (fdSlot >= 0) {
    if (p[fdSlot].revents & POLLIN) mask |= kPortReadable;
    // A terminal whose device is gone stays "hung up" for good; only closing it ends that.
    if (p[fdSlot].revents & (POLLHUP | POLLERR)) mask |= kPortHungUp;
  }
  if (wakeSlot >= 0 && p[wakeSlot].revents) mask |= kWoken;
  return mask;
}

int PendingError(SocketHandle s) {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) return -1;
  return error;
}

int Send(SocketHandle s, const uint8_t* data, int n) {
  ssize_t r;
  do {
    r = send(static_cast<int>(s), data, static_cast<size_t>(n), MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -1 : static_cast<int>(r);
}

int Receive(SocketHandle s, uint8_t* data, int n) {
  ssize_t r;
  do {
    r = recv(static_cast<int>(s), data, static_cast<size_t>(n), 0);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -1 : static_cast<int>(r);
}

SocketHandle ListenLoopback(uint16_t port, uint16_t* boundPort) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kInvalidSocket;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return kInvalidSocket;
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (boundPort) *boundPort = ntohs(addr.sin_port);
  return fd;
}

SocketHandle Accept(SocketHandle listener, int timeoutMs) {
  if (PollOne(static_cast<int>(listener), POLLIN, timeoutMs) <= 0) return kInvalidSocket;
  int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kInvalidSocket : fd;
}

}  // namespace platform
