// Starting, watching and ending the child process.
#include "program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace replug {

bool Program::Start(const std::string& path, const std::string& outputFile, std::string* why) {
  if (access(path.c_str(), X_OK) != 0) {
    *why = path + " is not an executable file";
    return false;
  }
  const pid_t parent = getpid();
  pid_t child = fork();
  if (child < 0) {
    *why = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here to exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);  // the benchmark ended before the line above
    // A group of its own: a Ctrl-C meant for the benchmark reaches only the benchmark, which
    // then ends the program itself after reporting.
    setpgid(0, 0);
    int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in >= 0) dup2(in, STDIN_FILENO);
    execl(path.c_str(), path.c_str(), "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  pid_ = child;
  ended_ = false;
  return true;
}

bool Program::Running(std::string* why) {
  if (pid_ < 0) {
    *why = "the program was not started";
    return false;
  }
  if (!ended_) {
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == 0) return true;
    ended_ = true;
    if (r < 0) status_ = -1;
  }
  if (status_ == -1) {
    *why = "the program is gone";
  } else if (WIFEXITED(status_)) {
    *why = "the program exited with code " + std::to_string(WEXITSTATUS(status_));
  } else if (WIFSIGNALED(status_)) {
    *why = std::string("the program was killed by signal ") + strsignal(WTERMSIG(status_));
  } else {
    *why = "the program ended";
  }
  return false;
}

void Program::Stop() {
  if (pid_ < 0 || ended_) return;
  kill(pid_, SIGTERM);
  // Bounded: a program that does not end on SIGTERM is killed.
  for (int i = 0; i < 1000; ++i) {
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      ended_ = true;
      return;
    }
    platform::SleepMs(10);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status_, 0);
  ended_ = true;
}

}  // namespace replug
