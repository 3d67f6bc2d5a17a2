// Portable: the log file's format, rotation and locking; the folder comes from platform/paths.h.
#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "platform/paths.h"

std::atomic<int> LogEnabled{0};

namespace {
bool LogSwitchedOn() { return LogEnabled.load(std::memory_order_relaxed) != 0; }
}  // namespace

namespace ovra7log {
namespace {

std::mutex& LogLock() {
  static std::mutex lock;  // created once, before its first use
  return lock;
}

std::string& DirOverride() {
  static std::string dir;
  return dir;
}

std::atomic<LineSink>& Sink() {
  static std::atomic<LineSink> sink{nullptr};
  return sink;
}

std::string LogDir() {
  const std::string& over = DirOverride();
  return over.empty() ? platform::UserTempDir() : over;
}

std::filesystem::path FsPath(const std::string& utf8) { return std::filesystem::u8path(utf8); }

}  // namespace

std::string CurrentLogPath() {
  std::string dir = LogDir();
  return dir.empty() ? std::string() : dir + "ovra7.log";
}

std::string PreviousLogPath() {
  std::string dir = LogDir();
  return dir.empty() ? std::string() : dir + "ovra7-1.log";
}

void SetLogDirForTesting(const std::string& dirWithSeparator) {
  std::lock_guard<std::mutex> guard(LogLock());
  DirOverride() = dirWithSeparator;
}

void SetLineSinkForTesting(LineSink sink) { Sink().store(sink); }

std::string HexDumpText(const char* prefix, const void* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* p = static_cast<const uint8_t*>(bytes);
  std::string text(prefix ? prefix : "");
  size_t shown = n < 20 ? n : 20;
  for (size_t i = 0; i < shown; ++i) {
    text += kDigits[p[i] >> 4];
    text += kDigits[p[i] & 15];
    text += ' ';
  }
  if (n > 20) {
    char more[32];
    std::snprintf(more, sizeof more, " +%d", static_cast<int>(n - 20));
    text += more;
  }
  return text;
}

}  // namespace ovra7log

void WriteLogLine(const char* text) {
  using namespace ovra7log;
  if (LineSink sink = Sink().load()) {
    sink(text);
    return;
  }
  std::lock_guard<std::mutex> guard(LogLock());
  std::string current = CurrentLogPath();
  if (current.empty()) return;
  std::FILE* file = platform::OpenFile(current, "ab");
  if (!file) return;
  std::fseek(file, 0, SEEK_END);
  long size = std::ftell(file);
  if (size > kRotateAboveBytes) {
    std::fclose(file);
    std::error_code ignored;
    std::string previous = PreviousLogPath();
    std::filesystem::remove(FsPath(previous), ignored);
    // A failed rename leaves the current file to be appended to again; the next line retries.
    std::filesystem::rename(FsPath(current), FsPath(previous), ignored);
    file = platform::OpenFile(current, "ab");
    if (!file) return;
  }
  platform::LocalTime t = platform::NowLocal();
  std::fprintf(file, "%4d-%d-%d %d:%d:%d:%d %s\n", t.year, t.month, t.day, t.hour, t.minute,
               t.second, t.millisecond, text);
  std::fclose(file);
}

void WriteLog(const char* format, ...) {
  if (!LogSwitchedOn()) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  WriteLogLine(line);
}

void LogHex(const char* prefix, const void* bytes, size_t n) {
  if (!LogSwitchedOn()) return;
  WriteLogLine(ovra7log::HexDumpText(prefix, bytes, n).c_str());
}
