// reader-sim: the simulated card reader on a real serial port (a pty it makes on Linux, or a
// given device such as one end of a COM port pair), for trying the server by hand. Portable.
//
// It answers the host's commands from its configured values, can send a connect request, and
// carries stdin lines or a test pattern in relay frames; relayed data from the host goes to
// stdout. Frames from the host are listed on stderr.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/exit_status.h"
#include "options.h"
#include "ovra7_version.h"
#include "platform/clock.h"
#include "platform/port_names.h"
#include "platform/serial.h"
#include "platform/socket.h"
#include "stdio_mode.h"
#include "support/simulated_reader.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

const char* CommandName(uint8_t code) {
  switch (code) {
    case 0x01:
      return "QueryCat1Module";
    case 0x02:
      return "SetNetworkMode";
    case 0x03:
      return "QueryConnectStatus";
    case 0x04:
      return "RelayData";
    case 0x05:
      return "DisconnectPlatform";
    case 0x07:
      return "GetAuthorizationInfo";
    case 0x08:
      return "SetPlatformInfo";
    case 0x09:
      return "GetPlatformInfo";
    case 0x0A:
      return "NotifyConnectResult";
    case 0x0B:
      return "NotifyServerLost";
    case 0x0C:
      return "TestNetworkQuality";
    case 0x0D:
      return "download status";
    case 0x0E:
      return "package data";
    case 0x0F:
      return "NotifyEnterDfuMode";
    case 0x10:
      return "SetHeartBeatInterval";
    case 0x11:
      return "GetHeartBeatInterval";
    default:
      return "unknown";
  }
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t limit) {
  std::string text;
  char two[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(two, sizeof two, "%02X ", bytes[i]);
    text += two;
  }
  if (bytes.size() > limit) text += "... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

// Lines read from stdin by a thread that may still block in a read when the program ends, so
// it shares only this heap object, never anything on main's stack.
struct Inbox {
  std::mutex mutex;
  std::deque<std::string> lines;
  bool ended = false;
};

void ReadStdin(std::shared_ptr<Inbox> inbox) {
  char line[1025];  // a line longer than this is sent in pieces
  while (std::fgets(line, sizeof line, stdin)) {
    std::lock_guard<std::mutex> lock(inbox->mutex);
    inbox->lines.emplace_back(line);
  }
  std::lock_guard<std::mutex> lock(inbox->mutex);
  inbox->ended = true;
}

// Makes link a symlink to target, replacing an older symlink but never another kind of file.
bool LinkPort(const std::string& link, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path path(link);
  if (fs::is_symlink(fs::symlink_status(path, ec))) fs::remove(path, ec);
  if (fs::exists(fs::symlink_status(path, ec))) {
    std::fprintf(stderr, "reader-sim: %s exists and is not a symlink\n", link.c_str());
    return false;
  }
  fs::create_symlink(target, path, ec);
  if (ec) {
    std::fprintf(stderr, "reader-sim: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
    return false;
  }
  return true;
}

std::unique_ptr<platform::SerialPort> OpenPort(const readersim::Options& o) {
  if (!o.pty) {
    auto port = platform::OpenSerialDevice(o.device, o.baud);
    if (!port) std::fprintf(stderr, "reader-sim: cannot open %s\n", o.device.c_str());
    return port;
  }
  std::string peer;
  auto port = platform::OpenPseudoTerminal(&peer);
  if (!port) {
    std::fprintf(stderr,
                 "reader-sim: no pseudo-terminal here; use --device with one end of a "
                 "port pair\n");
    return nullptr;
  }
  if (!o.ptyLink.empty()) {
    if (!LinkPort(o.ptyLink, peer)) return nullptr;
    std::string name = std::filesystem::path(o.ptyLink).filename().string();
    std::string dir = std::filesystem::path(o.ptyLink).parent_path().string();
    int number = platform::PortNumberFromName(name, platform::PortNameStyle::kLinux);
    std::printf("reader-sim: reader port %s -> %s\n", o.ptyLink.c_str(), peer.c_str());
    if (number > 0) {
      std::printf("reader-sim: run the server with OVRA7_DEV_DIR=%s; the reader is port %d (%s)\n",
                  dir.empty() ? "." : dir.c_str(), number, name.c_str());
    }
  } else {
    std::printf("reader-sim: reader port %s\n", peer.c_str());
  }
  std::fflush(stdout);
  return port;
}

}  // namespace

int main(int argc, char** argv) {
  readersim::Options o;
  std::string error;
  if (!readersim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &o, &error)) {
    std::fprintf(stderr, "reader-sim: %s\n%s", error.c_str(), readersim::UsageText().c_str());
    return app::kExitUsage;
  }
  if (o.help) {
    std::printf("%s", readersim::UsageText().c_str());
    return app::kExitDone;
  }
  if (o.version) {
    std::printf("reader-sim %s\n", OVRA7_VERSION_TEXT);
    return app::kExitDone;
  }
  platform::NetStartup();
  readersim::UseBinaryStdout();
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  std::unique_ptr<platform::SerialPort> port = OpenPort(o);
  if (!port) return app::kExitFailed;

  testsupport::SimulatedReader reader(std::move(port), o.reader);
  std::mutex relayedLock;
  std::vector<uint8_t> relayedBack;  // pattern mode: what the host relayed to us
  reader.OnRelay([&](const uint8_t* data, size_t n) {
    if (o.relay == readersim::RelayMode::kStdin) {
      std::fwrite(data, 1, n, stdout);
      std::fflush(stdout);
    } else if (o.relay == readersim::RelayMode::kPattern) {
      std::lock_guard<std::mutex> lock(relayedLock);
      relayedBack.insert(relayedBack.end(), data, data + n);
    }
  });

  auto inbox = std::make_shared<Inbox>();
  if (o.relay == readersim::RelayMode::kStdin) std::thread(ReadStdin, inbox).detach();

  const uint64_t start = platform::NowMs();
  // When the connect delay starts counting: at start, or once the host has moved on from the
  // named command (its next frame came, so it has taken in the answer): a slow host is never
  // asked to connect before it can.
  bool connectArmed = o.connectAfterCode < 0;
  uint64_t connectFrom = start;
  uint64_t stdinEndedAt = 0;
  uint64_t nextPattern = start + static_cast<uint64_t>(o.connectDelayMs) + 500;
  bool connectSent = false;
  size_t framesShown = 0;
  std::vector<uint8_t> patternSent;
  int patternFrames = 0;
  while (!interrupted) {
    uint64_t now = platform::NowMs();
    if (o.seconds > 0 && now - start >= static_cast<uint64_t>(o.seconds * 1000)) break;
    if (o.connect && !connectArmed) {
      std::vector<testsupport::ReaderFrameRecord> seen = reader.Frames();
      auto named = std::find_if(seen.begin(), seen.end(),
                                [&](const auto& f) { return f.code == o.connectAfterCode; });
      if (named != seen.end() && named + 1 != seen.end()) {
        connectArmed = true;
        connectFrom = now;
      }
    }
    if (o.connect && connectArmed && !connectSent &&
        now - connectFrom >= static_cast<uint64_t>(o.connectDelayMs)) {
      connectSent = true;
      std::fprintf(stderr, "reader: connect request %s\n",
                   reader.SendConnectRequest() ? "sent" : "could not be written");
    }
    std::vector<std::string> lines;
    {
      std::lock_guard<std::mutex> lock(inbox->mutex);
      lines.assign(inbox->lines.begin(), inbox->lines.end());
      inbox->lines.clear();
      if (inbox->ended && !stdinEndedAt) stdinEndedAt = now;
    }
    for (const std::string& line : lines) {
      if (!reader.SendRelay(reinterpret_cast<const uint8_t*>(line.data()), line.size())) {
        std::fprintf(stderr, "reader: relay frame could not be written\n");
      }
    }
    // Once stdin has ended, a moment for the last answers before leaving.
    if (o.seconds == 0 && stdinEndedAt && now - stdinEndedAt > 1000) break;
    if (o.relay == readersim::RelayMode::kPattern && now >= nextPattern) {
      nextPattern = now + static_cast<uint64_t>(o.patternEveryMs);
      std::vector<uint8_t> data(static_cast<size_t>(o.patternBytes));
      for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(patternSent.size() + i);
      }
      if (reader.SendRelay(data.data(), data.size())) {
        patternSent.insert(patternSent.end(), data.begin(), data.end());
        ++patternFrames;
      }
    }
    std::vector<testsupport::ReaderFrameRecord> frames = reader.Frames();
    for (; framesShown < frames.size(); ++framesShown) {
      const testsupport::ReaderFrameRecord& f = frames[framesShown];
      if (o.quiet && f.code != 0x0A) continue;
      if (f.code == 0x0A && f.payload.size() >= 3) {
        std::fprintf(stderr, "host: connect result %02X %02X (%s)\n", f.payload[1], f.payload[2],
                     f.payload[1] == 0 && f.payload[2] == 0 ? "connected" : "failed");
      } else {
        std::fprintf(stderr, "host: %-20s %s\n", CommandName(f.code), Hex(f.bytes, 24).c_str());
      }
    }
    platform::SleepMs(20);
  }
  reader.Stop();

  if (o.relay == readersim::RelayMode::kPattern) {
    std::lock_guard<std::mutex> lock(relayedLock);
    size_t same = 0;
    while (same < relayedBack.size() && same < patternSent.size() &&
           relayedBack[same] == patternSent[same]) {
      ++same;
    }
    std::printf(
        "pattern: sent %zu bytes in %d frames; the host relayed back %zu bytes, the first "
        "%zu of them as sent\n",
        patternSent.size(), patternFrames, relayedBack.size(), same);
  }
  std::fprintf(stderr, "reader: %zu host frames, %zu commands answered, %zu stray bytes\n",
               reader.Frames().size(), reader.Answered().size(), reader.DroppedBytes());
  if (o.pty && !o.ptyLink.empty()) {
    std::error_code ec;
    std::filesystem::remove(o.ptyLink, ec);
  }
  platform::NetCleanup();
  return app::kExitDone;
}
