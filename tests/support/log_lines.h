// The lines of the program's current log, read back by tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/log.h"

namespace testsupport {

// The texts of the log's lines in order, each without its date and time.
inline std::vector<std::string> LogLines() {
  std::ifstream in(std::filesystem::u8path(ovra7log::CurrentLogPath()), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    lines.push_back(second == std::string::npos ? line : line.substr(second + 1));
  }
  return lines;
}

inline int LogCount(const std::string& text) {
  auto lines = LogLines();
  return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

}  // namespace testsupport
