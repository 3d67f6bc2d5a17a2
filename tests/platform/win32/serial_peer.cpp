// Windows serial peer: asks the helper process (wine/serial_peer.py, found through
// OVRA7_SERIAL_PEER) to map COMn to a pty, then drives the pty over two loopback connections.
#include "platform/serial_peer.h"

#include <windows.h>

#include <cstdlib>

#include "platform/socket.h"

namespace testsupport {
namespace {

platform::SocketHandle ConnectLoopback(int port) {
  platform::SocketHandle s = platform::CreateTcpSocket();
  if (s == platform::kInvalidSocket) return s;
  platform::ConnectStart start =
      platform::StartConnect(s, "127.0.0.1", static_cast<uint16_t>(port));
  if (start == platform::ConnectStart::kInProgress && platform::WaitWritable(s, 3000) > 0 &&
      platform::PendingError(s) == 0) {
    start = platform::ConnectStart::kConnected;
  }
  if (start != platform::ConnectStart::kConnected) {
    platform::CloseSocket(s);
    return platform::kInvalidSocket;
  }
  return s;
}

bool SendAll(platform::SocketHandle s, const uint8_t* data, int n) {
  int done = 0;
  while (done < n) {
    int k = platform::Send(s, data + done, n - done);
    if (k <= 0) return false;
    done += k;
  }
  return true;
}

// One reply line of the control connection, without its newline; empty on failure.
std::string ReadLine(platform::SocketHandle s) {
  std::string line;
  uint8_t c = 0;
  while (platform::WaitReadable(s, 5000000) > 0 && platform::Receive(s, &c, 1) == 1) {
    if (c == '\n') return line;
    line += static_cast<char>(c);
  }
  return std::string();
}

std::string Command(platform::SocketHandle s, const std::string& text) {
  std::string line = text + "\n";
  if (!SendAll(s, reinterpret_cast<const uint8_t*>(line.data()), static_cast<int>(line.size()))) {
    return std::string();
  }
  return ReadLine(s);
}

class ComPeer : public SerialPeer {
 public:
  ComPeer(platform::SocketHandle control, platform::SocketHandle data)
      : control_(control), data_(data) {}
  ~ComPeer() override {
    platform::CloseSocket(data_);
    platform::CloseSocket(control_);
  }

  bool Send(const uint8_t* data, int n) override { return SendAll(data_, data, n); }

  int Receive(uint8_t* data, int n, int timeoutMs) override {
    int r = platform::WaitReadable(data_, timeoutMs * 1000);
    if (r <= 0) return r;
    int k = platform::Receive(data_, data, n);
    return k > 0 ? k : -1;
  }

  std::string LineSettings() override { return Command(control_, "line"); }

  void Vanish() override { Command(control_, "vanish"); }

  bool RefusesSecondOpen() const override {
    // Windows keeps COM devices exclusive; wine does not enforce a zero share mode on them.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
  }

 private:
  platform::SocketHandle control_;
  platform::SocketHandle data_;
};

}  // namespace

std::unique_ptr<SerialPeer> SerialPeer::Create(int n, std::string* why) {
  const char* port = std::getenv("OVRA7_SERIAL_PEER");
  if (!port || !*port) {
    *why = "OVRA7_SERIAL_PEER is not set: run through wine/run_with_peer.sh";
    return nullptr;
  }
  platform::SocketHandle control = ConnectLoopback(std::atoi(port));
  if (control == platform::kInvalidSocket) {
    *why = "serial peer does not answer";
    return nullptr;
  }
  std::string reply = Command(control, "open " + std::to_string(n));
  if (reply.compare(0, 3, "ok ") != 0) {
    *why = "serial peer refused COM" + std::to_string(n) + ": " + reply;
    platform::CloseSocket(control);
    return nullptr;
  }
  platform::SocketHandle data = ConnectLoopback(std::atoi(reply.c_str() + 3));
  if (data == platform::kInvalidSocket) {
    *why = "serial peer data connection failed";
    platform::CloseSocket(control);
    return nullptr;
  }
  return std::make_unique<ComPeer>(control, data);
}

}  // namespace testsupport
