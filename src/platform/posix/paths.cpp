// POSIX per-user folders and file helpers. Only generic UNIX code belongs here.
#include "platform/paths.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

namespace platform {

std::string UserTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string dir = (base && *base) ? base : "/tmp";
  if (dir.back() != '/') dir += '/';
  dir += "ovra7-" + std::to_string(static_cast<unsigned long>(getuid()));
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  // lstat, not stat: a symbolic link planted under our name by someone else is refused.
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return std::string();
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return std::string();
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return std::string();
  return dir + "/";
}

const char* PathSeparator() { return "/"; }

bool PathFitsSystemLimit(const std::string& path) { return path.size() < PATH_MAX; }

LocalTime NowLocal() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm parts;
  time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   static_cast<int>(tv.tv_usec / 1000)};
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

}  // namespace platform
