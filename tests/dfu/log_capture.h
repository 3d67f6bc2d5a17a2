// Captures the log lines a test provokes: the log switched on into a folder of the test's own.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

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
  bool Has(const std::string& line) const { return Text().find(line) != std::string::npos; }

 private:
  testsupport::TempFolder folder_;
};

}  // namespace dfutest
