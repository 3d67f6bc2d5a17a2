// Shared set-up of the relay suites: a service on fake ports, a simulated reader on the in-memory
// cable or on a pseudo-terminal, a loopback card server, and the log in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "relay/ovra7_service.h"
#include "support/card_server.h"
#include "support/log_lines.h"
#include "support/serial_cable.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"

namespace relaytest {

using Bytes = std::vector<uint8_t>;

// Passes everything through, but can fail writes as a real terminal cannot be told to, and
// counts the reads the relay began (which tells where in a frame it is).
struct PortFaults {
  std::atomic<bool> writeFails{false};
  std::atomic<int> readsBegun{0};
  intptr_t waitHandle = -2;  // what WaitHandle gives (-2: the port's own); set before Start
};

class FaultyPort : public platform::SerialPort {
 public:
  FaultyPort(std::unique_ptr<platform::SerialPort> port, std::shared_ptr<PortFaults> faults)
      : port_(std::move(port)), faults_(std::move(faults)) {}
  int Read(uint8_t* buffer, int n) override {
    return ++faults_->readsBegun, port_->Read(buffer, n);
  }
  int Write(const uint8_t* buffer, int n) override {
    return faults_->writeFails ? -1 : port_->Write(buffer, n);
  }
  bool QueryStatus(uint32_t* errors, uint32_t* queued) override {
    return port_->QueryStatus(errors, queued);
  }
  void PurgeReceive() override { port_->PurgeReceive(); }
  intptr_t WaitHandle() const override {
    return faults_->waitHandle == -2 ? port_->WaitHandle() : faults_->waitHandle;
  }

 private:
  std::unique_ptr<platform::SerialPort> port_;
  std::shared_ptr<PortFaults> faults_;
};

// Waits, bounded, until done() holds.
template <typename Done>
bool WaitUntil(Done done, int timeoutMs = 5000) {
  for (int waited = 0; !done(); waited += 2) {
    if (waited > timeoutMs) return false;
    platform::SleepMs(2);
  }
  return true;
}

class RelayTest : public testing::Test {
 protected:
  void SetUp() override {
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
    service_ = std::make_unique<Ovra7Service>(
        nullptr, nullptr, [this](int n, int baud) -> std::unique_ptr<platform::SerialPort> {
          auto port = n == terminalNumber_ ? platform::OpenSerialDevice(terminalPeer_, baud)
                                           : ports_.Open(n, baud);
          if (!port) return nullptr;
          return std::make_unique<FaultyPort>(std::move(port), faults_);
        });
  }

  void TearDown() override {
    release_ = true;  // a relay thread held in the resolver must be able to end
    if (service_) service_->Stop(false);
    reader_.reset();
    service_.reset();
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }

  // The next StartOn puts the reader on a pseudo-terminal, which the relay sleeps on where the
  // system allows, instead of the cable. False where there are none.
  bool UseTerminal() {
    terminal_ = platform::OpenPseudoTerminal(&terminalPeer_);
    return terminal_ != nullptr;
  }

  // A reader on port n, the service started on it directly.
  void StartOn(int n, testsupport::ReaderConfig config = testsupport::ReaderConfig(),
               testsupport::CableTimeouts timeouts = testsupport::CableTimeouts()) {
    std::unique_ptr<platform::SerialPort> readerEnd = std::move(terminal_);
    if (readerEnd) {
      terminalNumber_ = n;
    } else {
      cable_ = &ports_.Add(n, timeouts);
      readerEnd = cable_->ReaderEnd();
    }
    reader_ = std::make_unique<testsupport::SimulatedReader>(std::move(readerEnd), config);
    ASSERT_EQ(service_->Start(n, {"自动"}), 1);
  }

  // A relay thread that slept through Stop would hold the run until ctest ends it.
  void ExpectStopReturns() {
    auto stopped = std::async(std::launch::async, [this] { service_->Stop(false); });
    if (stopped.wait_for(std::chrono::minutes(1)) == std::future_status::ready) return;
    ADD_FAILURE() << "Stop did not return: the relay thread sleeps through it";
    std::abort();
  }

  // The next connect request resolves its host only once release_ is set: until then the relay
  // thread sits in the resolver with the link held.
  void HoldConnectsInTheResolver() {
    service_->SetResolverForTesting([this](const std::string&, std::vector<std::string>* out) {
      entered_ = true;
      while (!release_) platform::SleepMs(5);
      *out = {"127.0.0.1"};
      return true;
    });
    service_->SetServerAddress("slow.example", server_.port());
  }
  bool WaitInTheResolver() {
    return WaitUntil([this] { return entered_.load(); }, 10000);
  }

  // Short waits for the reader's answers, the gate and a blocked server send, for cases that
  // run them out; before StartOn.
  void ShortWaits() { service_->SetTimeoutsForTesting({300, 300, 300, 500}); }

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

  // The texts of the log's lines, time stamps removed, in order.
  std::vector<std::string> LogLines() const { return testsupport::LogLines(); }
  int LogCount(const std::string& text) const { return testsupport::LogCount(text); }
  bool LogHas(const std::string& text) const { return LogCount(text) > 0; }
  // The relay thread writes its lines asynchronously.
  bool WaitLog(const std::string& text) const {
    return WaitUntil([&] { return LogHas(text); });
  }

  testsupport::TempFolder folder_;
  testsupport::FakePorts ports_;
  testsupport::CardServer server_;
  testsupport::SerialCable* cable_ = nullptr;
  std::shared_ptr<PortFaults> faults_ = std::make_shared<PortFaults>();
  std::unique_ptr<platform::SerialPort> terminal_;  // the reader's end until StartOn
  std::string terminalPeer_;
  int terminalNumber_ = -1;
  std::unique_ptr<testsupport::SimulatedReader> reader_;
  std::unique_ptr<Ovra7Service> service_;
  std::atomic<bool> entered_{false};
  std::atomic<bool> release_{false};
};

// Short read time-outs for tests about a reader that falls silent mid-frame.
inline testsupport::CableTimeouts QuickTimeouts() { return {50, 0, 100}; }

enum class PortKind { kCable, kTerminal };

// Cases over both kinds of port: the in-memory cable, which the relay polls, and a
// pseudo-terminal, which it sleeps on where the system has them and must still wake on.
class OnBothPortsTest : public RelayTest, public testing::WithParamInterface<PortKind> {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    if (GetParam() == PortKind::kTerminal && !UseTerminal()) GTEST_SKIP() << "no pseudo-terminals";
  }
};

inline std::string PortKindName(const testing::TestParamInfo<PortKind>& kind) {
  return kind.param == PortKind::kCable ? "Cable" : "Terminal";
}
#define RELAY_ON_BOTH_PORTS(Suite)                                                               \
  INSTANTIATE_TEST_SUITE_P(Ports, Suite, testing::Values(PortKind::kCable, PortKind::kTerminal), \
                           PortKindName)

}  // namespace relaytest
