// The main window's environment on simulated readers, for the window suites on every backend.
#pragma once

#include <string>
#include <vector>

#include "app/ovra7_server_dlg.h"
#include "support/serial_cable.h"

namespace apptest {

// Settings in `settingsFolder`; ports opened from `ports`; the port list "自动" followed by
// `listed` as it is when the window asks. Both must outlive the window.
inline app::DialogEnvironment SimulatedEnvironment(const std::string& settingsFolder,
                                                   testsupport::FakePorts& ports,
                                                   const std::vector<std::string>& listed) {
  app::DialogEnvironment env;
  env.settingsFolder = settingsFolder;
  env.opener = [&ports](int n, int baud) { return ports.Open(n, baud); };
  env.discoverPorts = [&listed] {
    std::vector<std::string> list{"自动"};
    list.insert(list.end(), listed.begin(), listed.end());
    return list;
  };
  return env;
}

}  // namespace apptest
