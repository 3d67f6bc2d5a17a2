// The benchmark's command line.
#pragma once

#include <cstdint>
#include <string>

namespace replug {

struct Options {
  std::string program;      // path of ovra7server
  double idleSeconds = 10;  // 0 skips the idle phase
  int cycles = 100;         // 0 skips the replug phase
  int gapMs = 200;          // time unplugged in each cycle
  int soakMb = 0;           // megabytes each way; 0 skips the soak
  bool log = false;         // the program's own log on
  int faultMb = 0;          // fault soak: megabytes each way (0 = no fault soak)
  int faults = 500;         // fault soak: at least this many faults
  double faultMinutes = 0;  // fault soak by time instead (then faultMb and faults are unused)
  bool verbose = false;     // a line per fault
  uint64_t seed = 1;        // names every byte stream and the soak's frame sizes
  bool help = false;        // --help: print the usage and do nothing else
};

// False with *why for an unknown option or a value out of range.
bool ParseOptions(int argc, char** argv, Options* out, std::string* why);
const char* Usage();

}  // namespace replug
