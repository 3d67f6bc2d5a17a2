// The control commands as text ("start", "stop", "mode N", "status", "show"), as the command
// line takes them and the Linux control socket carries them. Portable pure functions.
#pragma once

#include <string>

namespace platform {

constexpr int kControlStart = 0;
constexpr int kControlStop = 1;
constexpr int kControlMode = 2;
constexpr int kControlStatus = 3;
constexpr int kControlShow = -100;  // not a service command: show the window

// Parses one request; surrounding blanks and a final line break are ignored. "mode" needs one
// decimal argument (at most 9 digits, optional sign). false for anything else.
bool ParseControlRequest(const std::string& text, int* command, int* argument);

// The request text for a command, with a final "\n".
std::string FormatControlRequest(int command, int argument);

}  // namespace platform
