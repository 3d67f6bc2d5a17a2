// The serial peer's client: asks the helper process (serial_peer.py, reached through
// OVRA7_SERIAL_PEER) to make port n a pty, then drives the pty over two loopback connections.
// The same on Linux and under wine.
#include "platform/serial_peer.h"

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
  for (int done = 0, k = 0; done < n; done += k) {
    k = platform::Send(s, data + done, n - done);
    if (k <= 0) return false;
  }
  return true;
}

// Sends one command line; the reply line without its newline, empty on failure.
std::string Command(platform::SocketHandle s, const std::string& text) {
  std::string line = text + "\n", reply;
  if (!SendAll(s, reinterpret_cast<const uint8_t*>(line.data()), static_cast<int>(line.size()))) {
    return reply;
  }
  uint8_t c = 0;
  while (platform::WaitReadable(s, 5000000) > 0 && platform::Receive(s, &c, 1) == 1) {
    if (c == '\n') return reply;
    reply += static_cast<char>(c);
  }
  return std::string();
}

class PtyPeer : public SerialPeer {
 public:
  PtyPeer(platform::SocketHandle control, platform::SocketHandle data, bool shared)
      : control_(control), data_(data), shared_(shared) {}
  ~PtyPeer() override {
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
  bool RefusesSecondOpen() const override { return !shared_; }

 private:
  platform::SocketHandle control_;
  platform::SocketHandle data_;
  bool shared_;
};

}  // namespace

std::unique_ptr<SerialPeer> SerialPeer::Create(int n, std::string* why) {
  const char* port = std::getenv("OVRA7_SERIAL_PEER");
  if (!port || !*port) {
    *why = "OVRA7_SERIAL_PEER is not set: run through run_with_peer.sh";
    return nullptr;
  }
  platform::SocketHandle control = ConnectLoopback(std::atoi(port));
  if (control == platform::kInvalidSocket) {
    *why = "serial peer does not answer";
    return nullptr;
  }
  std::string reply = Command(control, "open " + std::to_string(n));
  platform::SocketHandle data = reply.compare(0, 3, "ok ") == 0
                                    ? ConnectLoopback(std::atoi(reply.c_str() + 3))
                                    : platform::kInvalidSocket;
  if (data == platform::kInvalidSocket) {
    *why = "serial peer refused port " + std::to_string(n) + ": " + reply;
    platform::CloseSocket(control);
    return nullptr;
  }
  return std::make_unique<PtyPeer>(control, data, reply.find(" shared") != std::string::npos);
}

}  // namespace testsupport
