// Environment variables and Unix sockets for the tests of the display check (POSIX only).
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace ui_test {

// Sets an environment variable for one scope (unset when value is null).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A Unix stream socket file at path: listening (a compositor taking connections) or stale (the
// file of one that has gone: there, but nobody accepts).
class UnixSocketFile {
 public:
  UnixSocketFile(const std::string& path, bool listening) : path_(path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ok_ = fd_ >= 0 &&
          ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
          (!listening || ::listen(fd_, 4) == 0);
  }
  ~UnixSocketFile() {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  UnixSocketFile(const UnixSocketFile&) = delete;
  UnixSocketFile& operator=(const UnixSocketFile&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool ok_ = false;
};

}  // namespace ui_test
