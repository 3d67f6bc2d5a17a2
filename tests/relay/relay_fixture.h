// Shared set-up of the relay suites: a service on fake ports, a simulated reader on the cable,
// a loopback card server, and the log pointed at a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "relay/ovra7_service.h"
#include "support/card_server.h"
#include "support/serial_cable.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"

namespace relaytest {

using Bytes = std::vector<uint8_t>;

class RelayTest : public testing::Test {
 protected:
  void SetUp() override {
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
    service_ = std::make_unique<Ovra7Service>(
        nullptr, nullptr, [this](int n, int baud) { return ports_.Open(n, baud); });
  }

  void TearDown() override {
    if (service_) service_->Stop(false);
    reader_.reset();
    service_.reset();
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }

  // A reader on port n, the service started on it directly.
  void StartOn(int n, testsupport::ReaderConfig config = testsupport::ReaderConfig(),
               testsupport::CableTimeouts timeouts = testsupport::CableTimeouts()) {
    cable_ = &ports_.Add(n, timeouts);
    reader_ = std::make_unique<testsupport::SimulatedReader>(cable_->ReaderEnd(), config);
    ASSERT_EQ(service_->Start(n, {"自动"}), 1);
  }

  void PointAtServer() { service_->SetServerAddress("127.0.0.1", server_.port()); }

  // Connect request from the reader, answered 0A 00 00 once the server accepted.
  void Link() {
    PointAtServer();
    ASSERT_TRUE(reader_->SendConnectRequest());
    testsupport::ReaderFrameRecord answer;
    ASSERT_TRUE(reader_->WaitFrames(0x0A, 1, 10000, &answer));
    ASSERT_EQ(answer.payload, (Bytes{0x0A, 0x00, 0x00}));
    ASSERT_TRUE(server_.WaitConnections(1, 5000));
  }

  std::string LogText() const {
    std::ifstream in(std::filesystem::u8path(ovra7log::CurrentLogPath()), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The texts of the log's lines, time stamps removed, in order.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(LogText());
    for (std::string line; std::getline(in, line);) {
      size_t first = line.find(' ');
      size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
      lines.push_back(second == std::string::npos ? line : line.substr(second + 1));
    }
    return lines;
  }

  bool LogHas(const std::string& text) const {
    for (const auto& line : LogLines())
      if (line == text) return true;
    return false;
  }

  int LogCount(const std::string& text) const {
    int n = 0;
    for (const auto& line : LogLines()) n += line == text;
    return n;
  }

  // Waits until the log holds a line (the relay thread writes it asynchronously).
  bool WaitLog(const std::string& text, int timeoutMs) const {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
      if (LogHas(text)) return true;
      platform::SleepMs(10);
    }
    return false;
  }

  testsupport::TempFolder folder_;
  testsupport::FakePorts ports_;
  testsupport::CardServer server_;
  testsupport::SerialCable* cable_ = nullptr;
  std::unique_ptr<testsupport::SimulatedReader> reader_;
  std::unique_ptr<Ovra7Service> service_;
};

// Short read time-outs for tests about a reader that falls silent mid-frame.
inline testsupport::CableTimeouts QuickTimeouts() {
  testsupport::CableTimeouts t;
  t.intervalMs = 50;
  t.perByteMs = 0;
  t.constantMs = 100;
  return t;
}

}  // namespace relaytest
