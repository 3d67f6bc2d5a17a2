// The "开机自启动" check box's logic: registration under the name "OvraNetService" with the
// quoted path of the running executable. Portable; window's thread only.
#pragma once

#include <string>

namespace app {

// Whether the program is registered to start with the session (false too when the place of
// registration cannot be opened).
bool IsAutostartRegistered();

// Registers when absent, removes when present (the state is taken from the system, not from the
// check box). Returns the state the check box should show afterwards: when the change fails,
// clickState (what the click gave the box) is kept; when the place cannot be opened, false.
// The running executable's path is what gets registered; when it cannot be had (Windows: 260
// characters or more) nothing is written and the box shows clear, since an empty quoted
// command would start nothing at the next logon.
bool ToggleAutostartRegistration(bool clickState);
// The same with the executable path given (tests).
bool ToggleAutostartRegistration(bool clickState, const std::string& executablePath);

}  // namespace app
