// The relay on a real terminal (a pty) on Linux, where it sleeps until the reader, the server or
// Stop has something for it: asleep it must take no processor time, and a port whose device went
// away must end the service and be reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <thread>

#include "relay/relay_fixture.h"

namespace relaytest {
namespace {

// Processor time (user and system, in clock ticks) of this process's thread named `name`, or -1.
long TicksOfThread(const std::string& name) {
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string taskName;
    std::getline(comm, taskName);
    if (taskName != name) continue;
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the name in parentheses: state is the 3rd, utime the 14th, stime the 15th.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string skipped;
    for (int i = 3; i < 14; ++i) fields >> skipped;
    long user = -1, system = -1;
    fields >> user >> system;
    return user < 0 || system < 0 ? -1 : user + system;
  }
  return -1;
}

class RelaySleepTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    ASSERT_TRUE(UseTerminal());
  }

  // Nothing moves for a second: a relay thread that sleeps takes no processor time; one that
  // spins takes all it is given. A tenth of the interval tells them apart on any machine.
  void ExpectTheIdleRelayRests() {
    const long before = TicksOfThread("ovra7-relay");
    ASSERT_GE(before, 0) << "no relay thread";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(TicksOfThread("ovra7-relay") - before, sysconf(_SC_CLK_TCK) / 10)
        << "the idle relay thread keeps running";
  }
};

TEST_F(RelaySleepTest, IdleRelayTakesNoProcessorTimeAndWakesForTheServersClose) {
  ShortWaits();
  StartOn(1);
  Link();
  ExpectTheIdleRelayRests();
  // The server closing its end wakes it: the reader is told the link was lost.
  server_.CloseClient();
  EXPECT_TRUE(reader_->WaitFrames(0x0B, 1, 10000));
  ExpectStopReturns();
}

// A wait that fails fails again at once: the relay must neither spin on it nor stop relaying.
TEST_F(RelaySleepTest, WaitThatFailsNeitherSpinsNorStopsTheRelay) {
  faults_->waitHandle = INT_MAX;  // no descriptor has that number: every wait on it fails
  StartOn(1);
  Link();
  ExpectTheIdleRelayRests();
  ASSERT_TRUE(server_.Send({0x41, 0x42}));
  ASSERT_TRUE(reader_->WaitRelayed(2, 10000));
  EXPECT_EQ(LogCount("relay wait failed"), 1);
  ExpectStopReturns();
}

// The owner stops the service as the machine goes to sleep, and the reader's port goes with it
// before the relay thread has ended: what the owner stopped is no device it has lost.
TEST_F(RelaySleepTest, PortThatHangsUpAfterStopIsNotReported) {
  std::atomic<int> reports{0};
  service_->SetPortLostCallback([&] { ++reports; });
  HoldConnectsInTheResolver();
  StartOn(1);
  ASSERT_TRUE(reader_->SendConnectRequest());
  ASSERT_TRUE(WaitInTheResolver());
  std::thread stopper([&] { service_->Stop(false); });
  EXPECT_TRUE(WaitUntil([&] { return service_->IsRunning() == 0; }));
  reader_.reset();  // the port hangs up while the relay thread is still in the connect
  release_ = true;
  stopper.join();
  EXPECT_EQ(reports, 0);
  EXPECT_FALSE(LogHas("com port hung up"));
}

// The reader's side of the pty closes while the relay waits, while it reads a frame's head, or
// while it reads a frame's body whose rest never comes: either way the port has hung up, the
// service ends and the owner hears of it once.
struct HangUpMoment {
  Bytes sent;
  int readsBegun;     // the hang-up comes once the relay began this many reads
  std::string trace;  // the line only that path writes, if any
};

class RelayHangUpTest : public RelaySleepTest, public testing::WithParamInterface<HangUpMoment> {};

TEST_P(RelayHangUpTest, PortThatHangsUpEndsTheServiceAndIsReportedOnce) {
  std::atomic<int> reports{0};
  service_->SetPortLostCallback([&] { ++reports; });
  StartOn(1);
  ASSERT_TRUE(reader_->SendRaw(GetParam().sent));
  // A pty drops what was not read yet when it hangs up: the relay must have taken the bytes.
  ASSERT_TRUE(WaitUntil([&] { return faults_->readsBegun >= GetParam().readsBegun; }));
  reader_.reset();  // the port hangs up
  ASSERT_TRUE(WaitUntil([&] { return reports > 0; }, 30000)) << "the hang-up was not reported";
  EXPECT_EQ(service_->IsRunning(), 0);
  ExpectStopReturns();
  EXPECT_TRUE(LogHas("com port hung up"));
  for (const std::string trace : {"read head failed", "read body failed"})
    EXPECT_EQ(LogHas(trace), trace == GetParam().trace) << trace;
  EXPECT_EQ(reports, 1);
}

// While it waits, inside a head, inside a body.
INSTANTIATE_TEST_SUITE_P(
    Moments, RelayHangUpTest,
    testing::Values(HangUpMoment{{}, 0, ""}, HangUpMoment{{0x55}, 1, "read head failed"},
                    HangUpMoment{{0x55, 0xAA, 0x10, 0x00, 0x04}, 2, "read body failed"}));

}  // namespace
}  // namespace relaytest
