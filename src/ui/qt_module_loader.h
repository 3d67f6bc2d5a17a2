// Loads the Qt backend from the program's Qt module (ovra7server-qt.so) at run time, so that a
// headless start, or one without a display, loads no Qt at all. Linux only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace ui {

// Where the module is looked for, relative to the running program: the installed layout
// (bin/ovra7server with lib/ovra7server/ovra7server-qt.so), then beside the program (the
// build tree).
std::vector<std::string> QtModuleCandidates();

// Checks the display first (ChooseQtPlatform, no Qt loaded), then loads the first candidate
// that exists and builds the backend on the chosen platform. Null, after one line on standard
// error saying why, when no display can open, no module is there, or it does not load or lacks
// the entry point. A module once loaded stays loaded.
std::unique_ptr<Backend> LoadQtBackend(const std::vector<std::string>& candidates);

}  // namespace ui
