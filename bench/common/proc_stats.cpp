// Reading /proc/PID/stat, /proc/PID/status, /proc/PID/task/*/status and /proc/PID/fd.
#include "proc_stats.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace benchproc {

namespace {

std::string ProcPath(pid_t pid) { return "/proc/" + std::to_string(pid); }

// The value after "Field:" in a status file, or -1.
long StatusValue(const std::string& path, const char* field) {
  std::ifstream in(path);
  const size_t length = std::strlen(field);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
      return std::atol(line.c_str() + length + 1);
  return -1;
}

}  // namespace

double ProcessCpuMs(pid_t pid) {
  std::ifstream in(ProcPath(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');  // the command name may hold spaces and parentheses
  if (close == std::string::npos || close + 2 >= text.size()) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double utime = -1, stime = -1;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::strtod(field.c_str(), nullptr);
    if (i == 15) stime = std::strtod(field.c_str(), nullptr);
  }
  if (utime < 0 || stime < 0) return -1;
  return (utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool SampleProcess(pid_t pid, ProcessSample* out) {
  *out = ProcessSample();
  out->ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
  out->cpuMs = ProcessCpuMs(pid);
  if (out->cpuMs < 0) return false;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(ProcPath(pid) + "/task", error)) {
    const std::string task = entry.path().string();
    long voluntary = StatusValue(task + "/status", "voluntary_ctxt_switches");
    long involuntary = StatusValue(task + "/status", "nonvoluntary_ctxt_switches");
    if (voluntary < 0 || involuntary < 0) continue;  // the thread ended meanwhile
    ThreadWakeups thread;
    thread.tid = std::atoi(entry.path().filename().c_str());
    std::ifstream comm(task + "/comm");
    std::getline(comm, thread.name);
    thread.switches = static_cast<uint64_t>(voluntary) + static_cast<uint64_t>(involuntary);
    out->switches += thread.switches;
    out->threads.push_back(thread);
  }
  return !error && !out->threads.empty();
}

int OpenDescriptors(pid_t pid) {
  std::error_code error;
  int count = 0;
  for (fs::directory_iterator it(ProcPath(pid) + "/fd", error), end; !error && it != end;
       it.increment(error))
    ++count;
  return error ? -1 : count;
}

long ResidentKb(pid_t pid) { return StatusValue(ProcPath(pid) + "/status", "VmRSS"); }

int ThreadCount(pid_t pid) {
  return static_cast<int>(StatusValue(ProcPath(pid) + "/status", "Threads"));
}

}  // namespace benchproc
