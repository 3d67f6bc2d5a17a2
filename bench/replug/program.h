// The program under measurement as a child process: started with this process's environment,
// its output in a file, watched for an early end, and always ended. Linux.
#pragma once

#include <sys/types.h>

#include <string>

namespace replug {

class Program {
 public:
  Program() = default;
  ~Program() { Stop(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs `path --headless` in a process group of its own with stdout and stderr going to
  // outputFile. The child dies with this process should the benchmark itself be killed. False
  // with *why when it cannot start.
  bool Start(const std::string& path, const std::string& outputFile, std::string* why);
  // True while it runs; otherwise *why says how it ended.
  bool Running(std::string* why);
  // SIGTERM, then SIGKILL when it has not ended within ten seconds. Idempotent.
  void Stop();

  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

}  // namespace replug
