// libcurl backend of platform/http.h. Only generic UNIX code belongs here.
//
// One easy handle per request, driven through a multi handle so that the caller can pull the
// body piece by piece: Read pumps the transfer until the write callback has delivered bytes.
#include "platform/http.h"

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {
namespace {

constexpr size_t kMaxErrorText = 200;

std::string Cut(std::string text) {
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  return text;
}

bool GlobalInit() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

// A host name goes into a URL for libcurl: refuse what would change the URL's meaning there
// (user info, a second authority, a path), which WinInet would only fail to resolve.
bool IsPlainHost(const std::string& host) {
  if (host.empty()) return false;
  for (unsigned char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_' || c >= 0x80;
    if (!ok) return false;
  }
  return true;
}

class CurlRequest : public HttpRequest {
 public:
  CurlRequest(const std::string& url, const HttpTimeouts& timeouts)
      : easy_(curl_easy_init()), multi_(curl_multi_init()) {
    if (!easy_ || !multi_) return;
    errorText_[0] = '\0';
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);  // send the path as the address gave it
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);  // as WinInet does by default
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_);
    // Larger receive pieces mean fewer rounds through the multi loop; Read still hands the
    // body out 1024 bytes at a time.
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connectMs));
    // The stall time-out is kept by Pump, like WinInet's receive time-out: libcurl's own
    // low-speed check averages over seconds and fires late after a fast start.
    stallMs_ = timeouts.stallMs;
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  }

  ~CurlRequest() override {
    if (multi_ && easy_ && added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    if (headers_) curl_slist_free_all(headers_);
  }

  bool valid() const { return easy_ && multi_; }

  bool AddHeaderLine(const std::string& line) override {
    // libcurl sends only "Name: value" lines; a line without a name would be dropped silently.
    if (line.find(':') == std::string::npos) return false;
    curl_slist* grown = curl_slist_append(headers_, line.c_str());
    if (!grown) return false;
    headers_ = grown;
    return true;
  }

  bool Send(std::string* error) override {
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      *error = "cannot start the request";
      return false;
    }
    added_ = true;
    waitingForHead_ = true;
    while (!headComplete_ && !finished_) {
      if (!Pump(error)) return false;
    }
    waitingForHead_ = false;
    if (finished_ && result_ != CURLE_OK) {
      *error = ResultText();
      return false;
    }
    return true;
  }

  bool StatusCode(int* code, std::string* error) override {
    long value = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &value) != CURLE_OK || value == 0) {
      *error = "no status code";
      return false;
    }
    *code = static_cast<int>(value);
    return true;
  }

  long long Length() override {
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
      return -1;
    }
    return static_cast<long long>(length);
  }

  int Read(uint8_t* buffer, int capacity, std::string* error) override {
    while (pending_.size() == taken_ && !finished_) {
      if (!Pump(error)) return -1;
    }
    if (pending_.size() > taken_) {
      size_t n = pending_.size() - taken_;
      if (n > static_cast<size_t>(capacity)) n = static_cast<size_t>(capacity);
      std::memcpy(buffer, pending_.data() + taken_, n);
      taken_ += n;
      if (taken_ == pending_.size()) {
        pending_.clear();
        taken_ = 0;
      }
      return static_cast<int>(n);
    }
    if (result_ != CURLE_OK) {
      *error = ResultText();
      return -1;
    }
    return 0;
  }

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<CurlRequest*>(self);
    request->headComplete_ = true;
    request->received_ += size * count;
    request->pending_.insert(request->pending_.end(), data, data + size * count);
    return size * count;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<CurlRequest*>(self);
    size_t n = size * count;
    request->received_ += n;
    bool blank = (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
    if (blank) {
      // The end of a head; an interim (1xx) or redirect head is followed by another one.
      long code = 0;
      curl_easy_getinfo(request->easy_, CURLINFO_RESPONSE_CODE, &code);
      bool redirect = code >= 300 && code < 400 && request->HasLocation();
      if (code >= 200 && !redirect) request->headComplete_ = true;
      request->sawLocation_ = false;
    } else if (n > 9 && strncasecmp(data, "location:", 9) == 0) {
      request->sawLocation_ = true;
    }
    return n;
  }

  bool HasLocation() const { return sawLocation_; }

  // One round of the transfer: let libcurl work, then wait briefly for the socket.
  bool Pump(std::string* error) {
    int running = 0;
    CURLMcode code = curl_multi_perform(multi_, &running);
    // Sleep only when this round produced nothing the caller waits for.
    bool progress = pending_.size() > taken_ || (waitingForHead_ && headComplete_);
    if (code == CURLM_OK && running > 0 && !progress) {
      code = curl_multi_poll(multi_, nullptr, 0, 200, nullptr);
    }
    if (code != CURLM_OK) {
      *error = Cut(curl_multi_strerror(code));
      return false;
    }
    // Until the connection is up only the connect time-out applies; after that, any received
    // byte restarts the stall clock.
    curl_off_t connectedUs = 0;
    curl_easy_getinfo(easy_, CURLINFO_PRETRANSFER_TIME_T, &connectedUs);
    auto now = std::chrono::steady_clock::now();
    if (connectedUs == 0 || receivedSeen_ != received_) {
      receivedSeen_ = received_;
      lastActivity_ = now;
    } else if (running > 0 && now - lastActivity_ > std::chrono::milliseconds(stallMs_)) {
      *error = "the server sent nothing for " + std::to_string(stallMs_) + " ms";
      return false;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        finished_ = true;
        result_ = message->data.result;
      }
    }
    return true;
  }

  std::string ResultText() const {
    std::string text = errorText_[0] ? errorText_ : curl_easy_strerror(result_);
    return Cut(text);
  }

  CURL* easy_;
  CURLM* multi_;
  curl_slist* headers_ = nullptr;
  bool added_ = false;
  bool waitingForHead_ = false;
  bool headComplete_ = false;
  bool sawLocation_ = false;
  bool finished_ = false;
  CURLcode result_ = CURLE_OK;
  std::vector<char> pending_;
  size_t taken_ = 0;
  int stallMs_ = 30000;
  uint64_t received_ = 0;  // head and body bytes so far
  uint64_t receivedSeen_ = 0;
  std::chrono::steady_clock::time_point lastActivity_ = std::chrono::steady_clock::now();
  char errorText_[CURL_ERROR_SIZE];
};

class CurlConnection : public HttpConnection {
 public:
  CurlConnection(std::string host, uint16_t port, bool secure)
      : host_(std::move(host)), port_(port), secure_(secure) {}

  std::unique_ptr<HttpRequest> OpenGet(const std::string& path, std::string* error) override {
    std::string url =
        std::string(secure_ ? "https://" : "http://") + host_ + ":" + std::to_string(port_) + path;
    auto request = std::make_unique<CurlRequest>(url, CurrentHttpTimeouts());
    if (!request->valid()) {
      *error = "cannot create the request";
      return nullptr;
    }
    return request;
  }

 private:
  std::string host_;
  uint16_t port_;
  bool secure_;
};

class CurlSession : public HttpSession {
 public:
  std::unique_ptr<HttpConnection> Connect(const std::string& host, uint16_t port, bool secure,
                                          std::string* error) override {
    if (!IsPlainHost(host)) {
      *error = "invalid host name: " + Cut(host);
      return nullptr;
    }
    return std::make_unique<CurlConnection>(host, port, secure);
  }
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(std::string* error) {
  if (!GlobalInit()) {
    *error = "cannot start libcurl";
    return nullptr;
  }
  return std::make_unique<CurlSession>();
}

}  // namespace platform
