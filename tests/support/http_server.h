// The loopback HTTP and HTTPS package servers (tests/support/http_server.py), seen from a test:
// their ports, uploading a package, and what they received. Portable (platform/socket.h).
//
// The servers run beside the test executable: ovra7_add_http_test starts the script, which
// runs the test with OVRA7_HTTP_PORT and OVRA7_HTTPS_PORT set (under wine as well).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class LoopbackHttpServer {
 public:
  // Reads the ports from the environment; available() is false when they are not set.
  LoopbackHttpServer();
  bool available() const { return httpPort_ > 0 && httpsPort_ > 0; }
  int httpPort() const { return httpPort_; }
  int httpsPort() const { return httpsPort_; }

  // "http://127.0.0.1:PORT/KIND/NAME" (https with secure). KIND is one of the script's ways of
  // sending: files, slow, stall, close, more, chunked, garbage; any other gives 404.
  std::string url(const std::string& kind, const std::string& name, bool secure = false) const;

  // Stores bytes under name on both servers (they share their files). False on a failure.
  bool put(const std::string& name, const std::vector<uint8_t>& bytes) const;
  // The request line and header lines of the last package request, as received.
  std::string lastRequest() const;
  // How many package requests the servers have received so far; -1 on a failure.
  int requestCount() const;

  // One plain HTTP/1.0 exchange with the HTTP server: the whole response (head and body), or ""
  // when the connection fails. Waits at most timeoutMs for each step.
  std::string exchange(const std::string& request, int timeoutMs = 10000) const;

 private:
  int httpPort_ = 0;
  int httpsPort_ = 0;
};

// Deterministic test bytes: n bytes from a seed.
std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed);

}  // namespace testsupport
