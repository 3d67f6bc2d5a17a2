// POSIX settings file: our own INI reader and writer, written through a temporary file and a
// rename so that a crash in the middle of a write never leaves a half-written file.
#include "platform/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/ini_text.h"

namespace platform {
namespace {

// Settings files are a few hundred bytes; anything far larger is not ours to rewrite.
constexpr off_t kMaxFileBytes = 1 << 20;

enum class ReadResult { kOk, kMissing, kFailed };

ReadResult ReadWhole(const std::string& path, std::string* text) {
  text->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
    close(fd);
    return ReadResult::kFailed;
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
    if (text->size() > static_cast<size_t>(kMaxFileBytes)) {
      close(fd);
      return ReadResult::kFailed;
    }
  }
  close(fd);
  return ReadResult::kOk;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int ReadIniFileInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue) {
  std::string text;
  if (ReadWhole(path, &text) != ReadResult::kOk) return defaultValue;
  return IniReadInt(text, section, key, defaultValue);
}

bool WriteIniFileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::string text;
  if (ReadWhole(path, &text) == ReadResult::kFailed) return false;
  std::string updated = IniWriteString(text, section, key, value, "\n");
  std::string temp = path + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, updated) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

bool PrepareFolder(const std::string& path) {
  if (path.empty()) return false;
  // Each level from the top down; the first one that exists is usually the home folder.
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    std::string level = path.substr(0, end);
    if (!level.empty() && level.back() != '/' && mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
      return false;
    if (end == std::string::npos) break;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
