// WinInet backend of platform/http.h, with the flags the downloader has always used. Only Windows
// code belongs here.
#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <cwchar>

#include "platform/win32/utf.h"

namespace platform {
namespace {

constexpr size_t kMaxErrorText = 200;
constexpr DWORD_PTR kContext = 1;

// WinInet's own texts live in wininet.dll; the system table covers the rest.
std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                               FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleW(L"wininet.dll"), code, 0,
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result;
  if (n > 0 && text) {
    result = Narrow(std::wstring(text, n));
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
      result.pop_back();
    }
  }
  if (text) LocalFree(text);
  if (result.empty()) result = "WinInet error " + std::to_string(code);
  if (result.size() > kMaxErrorText) result.resize(kMaxErrorText);
  return result;
}

std::string LastErrorText() { return ErrorText(GetLastError()); }

// Connect, send and receive time-outs set explicitly on every handle: the defaults differ
// between WinInet versions (wine's never ends a stalled read), and not every WinInet passes a
// session's time-outs on to the requests opened from it. A dead server must end the download.
void ApplyTimeouts(HINTERNET handle) {
  HttpTimeouts timeouts = CurrentHttpTimeouts();
  DWORD connectMs = static_cast<DWORD>(timeouts.connectMs);
  DWORD stallMs = static_cast<DWORD>(timeouts.stallMs);
  InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof(connectMs));
  InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stallMs, sizeof(stallMs));
  InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &stallMs, sizeof(stallMs));
}

class WinInetRequest : public HttpRequest {
 public:
  explicit WinInetRequest(HINTERNET request) : request_(request) {}
  ~WinInetRequest() override { InternetCloseHandle(request_); }

  bool AddHeaderLine(const std::string& line) override {
    std::wstring wide = Widen(line);
    return HttpAddRequestHeadersW(request_, wide.c_str(), static_cast<DWORD>(-1),
                                  HTTP_ADDREQ_FLAG_ADD_IF_NEW) != FALSE;
  }

  bool Send(std::string* error) override {
    if (!HttpSendRequestW(request_, nullptr, 0, nullptr, 0)) {
      *error = LastErrorText();
      return false;
    }
    wchar_t text[32] = {0};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD index = 0;
    if (HttpQueryInfoW(request_, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) {
      wchar_t* end = nullptr;
      long long value = std::wcstoll(text, &end, 10);
      if (end != text && value >= 0) length_ = value;
    }
    return true;
  }

  bool StatusCode(int* code, std::string* error) override {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD index = 0;
    if (!HttpQueryInfoW(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size,
                        &index)) {
      *error = LastErrorText();
      return false;
    }
    *code = static_cast<int>(value);
    return true;
  }

  long long Length() override { return length_; }

  int Read(uint8_t* buffer, int capacity, std::string* error) override {
    DWORD got = 0;
    if (!InternetReadFile(request_, buffer, static_cast<DWORD>(capacity), &got)) {
      *error = LastErrorText();
      return -1;
    }
    received_ += got;
    // WinInet reports a connection that closed early as a normal end; the announced length
    // tells the two apart.
    if (got == 0 && length_ >= 0 && received_ < length_) {
      *error = "the connection closed after " + std::to_string(received_) + " of " +
               std::to_string(length_) + " bytes";
      return -1;
    }
    return static_cast<int>(got);
  }

 private:
  HINTERNET request_;
  long long length_ = -1;
  long long received_ = 0;
};

class WinInetConnection : public HttpConnection {
 public:
  WinInetConnection(HINTERNET connection, bool secure) : connection_(connection), secure_(secure) {}
  ~WinInetConnection() override { InternetCloseHandle(connection_); }

  std::unique_ptr<HttpRequest> OpenGet(const std::string& path, std::string* error) override {
    std::wstring widePath = Widen(path);
    DWORD flags = secure_ ? INTERNET_FLAG_SECURE : INTERNET_FLAG_EXISTING_CONNECT;
    HINTERNET request = HttpOpenRequestW(connection_, L"GET", widePath.c_str(), nullptr, nullptr,
                                         nullptr, flags, kContext);
    if (!request) {
      *error = LastErrorText();
      return nullptr;
    }
    ApplyTimeouts(request);
    if (secure_) {
      // Packages are checked by their digest, not by the server's certificate.
      DWORD security = 0;
      DWORD size = sizeof(security);
      if (InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
        security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION |
                    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                    SECURITY_FLAG_IGNORE_WRONG_USAGE;
        InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
      }
    }
    return std::make_unique<WinInetRequest>(request);
  }

 private:
  HINTERNET connection_;
  bool secure_;
};

class WinInetSession : public HttpSession {
 public:
  explicit WinInetSession(HINTERNET session) : session_(session) {}
  ~WinInetSession() override { InternetCloseHandle(session_); }

  std::unique_ptr<HttpConnection> Connect(const std::string& host, uint16_t port, bool secure,
                                          std::string* error) override {
    std::wstring wideHost = Widen(host);
    HINTERNET connection =
        InternetConnectW(session_, wideHost.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                         secure ? INTERNET_FLAG_SECURE : 0, kContext);
    if (!connection) {
      *error = LastErrorText();
      return nullptr;
    }
    ApplyTimeouts(connection);
    return std::make_unique<WinInetConnection>(connection, secure);
  }

 private:
  HINTERNET session_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(std::string* error) {
  HINTERNET session = InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) {
    *error = LastErrorText();
    return nullptr;
  }
  ApplyTimeouts(session);
  return std::make_unique<WinInetSession>(session);
}

}  // namespace platform
