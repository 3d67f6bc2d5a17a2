// Facts about the running program: its own path and its product version.
#pragma once

#include <string>

namespace platform {

// Full UTF-8 path of the running executable, "" when it cannot be had (never a cut one).
// Windows: GetModuleFileNameW, so "" for 260 characters or more. Linux: /proc/self/exe.
std::string ExecutablePath();

// The product version text. Windows: "\StringFileInfo\<lang><codepage>\ProductVersion" of the
// executable's version resource, first translation; "" when any step fails. Linux: the version
// the build was configured with.
std::string ProductVersionText();

}  // namespace platform
