// The baseline: socat relaying the pty to the server, started and ended by this process.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "relays.h"

extern char** environ;

namespace relaybench {

Figures RunSocat(const Setup& setup) {
  Figures figures;
  figures.name = "socat";
  std::string device = "GOPEN:" + setup.readerPeerPath + ",raw,echo=0";
  std::string server = "TCP:127.0.0.1:" + std::to_string(setup.serverPort);
  std::vector<std::string> args = {"socat", "-b", "8192", device, server};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "socat", nullptr, nullptr, argv.data(), environ) != 0) {
    figures.error = "socat does not start (is it installed?)";
    return figures;
  }
  platform::SocketHandle connection = platform::Accept(setup.listener, 5000);
  if (connection == platform::kInvalidSocket) {
    figures.error = "socat did not connect";
  } else {
    MeasureAll(setup, connection, Framing{false, false}, &figures);
    // Idle: nothing moves; socat's own CPU time and wake-ups from /proc.
    MeasureIdle(pid, setup.idleSeconds, &figures);
    platform::CloseSocket(connection);
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  return figures;
}

}  // namespace relaybench
