// Names the calling thread, so that a look at the running program (top -H, a debugger, a crash
// report) tells its threads apart. Best effort: a system that keeps no names ignores it.
#pragma once

namespace platform {

// name: ASCII, at most 15 characters (Linux keeps no more).
void NameThisThread(const char* name);

}  // namespace platform
