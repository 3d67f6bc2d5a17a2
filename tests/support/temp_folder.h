// A fresh folder for one test, removed afterwards. Portable (std::filesystem).
#pragma once

#include <atomic>
#include <filesystem>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"

namespace testsupport {

class TempFolder {
 public:
  // Suites run side by side: a name two processes could both pick (the same millisecond, the
  // same count) would share one folder, its log, and its removal. The folder is made here or
  // another name is drawn, so it is this test's alone.
  TempFolder() {
    static std::atomic<unsigned> counter{std::random_device{}() % 1000000};
    auto base = std::filesystem::temp_directory_path();
    std::error_code error;
    do {
      path_ = base / ("ovra7-test-" + std::to_string(platform::NowMs()) + "-" +
                      std::to_string(counter++));
    } while (!std::filesystem::create_directory(path_, error) && !error);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as UTF-8 text with a trailing separator, as the log and cache code expect.
  std::string dir() const { return path_.u8string() + platform::PathSeparator(); }
  std::string file(const std::string& name) const {
    return (path_ / std::filesystem::u8path(name)).u8string();  // names are UTF-8 everywhere
  }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
