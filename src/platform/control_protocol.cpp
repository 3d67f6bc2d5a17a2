// Control command texts. Portable.
#include "platform/control_protocol.h"

#include <sstream>

namespace platform {

bool ParseControlRequest(const std::string& text, int* command, int* argument) {
  if (text.size() > 64) return false;
  std::istringstream in(text);
  std::string word, number, extra;
  if (!(in >> word)) return false;
  *argument = 0;
  if (word == "start")
    *command = kControlStart;
  else if (word == "stop")
    *command = kControlStop;
  else if (word == "status")
    *command = kControlStatus;
  else if (word == "show")
    *command = kControlShow;
  else if (word == "upgrade")
    *command = kControlUpgrade;
  else if (word == "mode")
    *command = kControlMode;
  else
    return false;
  if (*command == kControlMode) {
    if (!(in >> number)) return false;
    size_t i = (number[0] == '-' || number[0] == '+') ? 1 : 0;
    if (i == number.size() || number.size() - i > 9) return false;
    long value = 0;
    for (size_t k = i; k < number.size(); ++k) {
      if (number[k] < '0' || number[k] > '9') return false;
      value = value * 10 + (number[k] - '0');
    }
    *argument = static_cast<int>(number[0] == '-' ? -value : value);
  }
  return !(in >> extra);
}

std::string FormatControlRequest(int command, int argument) {
  switch (command) {
    case kControlStart:
      return "start\n";
    case kControlStop:
      return "stop\n";
    case kControlStatus:
      return "status\n";
    case kControlShow:
      return "show\n";
    case kControlUpgrade:
      return "upgrade\n";
    case kControlMode:
      return "mode " + std::to_string(argument) + "\n";
    default:
      return "";
  }
}

std::string FormatUpgradeReply(long result, const std::string& statusLine) {
  // A line break inside the status would end the answer early.
  std::string status = statusLine;
  for (char& c : status)
    if (c == '\n' || c == '\r') c = ' ';
  return std::to_string(result) + " " + status + "\n";
}

bool ParseUpgradeReply(const std::string& line, long* result, std::string* statusLine) {
  size_t i = (!line.empty() && line[0] == '-') ? 1 : 0;
  size_t digits = i;
  while (digits < line.size() && digits - i < 9 && line[digits] >= '0' && line[digits] <= '9')
    ++digits;
  if (digits == i || digits >= line.size() || line[digits] != ' ') return false;
  long value = 0;
  for (size_t k = i; k < digits; ++k) value = value * 10 + (line[k] - '0');
  *result = i ? -value : value;
  *statusLine = line.substr(digits + 1);
  return true;
}

}  // namespace platform
