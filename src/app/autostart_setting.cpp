// Autostart registration toggling. Portable.
#include "app/autostart_setting.h"

#include <string>

#include "platform/autostart.h"
#include "platform/executable.h"

namespace app {
namespace {
const char kAutostartName[] = "OvraNetService";
const char kAutostartIcon[] = "ovra7server";  // the icon the Linux package installs
}

bool IsAutostartRegistered() {
  return platform::QueryAutostart(kAutostartName) == platform::AutostartState::kPresent;
}

bool ToggleAutostartRegistration(bool clickState) {
  return ToggleAutostartRegistration(clickState, platform::ExecutablePath());
}

bool ToggleAutostartRegistration(bool clickState, const std::string& executablePath) {
  switch (platform::QueryAutostart(kAutostartName)) {
    case platform::AutostartState::kUnavailable:
      return false;
    case platform::AutostartState::kAbsent: {
      if (executablePath.empty()) return false;
      std::string command = "\"" + executablePath + "\"";
      return platform::AddAutostart(kAutostartName, command, kAutostartIcon) ? true : clickState;
    }
    case platform::AutostartState::kPresent:
      return platform::RemoveAutostart(kAutostartName) ? false : clickState;
  }
  return clickState;
}

}  // namespace app
