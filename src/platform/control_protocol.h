// The control commands as text ("start", "stop", "mode N", "status", "show", "upgrade"), as the
// command line takes them and the Linux control socket carries them. Portable pure functions.
#pragma once

#include <string>

namespace platform {

constexpr int kControlStart = 0;
constexpr int kControlStop = 1;
constexpr int kControlMode = 2;
constexpr int kControlStatus = 3;
constexpr int kControlShow = -100;     // not a service command: show the window
constexpr int kControlUpgrade = -101;  // flash a reader waiting in DFU mode (Linux socket only)

// Results of "upgrade", as the window gives them and the socket carries them (2 is the command
// line's "no instance runs").
constexpr long kUpgradeCompleted = 0;  // the flashing dialog ended with "升级完成…"
constexpr long kUpgradeFailed = 1;     // it ended with another status line
constexpr long kUpgradeNoDevice = 3;   // no device in DFU mode: no dialog ran
constexpr long kUpgradeBusy = 4;       // a flashing dialog is running already

// The answer to "status" (command 3) while a flash runs: the reader is in DFU mode and cannot be
// asked (outside the range of the reader's status byte and of -1, "the query failed").
constexpr long kStatusFlashing = 256;

// The socket's answer to "upgrade": the result, a space and the dialog's last status line (may
// be empty). Parse is false for anything else.
std::string FormatUpgradeReply(long result, const std::string& statusLine);
bool ParseUpgradeReply(const std::string& line, long* result, std::string* statusLine);

// Parses one request; surrounding blanks and a final line break are ignored. "mode" needs one
// decimal argument (at most 9 digits, optional sign). false for anything else.
bool ParseControlRequest(const std::string& text, int* command, int* argument);

// The request text for a command, with a final "\n".
std::string FormatControlRequest(int command, int argument);

}  // namespace platform
