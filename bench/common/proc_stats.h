// Figures of a process from /proc (Linux), for the benchmarks: CPU time, wake-ups per thread,
// open descriptors, resident memory. Each returns a negative value or false when the process is
// gone.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace benchproc {

struct ThreadWakeups {
  int tid = 0;
  std::string name;
  uint64_t switches = 0;  // voluntary + involuntary context switches so far
};

struct ProcessSample {
  uint64_t ns = 0;        // when it was taken (monotonic)
  double cpuMs = 0;       // user + system time of all threads so far
  uint64_t switches = 0;  // sum over the threads alive now
  std::vector<ThreadWakeups> threads;
};

// User + system CPU time of all the process's threads, in ms; -1 when unreadable.
double ProcessCpuMs(pid_t pid);
bool SampleProcess(pid_t pid, ProcessSample* out);
int OpenDescriptors(pid_t pid);
long ResidentKb(pid_t pid);  // VmRSS
int ThreadCount(pid_t pid);

}  // namespace benchproc
