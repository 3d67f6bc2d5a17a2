// Test-side view of the loopback package servers. Portable.
#include "support/http_server.h"

#include <cstdlib>

#include "platform/clock.h"
#include "platform/socket.h"

namespace testsupport {
namespace {

int PortFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::atoi(text) : 0;
}

std::string BodyOf(const std::string& response) {
  size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : response.substr(at + 4);
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer()
    : httpPort_(PortFromEnvironment("OVRA7_HTTP_PORT")),
      httpsPort_(PortFromEnvironment("OVRA7_HTTPS_PORT")) {}

std::string LoopbackHttpServer::url(const std::string& kind, const std::string& name,
                                    bool secure) const {
  return std::string(secure ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(secure ? httpsPort_ : httpPort_) + "/" + kind + "/" +
         name;
}

std::string LoopbackHttpServer::exchange(const std::string& request, int timeoutMs) const {
  platform::SocketHandle s = platform::CreateTcpSocket();
  if (s == platform::kInvalidSocket) return std::string();
  std::string response;
  bool ok = false;
  platform::ConnectStart start =
      platform::StartConnect(s, "127.0.0.1", static_cast<uint16_t>(httpPort_));
  if (start == platform::ConnectStart::kConnected ||
      (start == platform::ConnectStart::kInProgress && platform::WaitWritable(s, timeoutMs) > 0 &&
       platform::PendingError(s) == 0)) {
    ok = true;
  }
  platform::SetNonBlocking(s, false);
  const uint8_t* data = reinterpret_cast<const uint8_t*>(request.data());
  size_t sent = 0;
  while (ok && sent < request.size()) {
    int n = platform::Send(s, data + sent, static_cast<int>(request.size() - sent));
    if (n <= 0) ok = false;
    sent += n > 0 ? static_cast<size_t>(n) : 0;
  }
  uint64_t deadline = platform::NowMs() + static_cast<uint64_t>(timeoutMs);
  while (ok && platform::NowMs() < deadline) {
    if (platform::WaitReadable(s, 100000) <= 0) continue;
    uint8_t buffer[4096];
    int n = platform::Receive(s, buffer, sizeof(buffer));
    if (n <= 0) break;
    response.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
  }
  platform::CloseSocket(s);
  return ok ? response : std::string();
}

bool LoopbackHttpServer::put(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::string request = "PUT /_files/" + name +
                        " HTTP/1.0\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n\r\n";
  request.append(bytes.begin(), bytes.end());
  return exchange(request).compare(0, 12, "HTTP/1.0 201") == 0;
}

std::string LoopbackHttpServer::lastRequest() const {
  return BodyOf(exchange("GET /_last HTTP/1.0\r\n\r\n"));
}

int LoopbackHttpServer::requestCount() const {
  std::string response = exchange("GET /_count HTTP/1.0\r\n\r\n");
  if (response.empty()) return -1;
  return std::atoi(BodyOf(response).c_str());
}

std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

}  // namespace testsupport
