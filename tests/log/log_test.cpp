#include "log/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every line of the log has the shape; the number of lines.
int CountLinesShaped(const std::string& text, const std::regex& shape) {
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
  }
  return count;
}

class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
  }
  void TearDown() override {
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }
  std::string Log() const { return ReadAll(ovra7log::CurrentLogPath()); }
  testsupport::TempFolder folder_;
};

// An unpadded time stamp, then the text as given: percent signs unchanged, cut at 1023 characters.
TEST_F(LogTest, LineIsTimeStampAndTextPassedVerbatimAndCut) {
  WriteLog("open %d failed", 3);
  LogHex("100% ", "\x01", 1);
  WriteLog("%s", "a %d %s b");
  WriteLog("%s", std::string(3000, 'x').c_str());
  const std::string stamp = R"(\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} )";
  const std::regex shape(stamp + "(open 3 failed|100% 01 |a %d %s b|x{1023})");
  EXPECT_EQ(CountLinesShaped(Log(), shape), 4);
}

TEST_F(LogTest, HexDumpShowsTwentyBytesThenTheRestCounted) {
  EXPECT_EQ(ovra7log::HexDumpText("read com:", "", 0), "read com:");
  const uint8_t frame[] = {0x55, 0xAA, 0x04, 0x00, 0x01, 0x00, 0x00, 0xFA};
  EXPECT_EQ(ovra7log::HexDumpText("write com: ", frame, 8), "write com: 55 aa 04 00 01 00 00 fa ");
  std::vector<uint8_t> bytes(25);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  std::string twenty = ovra7log::HexDumpText("p:", bytes.data(), 20);
  EXPECT_EQ(twenty.size(), 2u + 60u);
  EXPECT_EQ(twenty.find('+'), std::string::npos);
  EXPECT_EQ(ovra7log::HexDumpText("p:", bytes.data(), 21).substr(62), " +1");
  EXPECT_EQ(ovra7log::HexDumpText("read server: ", bytes.data(), 25).substr(13 + 60), " +5");
}

std::vector<std::string> sunkLines;
void Collect(const char* text) { sunkLines.emplace_back(text); }

TEST_F(LogTest, DisabledLogAndSinkWriteNoFile) {
  LogEnabled = 0;
  WriteLog("nothing %d", 1);
  LogHex("write com: ", "\x55\xaa", 2);
  EXPECT_FALSE(fs::exists(fs::u8path(ovra7log::CurrentLogPath())));
  LogEnabled = 1;
  sunkLines.clear();
  ovra7log::SetLineSinkForTesting(&Collect);
  WriteLog("open %d failed", 4);
  LogHex("read com:", "\x55", 1);
  ovra7log::SetLineSinkForTesting(nullptr);
  EXPECT_EQ(sunkLines, (std::vector<std::string>{"open 4 failed", "read com:55 "}));
  EXPECT_FALSE(fs::exists(fs::u8path(ovra7log::CurrentLogPath())));
  WriteLog("back in the file");
  EXPECT_NE(Log().find(" back in the file\n"), std::string::npos);
  EXPECT_EQ(sunkLines.size(), 2u);
}

TEST_F(LogTest, RotatesOnlyAboveOneMebibyte) {
  const std::string previous = ovra7log::PreviousLogPath();
  std::ofstream(fs::u8path(ovra7log::CurrentLogPath()), std::ios::binary)
      << std::string(ovra7log::kRotateAboveBytes, 'o');
  WriteLog("first");  // exactly 1048576 bytes: appended, not rotated
  EXPECT_FALSE(fs::exists(fs::u8path(previous)));
  WriteLog("second");  // now above: rotated before this line
  const std::string old = ReadAll(previous), fresh = Log();
  EXPECT_EQ(old.compare(0, 5, "ooooo"), 0);
  EXPECT_NE(old.find("first\n"), std::string::npos);
  EXPECT_NE(fresh.find(" second\n"), std::string::npos);
  EXPECT_EQ(fresh.find("first"), std::string::npos);
}

TEST_F(LogTest, LinesFromManyThreadsNeverInterleaveNorGetLost) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) WriteLog("thread %d line %d end", t, i);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(CountLinesShaped(Log(), std::regex(R"(^\S+ \S+ thread \d line \d+ end$)")), 200);
}

// The UI thread flips the switch while the relay and download threads log. The thread sanitizer
// build reports a plain integer switch here as a data race; every build checks that lines stay
// whole and that a switch turned off stops the lines of every thread.
TEST_F(LogTest, SwitchFlipsWhileOtherThreadsLog) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      while (!stop.load()) WriteLog("writer %d", t);
    });
  }
  for (int i = 0; i < 200; ++i) {
    LogEnabled = i % 2;
    std::this_thread::yield();
  }
  LogEnabled = 1;
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto lines = [this] {
    const std::string text = Log();
    return std::count(text.begin(), text.end(), '\n');
  };
  while (lines() < 50 && std::chrono::steady_clock::now() < bound) std::this_thread::yield();
  LogEnabled = 0;
  stop = true;
  for (auto& w : writers) w.join();
  const std::string before = Log();
  WriteLog("after the switch went off");
  EXPECT_EQ(Log(), before);
  EXPECT_GE(CountLinesShaped(before, std::regex(R"(^\S+ \S+ writer [01]$)")), 50);
}

}  // namespace
