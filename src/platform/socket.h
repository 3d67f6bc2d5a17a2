// TCP sockets for the server connection: the OS boundary (Winsock 2.2 / BSD sockets).
// Portable contract; implementations in posix/socket.cpp and win32/socket.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts the socket library (Winsock 2.2 on Windows; nothing elsewhere). Called once by whoever
// starts the program, and by each test executable's main. NetCleanup undoes it.
bool NetStartup();
void NetCleanup();

// True when text is a dotted IPv4 address.
bool IsDottedIPv4(const std::string& text);

// Resolves host to its IPv4 addresses as dotted texts, in the resolver's order. False on failure.
bool ResolveIPv4(const std::string& host, std::vector<std::string>* addresses);

SocketHandle CreateTcpSocket();
void CloseSocket(SocketHandle s);
// Ends the sending direction (the peer reads the end after what was sent); receiving goes on.
void ShutdownSend(SocketHandle s);

// SO_KEEPALIVE on.
bool EnableKeepAlive(SocketHandle s);
// Keep-alive on with the idle time before the first probe and the interval between probes
// (Windows SIO_KEEPALIVE_VALS in ms; Linux TCP_KEEPIDLE/TCP_KEEPINTVL in seconds, rounded up).
bool SetKeepAliveValues(SocketHandle s, uint32_t idleMs, uint32_t intervalMs);

bool SetNonBlocking(SocketHandle s, bool on);
// Bounds each blocking send; a send that cannot make progress for ms fails.
bool SetSendTimeout(SocketHandle s, int ms);

enum class ConnectStart { kConnected, kInProgress, kFailed };
ConnectStart StartConnect(SocketHandle s, const std::string& dottedAddress, uint16_t port);

// Waits for writability: >0 ready, 0 time-out, <0 error.
int WaitWritable(SocketHandle s, int timeoutMs);
// Waits for readability: >0 readable, 0 time-out, <0 error.
int WaitReadable(SocketHandle s, int timeoutUs);
// What the relay's wait saw, as bits of WaitRelayEvents' result.
constexpr int kSocketReadable = 1;  // data, or the socket closed or failed (Receive tells)
constexpr int kPortReadable = 2;
constexpr int kPortHungUp = 4;  // the port's device went away (unplugged, pty peer closed)
constexpr int kWoken = 8;       // the wake-up signal was raised

// Waits until the socket (may be invalid) is readable, the port descriptor fd (may be -1) is
// readable or hangs up, or the wake-up handle (may be -1, see WakeSignal) is raised. timeoutUs < 0
// waits without a limit. Returns the bits above, 0 on time-out, <0 on error (a descriptor that is
// not open included: waiting again would fail again at once). Where fd and wake cannot be waited
// on (Windows), only the socket is watched and the time-out is always bounded.
int WaitRelayEvents(SocketHandle s, intptr_t fd, intptr_t wake, int timeoutUs);

// The socket's pending error after a connect: 0 when the connection was made.
int PendingError(SocketHandle s);

// Count sent, or -1 on error (including a send time-out).
int Send(SocketHandle s, const uint8_t* data, int n);
// Count received; 0 when the peer closed; -1 on error.
int Receive(SocketHandle s, uint8_t* data, int n);

// For tests, tools and benchmarks: a listening socket on 127.0.0.1 (port 0 picks one).
SocketHandle ListenLoopback(uint16_t port, uint16_t* boundPort);
SocketHandle Accept(SocketHandle listener, int timeoutMs);

}  // namespace platform
