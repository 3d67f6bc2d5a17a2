// The diagnostic log: one text file in the user's temporary folder with one level of rotation.
// Portable. Any thread may log; each call returns after its line was written and the file closed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// Process-wide switch, 0 or 1: while 0, WriteLog and LogHex do nothing (no formatting, no file
// access). Loaded from the settings at start-up and toggled on the UI thread; every thread that
// logs reads it. Atomic so that this is no data race, read relaxed and without the log lock: a
// change only has to show up at a thread's next line, it orders nothing else.
extern std::atomic<int> LogEnabled;

// printf-style line; the formatted text is cut at 1023 characters.
void WriteLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The prefix unchanged, then the first 20 bytes as "%02x " each, then " +%d" with the number of
// bytes not shown. The prefix is text, never a format.
void LogHex(const char* prefix, const void* bytes, size_t n);

// One time-stamped line "%4d-%d-%d %d:%d:%d:%d %s\n"; rotates the file above 1048576 bytes.
// A file that cannot be opened loses the line silently.
void WriteLogLine(const char* text);

namespace ovra7log {

// Where the log lies: the user's temporary folder + "ovra7.log" / "ovra7-1.log".
std::string CurrentLogPath();
std::string PreviousLogPath();

// Tests point the log at a folder of their own ("" restores the user's temporary folder).
void SetLogDirForTesting(const std::string& dirWithSeparator);

// Hands every line (without its time stamp) to sink instead of the file; nullptr restores the
// file. For fuzzers, which format every line but cannot afford a file open per line.
using LineSink = void (*)(const char* text);
void SetLineSinkForTesting(LineSink sink);

// The hex dump text LogHex writes, without the time stamp.
std::string HexDumpText(const char* prefix, const void* bytes, size_t n);

constexpr long kRotateAboveBytes = 1048576;

}  // namespace ovra7log
