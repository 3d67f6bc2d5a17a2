// Per-user folders and small file operations the core needs. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The per-user temporary folder, ending in the path separator, or "" when it cannot be had.
// Windows: GetTempPathW. Linux: $TMPDIR (default /tmp) + "/ovra7-<uid>/", created with mode 0700
// and refused ("") when it exists but is not a directory owned by us, so that no other user can
// plant or redirect our log and package files.
std::string UserTempDir();

// The path separator of this system ("\\" or "/").
const char* PathSeparator();

// Whether the system's file functions take a path (UTF-8) this long, counted as the system
// counts: Windows UTF-16 units, at most 259 and the terminator (MAX_PATH); Linux bytes, below
// PATH_MAX. A non-ASCII folder is thus as usable as an ASCII one of the same length in characters.
bool PathFitsSystemLimit(const std::string& path);

// The local wall-clock time, for log time stamps.
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime NowLocal();

}  // namespace platform

namespace platform {

// fopen for a UTF-8 path (Windows: _wfopen, so non-ASCII user folders work). nullptr on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

}  // namespace platform
