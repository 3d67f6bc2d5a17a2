// The "开机自启动" check box's logic: registration under the name "OvraNetService" with the
// quoted path of the running executable. Portable; window's thread only.
#pragma once

namespace app {

// Whether the program is registered to start with the session (false too when the place of
// registration cannot be opened).
bool IsAutostartRegistered();

// Registers when absent, removes when present (the state is taken from the system, not from the
// check box). Returns the state the check box should show afterwards: when the change fails,
// clickState (what the click gave the box) is kept; when the place cannot be opened, false.
bool ToggleAutostartRegistration(bool clickState);

}  // namespace app
