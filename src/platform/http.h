// An HTTP(S) client for package downloads: the OS boundary (WinInet / libcurl).
// Contract shared by posix/http.cpp and win32/http.cpp; tests may plug their own HttpSession.
//
// Threads: a session and everything opened from it are used by one thread at a time (the
// download thread). Calls block: Send until the response head has arrived, Read until some body
// bytes, the end, or an error; both are bounded by the time-outs below. Errors are returned as
// false / -1 with a text of at most 200 characters in *error; nothing throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Connect time-out and stall time-out (a transfer that receives nothing for this long is
// aborted), WinInet's usual defaults; both backends apply them, so a dead server always ends
// the download.
struct HttpTimeouts {
  int connectMs = 60000;
  int stallMs = 30000;
};
// Process-wide; affects sessions opened afterwards. For tests that need a stall to end quickly.
void SetHttpTimeoutsForTesting(const HttpTimeouts& timeouts);
HttpTimeouts CurrentHttpTimeouts();

class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Adds one request header line as given, unless a header of that name is already set. The
  // client may refuse a line it cannot send (false); the request goes on either way.
  virtual bool AddHeaderLine(const std::string& line) = 0;
  // Sends the request (no body) and waits for the response head.
  virtual bool Send(std::string* error) = 0;
  // After Send: the status code (the last response, after redirects), and the announced body
  // length or -1 when none was announced.
  virtual bool StatusCode(int* code, std::string* error) = 0;
  virtual long long Length() = 0;
  // Up to capacity body bytes exactly as received (no content decoding): > 0 count, 0 at the
  // end of the body, -1 on an error, a stall, or a body that ended short of its announced length.
  virtual int Read(uint8_t* buffer, int capacity, std::string* error) = 0;
};

class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  // A GET of path (from its "/" on, query included, sent as given). secure requests go over TLS
  // with every certificate accepted: unknown issuer, revocation, name, date and usage.
  virtual std::unique_ptr<HttpRequest> OpenGet(const std::string& path, std::string* error) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // No network traffic yet on either backend; the connection is made by Send.
  virtual std::unique_ptr<HttpConnection> Connect(const std::string& host, uint16_t port,
                                                  bool secure, std::string* error) = 0;
};

// A session with the system's proxy settings (Windows: the preconfigured Internet settings;
// Linux: the http_proxy / https_proxy / no_proxy environment), no agent name of its own.
// nullptr with *error set when the HTTP library cannot start.
std::unique_ptr<HttpSession> OpenHttpSession(std::string* error);

}  // namespace platform
