// The log lines a test provokes: the log switched on into a folder of the test's own.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "support/temp_folder.h"

namespace dfutest {

class LogCapture {
 public:
  LogCapture() {
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
  }
  ~LogCapture() {
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }
  std::string Text() const {
    std::ifstream in(ovra7log::CurrentLogPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Whether `line` was logged after the log had `from` characters.
  bool Has(const std::string& line, size_t from = 0) const {
    const std::string text = Text();
    return from <= text.size() && text.find(line, from) != std::string::npos;
  }
  // True when `expected` were logged in this order (other lines may come between).
  bool InOrder(const std::vector<std::string>& expected) const {
    const std::string text = Text();
    size_t at = 0;
    for (const std::string& line : expected) {
      at = text.find(line, at);
      if (at == std::string::npos) return false;
      at += line.size();
    }
    return true;
  }

 private:
  testsupport::TempFolder folder_;
};

}  // namespace dfutest
