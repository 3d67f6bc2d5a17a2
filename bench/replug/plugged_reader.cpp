// Making and removing the reader's pty and its link (Linux).
#include "plugged_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "diverting_port.h"
#include "platform/serial.h"

namespace replug {

bool PluggedReader::Plug(std::string* why) {
  Unplug();
  std::string peer;
  auto pty = platform::OpenPseudoTerminal(&peer);
  if (!pty) {
    *why = "cannot make a pseudo-terminal";
    return false;
  }
  auto port = std::make_unique<DivertingPort>(std::move(pty), relayed_, &strayBytes_);
  port_ = port.get();
  reader_ = std::make_unique<testsupport::SimulatedReader>(std::move(port), config_);
  if (symlink(peer.c_str(), linkPath_.c_str()) != 0) {
    *why = "cannot link " + linkPath_ + " to " + peer + ": " + std::strerror(errno);
    reader_.reset();
    port_ = nullptr;
    return false;
  }
  return true;
}

void PluggedReader::Unplug() {
  // The reader's thread ends first, then the pty closes with it: the program's side hangs up.
  reader_.reset();
  port_ = nullptr;
  unlink(linkPath_.c_str());
}

bool PluggedReader::WaitRoom(size_t bytes, int timeoutMs) {
  return port_ && port_->WaitRoom(bytes, timeoutMs);
}

}  // namespace replug
