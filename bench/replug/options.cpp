// Parsing the command line.
#include "options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace replug {

namespace {

bool ToNumber(const std::string& text, double low, double high, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(value >= low && value <= high)) return false;
  *out = value;
  return true;
}

bool ToInteger(const std::string& text, double high, double* out) {
  double value = 0;
  if (!ToNumber(text, 0, high, &value) || value != static_cast<double>(static_cast<int64_t>(value)))
    return false;
  *out = value;
  return true;
}

}  // namespace

const char* Usage() {
  return "usage: replug PATH/TO/ovra7server [--idle SECONDS] [--cycles N] [--gap-ms MS]\n"
         "                                  [--soak-mb MB] [--log] [--seed N]\n"
         "       replug PATH/TO/ovra7server --fault-mb MB [--faults N] [--verbose] [--seed N]\n"
         "       replug PATH/TO/ovra7server --fault-minutes M [--verbose] [--seed N]\n"
         "  --idle SECONDS  idle measurement once linked (default 10, 0 = off)\n"
         "  --cycles N      replug cycles (default 100, 0 = off)\n"
         "  --gap-ms MS     time unplugged per cycle (default 200)\n"
         "  --soak-mb MB    megabytes each way at once (default 0 = off)\n"
         "  --log           turn the program's own log on\n"
         "  --seed N        seed of the byte streams and frame sizes (default 1)\n"
         "  --fault-mb MB   fault soak instead: both ways at full speed with faults planted\n"
         "                  (server FIN, RST, refusal, stall; replug), until MB each way and\n"
         "  --faults N      at least N faults (default 500)\n"
         "  --fault-minutes M  fault soak for M minutes instead\n"
         "  --verbose       a line per fault\n";
}

bool ParseOptions(int argc, char** argv, Options* out, std::string* why) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--log" || arg == "--verbose") {
      (arg == "--log" ? out->log : out->verbose) = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      out->help = true;
      return true;
    }
    if (arg.compare(0, 2, "--") != 0) {
      if (!out->program.empty()) {
        *why = "more than one program path: " + arg;
        return false;
      }
      out->program = std::filesystem::absolute(arg).string();
      continue;
    }
    if (i + 1 >= argc) {
      *why = arg + " needs a value";
      return false;
    }
    const std::string text = argv[++i];
    double value = 0;
    bool ok = false;
    if (arg == "--idle") {
      ok = ToNumber(text, 0, 86400, &out->idleSeconds);
    } else if (arg == "--cycles") {
      ok = ToInteger(text, 1000000, &value);
      out->cycles = static_cast<int>(value);
    } else if (arg == "--gap-ms") {
      ok = ToInteger(text, 600000, &value);
      out->gapMs = static_cast<int>(value);
    } else if (arg == "--soak-mb") {
      ok = ToInteger(text, 100000, &value);
      out->soakMb = static_cast<int>(value);
    } else if (arg == "--fault-mb") {
      ok = ToInteger(text, 1000000, &value) && value > 0;
      out->faultMb = static_cast<int>(value);
    } else if (arg == "--faults") {
      ok = ToInteger(text, 10000000, &value) && value > 0;
      out->faults = static_cast<int>(value);
    } else if (arg == "--fault-minutes") {
      ok = ToNumber(text, 0.01, 100000, &out->faultMinutes);
    } else if (arg == "--seed") {
      ok = ToInteger(text, 4294967295.0, &value);
      out->seed = static_cast<uint64_t>(value);
    } else {
      *why = "unknown option " + arg;
      return false;
    }
    if (!ok) {
      *why = "bad value for " + arg + ": " + text;
      return false;
    }
  }
  if (out->program.empty()) {
    *why = "the path of ovra7server is missing";
    return false;
  }
  return true;
}

}  // namespace replug
