#include "log/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
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
  testsupport::TempFolder folder_;
};

TEST_F(LogTest, DisabledLogCreatesNoFile) {
  LogEnabled = 0;
  WriteLog("nothing %d", 1);
  LogHex("write com: ", "\x55\xaa", 2);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(ovra7log::CurrentLogPath())));
}

TEST_F(LogTest, LineHasUnpaddedTimeStampAndText) {
  WriteLog("open %d failed", 3);
  std::string text = ReadAll(ovra7log::CurrentLogPath());
  std::regex line(R"(^\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} open 3 failed\n$)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
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

TEST_F(LogTest, PercentSignsPassUnchanged) {
  LogHex("100% ", "\x01", 1);
  WriteLog("%s", "a %d %s b");
  std::string text = ReadAll(ovra7log::CurrentLogPath());
  EXPECT_NE(text.find(" 100% 01 \n"), std::string::npos) << text;
  EXPECT_NE(text.find(" a %d %s b\n"), std::string::npos) << text;
}

std::vector<std::string> sunkLines;
void Collect(const char* text) { sunkLines.emplace_back(text); }

TEST_F(LogTest, SinkTakesTheFormattedLinesInsteadOfTheFile) {
  sunkLines.clear();
  ovra7log::SetLineSinkForTesting(&Collect);
  WriteLog("open %d failed", 4);
  LogHex("read com:", "\x55", 1);
  ovra7log::SetLineSinkForTesting(nullptr);
  EXPECT_EQ(sunkLines, (std::vector<std::string>{"open 4 failed", "read com:55 "}));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(ovra7log::CurrentLogPath())));
  WriteLog("back in the file");
  EXPECT_NE(ReadAll(ovra7log::CurrentLogPath()).find(" back in the file\n"), std::string::npos);
  EXPECT_EQ(sunkLines.size(), 2u);
}

TEST_F(LogTest, LongTextIsCutAt1023Characters) {
  std::string longText(3000, 'x');
  WriteLog("%s", longText.c_str());
  std::string text = ReadAll(ovra7log::CurrentLogPath());
  size_t space = text.find(' ', text.find(' ') + 1);  // after the date and the time
  ASSERT_NE(space, std::string::npos);
  EXPECT_EQ(text.size() - space - 2, 1023u);  // one space before, the newline after
}

TEST_F(LogTest, RotatesOnlyAboveOneMebibyte) {
  std::string current = ovra7log::CurrentLogPath();
  std::string previous = ovra7log::PreviousLogPath();
  {
    std::ofstream out(std::filesystem::u8path(current), std::ios::binary);
    out << std::string(ovra7log::kRotateAboveBytes, 'o');
  }
  WriteLog("first");  // exactly 1048576 bytes: appended, not rotated
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(previous)));
  WriteLog("second");  // now above: rotated before this line
  ASSERT_TRUE(std::filesystem::exists(std::filesystem::u8path(previous)));
  std::string old = ReadAll(previous);
  EXPECT_EQ(old.compare(0, 5, "ooooo"), 0);
  EXPECT_NE(old.find("first\n"), std::string::npos);
  std::string fresh = ReadAll(current);
  EXPECT_NE(fresh.find(" second\n"), std::string::npos);
  EXPECT_EQ(fresh.find("first"), std::string::npos);
}

TEST_F(LogTest, LinesFromManyThreadsNeverInterleave) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) WriteLog("thread %d line %d end", t, i);
    });
  }
  for (auto& th : threads) th.join();
  std::istringstream lines(ReadAll(ovra7log::CurrentLogPath()));
  std::regex shape(R"(^\S+ \S+ thread \d line \d+ end$)");
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
  }
  EXPECT_EQ(count, 200);
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
  auto lineCount = [] {
    std::string text = ReadAll(ovra7log::CurrentLogPath());
    return std::count(text.begin(), text.end(), '\n');
  };
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (lineCount() < 50 && std::chrono::steady_clock::now() < bound) std::this_thread::yield();
  LogEnabled = 0;
  stop = true;
  for (auto& w : writers) w.join();

  std::string before = ReadAll(ovra7log::CurrentLogPath());
  WriteLog("after the switch went off");
  EXPECT_EQ(ReadAll(ovra7log::CurrentLogPath()), before);
  std::istringstream text(before);
  std::regex shape(R"(^\S+ \S+ writer [01]$)");
  int count = 0;
  for (std::string line; std::getline(text, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
  }
  EXPECT_GE(count, 50);
}

}  // namespace
