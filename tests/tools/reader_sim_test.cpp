// reader-sim as engineers run it: the real program on a pty it makes, the relay service on the
// other side through $OVRA7_DEV_DIR, a loopback card server behind. Linux (fork, pipes).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "relay/ovra7_service.h"
#include "support/card_server.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace {

// The program with its stdin and stdout on pipes; killed (by its own pid) if still running.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);  // else stdin never ends
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Program() {
    CloseStdin();
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stdout_);
  }
  bool started() const { return pid_ > 0; }
  bool Write(const std::string& text) {
    return write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void Interrupt() {
    if (pid_ > 0 && !exited_) kill(pid_, SIGINT);
  }
  void CloseStdin() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }
  // Reads stdout until it contains text or timeoutMs pass; the output so far.
  std::string WaitOutput(const std::string& text, int timeoutMs) {
    uint64_t end = platform::NowMs() + static_cast<uint64_t>(timeoutMs);
    char chunk[512];
    pollfd p{stdout_, POLLIN, 0};
    while (output_.find(text) == std::string::npos && platform::NowMs() < end) {
      if (poll(&p, 1, 100) <= 0) continue;
      ssize_t n = read(stdout_, chunk, sizeof chunk);
      if (n <= 0) break;
      output_.append(chunk, static_cast<size_t>(n));
    }
    return output_;
  }
  // The exit status, or -1 when the program has not ended within timeoutMs.
  int WaitExit(int timeoutMs) {
    int status = 0;
    for (uint64_t end = platform::NowMs() + static_cast<uint64_t>(timeoutMs);
         platform::NowMs() < end; platform::SleepMs(20)) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  bool exited_ = false;
  std::string output_;
};

TEST(ReaderSim, AnswersWithItsSettingsAndRelaysStdinThroughTheService) {
  testsupport::TempFolder folder;
  testsupport::CardServer server;
  ASSERT_TRUE(server.ok());
  const std::string link = folder.file("ttyACM0");  // port 1
  Program sim({READER_SIM_PATH, "--pty", link, "--connect", "100", "--cat1-model", "0x33",
               "--host", "127.0.0.1", "--port", std::to_string(server.port()), "--heartbeat",
               "120,300", "--quality-delay", "77", "--relay", "stdin", "--quiet"});
  ASSERT_TRUE(sim.started());
  std::string out = sim.WaitOutput("OVRA7_DEV_DIR=", 5000);
  ASSERT_NE(out.find("port 1 (ttyACM0)"), std::string::npos) << out;

  testsupport::ScopedEnv dev("OVRA7_DEV_DIR", folder.path().string());
  Ovra7Service service(nullptr, nullptr);
  service.SetServerAddress("127.0.0.1", server.port());
  ASSERT_EQ(service.Start(1, {"自动"}), 1);
  uint8_t model = 0, second = 9;
  EXPECT_EQ(service.QueryCat1Module(&model, &second), 1);
  EXPECT_EQ(model, 0x33);
  uint16_t port = 0;
  std::string host;
  EXPECT_EQ(service.GetPlatformInfo(nullptr, nullptr, &port, &host), 0);
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, server.port());
  int usb = 0, cat1 = 0;
  EXPECT_EQ(service.GetHeartBeatInterval(&usb, &cat1), 0);
  EXPECT_EQ(usb, 120);
  EXPECT_EQ(cat1, 300);
  EXPECT_EQ(service.TestNetworkQuality(1, 50), 77);

  // The tool's own connect request links the service to the server; then both directions.
  ASSERT_TRUE(server.WaitConnections(1, 10000));
  ASSERT_TRUE(sim.Write("hello\n"));
  ASSERT_TRUE(server.WaitReceived(6, 5000));
  EXPECT_EQ(server.Received(), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}));
  ASSERT_TRUE(server.Send({'w', 'o', 'r', 'l', 'd'}));
  out = sim.WaitOutput("world", 5000);
  EXPECT_NE(out.find("world"), std::string::npos) << out;

  // End of stdin ends the tool, which takes its link away.
  sim.CloseStdin();
  EXPECT_EQ(sim.WaitExit(8000), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  service.Stop(false);
}

// Pattern mode sends numbered relay frames by itself and, when interrupted, reports how much the
// host relayed back and how much of that came back as sent: here the server echoes what it gets.
TEST(ReaderSim, PatternModeReportsWhatTheHostRelayedBack) {
  testsupport::TempFolder folder;
  testsupport::CardServer server;
  ASSERT_TRUE(server.ok());
  const std::string link = folder.file("ttyACM0");
  Program sim({READER_SIM_PATH, "--pty", link, "--connect", "100", "--host", "127.0.0.1",
               "--port", std::to_string(server.port()), "--relay", "pattern", "--pattern-bytes",
               "40", "--pattern-ms", "20", "--quiet"});
  ASSERT_TRUE(sim.started());
  ASSERT_NE(sim.WaitOutput("OVRA7_DEV_DIR=", 5000).find("port 1 (ttyACM0)"), std::string::npos);
  testsupport::ScopedEnv dev("OVRA7_DEV_DIR", folder.path().string());
  Ovra7Service service(nullptr, nullptr);
  service.SetServerAddress("127.0.0.1", server.port());
  ASSERT_EQ(service.Start(1, {"自动"}), 1);
  ASSERT_TRUE(server.WaitConnections(1, 10000));
  // Echo until three frames' worth has gone back through the service to the reader's port.
  size_t echoed = 0;
  for (uint64_t end = platform::NowMs() + 30000;
       (echoed < 120 || service.GetServerRecvBytes() < echoed) && platform::NowMs() < end;
       platform::SleepMs(10)) {
    const std::vector<uint8_t> got = server.Received();
    if (got.size() > echoed) {
      ASSERT_TRUE(server.Send(std::vector<uint8_t>(got.begin() + echoed, got.end())));
      echoed = got.size();
    }
  }
  ASSERT_GE(service.GetServerRecvBytes(), 120u);
  sim.Interrupt();
  EXPECT_EQ(sim.WaitExit(10000), 0);
  service.Stop(false);
  const std::string out = sim.WaitOutput(" as sent\n", 5000);
  size_t sent = 0, frames = 0, back = 0, same = 0;
  const size_t at = out.find("pattern: ");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + at,
                        "pattern: sent %zu bytes in %zu frames; the host relayed back %zu bytes, "
                        "the first %zu of them as sent",
                        &sent, &frames, &back, &same), 4) << out;
  EXPECT_EQ(sent, 40 * frames) << out;
  // Frames sent before the server link was up may be lost; what came back is counted.
  EXPECT_GE(back, 120u) << out;
  EXPECT_LE(same, back) << out;
  EXPECT_LE(back, sent) << out;
}

// A number out of its range is refused with the reason and the usage on stderr; the range's ends
// are accepted.
TEST(ReaderSim, OptionOutOfRangeIsRefusedWithTheUsage) {
  auto run = [](const std::string& args, int* status) {
    std::string output;
    std::FILE* p = popen((std::string(READER_SIM_PATH) + " " + args + " 2>&1").c_str(), "r");
    char chunk[512];
    for (size_t n; p && (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) output.append(chunk, n);
    int raw = p ? pclose(p) : -1;
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
  };
  int status = 0;
  std::string out = run("--pty --port 65536", &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_EQ(out.rfind("reader-sim: --port: 65536 is not a number from 0 to 65535\nusage: ", 0), 0u)
      << out;
  out = run("--pty --port 65535 --version", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.rfind("reader-sim ", 0), 0u) << out;
}

}  // namespace
