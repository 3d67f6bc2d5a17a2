// reader-sim's command line: where the simulated reader sits, what it answers and what it relays.
// Portable; parsing is a pure function so that bad input is reported, never guessed at.
#pragma once

#include <string>
#include <vector>

#include "support/simulated_reader.h"

namespace readersim {

enum class RelayMode { kStdin, kPattern, kNone };

struct Options {
  std::string device;   // an existing port to open ("COM8", "/dev/ttyUSB0"), or empty
  bool pty = false;     // make a pseudo-terminal pair and play the reader on it (Linux)
  std::string ptyLink;  // with pty: a symlink to the port side, e.g. /tmp/dev/ttyACM0
  int baud = 115200;
  testsupport::ReaderConfig reader;
  bool connect = false;  // send a connect request once started
  int connectDelayMs = 500;
  int connectAfterCode = -1;  // >= 0: the delay counts from the host's frame after this command
  RelayMode relay = RelayMode::kStdin;
  int patternBytes = 64;
  int patternEveryMs = 200;
  double seconds = 0;  // 0: until stdin ends (stdin mode) or until interrupted
  bool quiet = false;  // no line per frame on stderr
  bool help = false;
  bool version = false;
};

// Parses argv[1..argc-1]. False with *error set on a bad or missing value.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

std::string UsageText();

}  // namespace readersim
