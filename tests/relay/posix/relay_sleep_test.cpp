// The relay on a real terminal (a pty) on Linux, where it sleeps until the reader, the server or
// Stop has something for it: nothing may be lost by the sleep, Stop must still end it, and a port
// whose device went away must end the service and be reported.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "log/log.h"
#include "platform/serial.h"
#include "relay/ovra7_service.h"
#include "support/card_server.h"
#include "support/simulated_reader.h"
#include "support/temp_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The /proc folder of this process's thread named `name`, or an empty path.
std::filesystem::path ThreadFolder(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string taskName;
    std::getline(comm, taskName);
    if (taskName == name) return task.path();
  }
  return {};
}

// The scheduler's state letter of that thread ('S' while it sleeps in a wait), or 0.
char ThreadState(const std::string& name) {
  std::filesystem::path folder = ThreadFolder(name);
  if (folder.empty()) return 0;
  std::ifstream status(folder / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("State:", 0) == 0) {
      size_t at = line.find_first_not_of(" \t", 6);
      return at == std::string::npos ? 0 : line[at];
    }
  }
  return 0;
}

// Context switches of the thread named `name` in this process, or -1 when there is none.
long SwitchesOfThread(const std::string& name) {
  std::filesystem::path folder = ThreadFolder(name);
  if (!folder.empty()) {
    std::ifstream status(folder / "status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
    return total;
  }
  return -1;
}

class RelaySleepTest : public testing::Test {
 protected:
  void SetUp() override {
    ovra7log::SetLogDirForTesting(folder_.dir());
    LogEnabled = 1;
    std::string peer;
    auto cable = platform::OpenPseudoTerminal(&peer);
    ASSERT_TRUE(cable);
    reader_ = std::make_unique<testsupport::SimulatedReader>(std::move(cable));
    service_ = std::make_unique<Ovra7Service>(
        nullptr, nullptr, [peer](int, int baud) { return platform::OpenSerialDevice(peer, baud); });
    service_->SetServerAddress("127.0.0.1", server_.port());
    ASSERT_EQ(service_->Start(1, {"自动"}), 1);
  }

  void TearDown() override {
    if (service_) service_->Stop(false);
    service_.reset();
    reader_.reset();
    LogEnabled = 0;
    ovra7log::SetLogDirForTesting("");
  }

  // Runs Stop on a thread of its own; false when it has not returned within a minute (the relay
  // slept through it). The test cannot go on from there: a stuck Stop ends the run.
  bool StopReturns() {
    std::mutex mutex;
    std::condition_variable done;
    bool returned = false;
    std::thread stopper([&] {
      service_->Stop(false);
      std::lock_guard<std::mutex> lock(mutex);
      returned = true;
      done.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, std::chrono::minutes(1), [&] { return returned; })) {
      ADD_FAILURE() << "Stop did not return: the relay thread sleeps through it";
      std::abort();
    }
    lock.unlock();
    stopper.join();
    return true;
  }

  testsupport::TempFolder folder_;
  testsupport::CardServer server_;
  std::unique_ptr<testsupport::SimulatedReader> reader_;
  std::unique_ptr<Ovra7Service> service_;
};

TEST_F(RelaySleepTest, IdleRelaySleepsAndStillCarriesEveryByteBothWays) {
  ASSERT_TRUE(reader_->SendConnectRequest());
  testsupport::ReaderFrameRecord answer;
  ASSERT_TRUE(reader_->WaitFrames(0x0A, 1, 10000, &answer));
  ASSERT_EQ(answer.payload, (Bytes{0x0A, 0x00, 0x00}));
  ASSERT_TRUE(server_.WaitConnections(1, 10000));

  // Nothing moves: a thread that looked every millisecond would switch hundreds of times here;
  // one that sleeps on the port, the socket and its wake-up signal does not switch at all.
  long before = SwitchesOfThread("ovra7-relay");
  ASSERT_GE(before, 0) << "no relay thread";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  long after = SwitchesOfThread("ovra7-relay");
  EXPECT_LT(after - before, 20) << "the idle relay thread keeps waking up";

  // Each side's data wakes it: the reader's frame reaches the server, the server's chunk the
  // reader, in order and whole.
  const Bytes up = {'u', 'p', 0x55, 0xAA, 0x00, 0x04};
  ASSERT_TRUE(reader_->SendRelay(up.data(), up.size()));
  ASSERT_TRUE(server_.WaitReceived(up.size(), 10000));
  EXPECT_EQ(server_.Received(), up);
  const Bytes down = {'d', 'o', 'w', 'n', 0x00, 0xFF};
  ASSERT_TRUE(server_.Send(down));
  ASSERT_TRUE(reader_->WaitRelayed(down.size(), 10000));
  EXPECT_EQ(reader_->Relayed(), down);

  // The server closing its end wakes the relay too: the reader is told the link was lost.
  server_.CloseClient();
  EXPECT_TRUE(reader_->WaitFrames(0x0B, 1, 10000));
  EXPECT_TRUE(StopReturns());
}

TEST_F(RelaySleepTest, StopEndsARelayAsleepWithoutAServer) {
  // No server connection: the relay waits on the port and the wake-up signal alone.
  for (int i = 0; i < 6000 && ThreadState("ovra7-relay") != 'S'; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(ThreadState("ovra7-relay"), 'S') << "the relay thread never went to sleep";
  EXPECT_TRUE(StopReturns());
  EXPECT_EQ(service_->IsRunning(), 0);
}

// The reader's side of the pty closes while the relay waits, or while it reads a frame whose
// rest never comes: either way the port has hung up, the service ends and the owner hears of it
// once.
class RelayHangUpTest : public RelaySleepTest, public testing::WithParamInterface<Bytes> {};

TEST_P(RelayHangUpTest, PortThatHangsUpEndsTheServiceAndIsReportedOnce) {
  std::mutex mutex;
  std::condition_variable changed;
  int reports = 0;
  service_->Stop(false);
  service_->SetPortLostCallback([&] {
    std::lock_guard<std::mutex> lock(mutex);
    ++reports;
    changed.notify_all();
  });
  ASSERT_EQ(service_->Start(1, {"自动"}), 1);

  if (!GetParam().empty()) {
    ASSERT_TRUE(reader_->SendRaw(GetParam()));
  }
  reader_.reset();  // the port hangs up
  std::unique_lock<std::mutex> lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return reports > 0; }))
      << "the hang-up was not reported";
  lock.unlock();
  EXPECT_EQ(service_->IsRunning(), 0);
  EXPECT_TRUE(StopReturns());
  std::ifstream log(std::filesystem::u8path(ovra7log::CurrentLogPath()));
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find(" com port hung up\n"), std::string::npos);
  lock.lock();
  EXPECT_EQ(reports, 1);
}

INSTANTIATE_TEST_SUITE_P(Moments, RelayHangUpTest,
                         testing::Values(Bytes{},                                // while it waits
                                         Bytes{0x55},                            // inside a head
                                         Bytes{0x55, 0xAA, 0x10, 0x00, 0x04}));  // inside a body

}  // namespace
