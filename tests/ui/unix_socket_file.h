// Unix socket files for the tests of the display check (POSIX only).
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace ui_test {

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
