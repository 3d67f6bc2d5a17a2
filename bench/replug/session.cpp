// Setting a run up and down, linking the reader and exchanging checked payloads.
#include "session.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "relay/reader_frame.h"

namespace replug {

namespace {

// Bytes each way per exchange: one relay frame up, one server chunk down.
constexpr size_t kExchangeBytes = 1024;
// How long a wait blocks before it checks the program and the stop request again.
constexpr int kSliceMs = 100;

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) { stopRequested = true; }

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    text += two;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace

std::string FileTail(const std::string& path, int lines) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> kept;
  for (std::string line; std::getline(in, line);) {
    kept.push_back(line);
    if (static_cast<int>(kept.size()) > lines) kept.erase(kept.begin());
  }
  std::string text;
  for (const std::string& line : kept) text += "    " + line + "\n";
  return text;
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return stopRequested; }

uint64_t StreamSeed(uint64_t runSeed, uint64_t exchange) {
  return (runSeed << 40) ^ (exchange << 1);
}

bool Session::Setup(uint64_t* plugNs, std::string* why) {
  if (!sandbox_.Create(options_.log, why)) return false;
  server_ = std::make_unique<LoopbackServer>(&upstream_);
  if (!server_->Start(why)) return false;
  testsupport::ReaderConfig config;
  config.platformHost = "127.0.0.1";
  config.platformPort = server_->Port();
  reader_ = std::make_unique<PluggedReader>(sandbox_.ReaderNode(), config, &downstream_);
  if (!reader_->Plug(why)) return false;
  *plugNs = NowNs();
  return program_.Start(options_.program, sandbox_.ProgramOutput(), why);
}

void Session::Teardown() {
  program_.Stop();
  reader_.reset();
  if (server_) {
    server_->Unblock();
    server_->Stop();
  }
  sandbox_.Remove();
}

bool Session::Healthy(std::string* why) {
  if (StopRequested()) {
    *why = "interrupted";
    return false;
  }
  return program_.Running(why);
}

bool Session::Await(const std::function<bool(int)>& done, uint64_t deadlineNs,
                    const std::string& what, std::string* why) {
  while (true) {
    if (!Healthy(why)) return false;
    const uint64_t now = NowNs();
    if (now >= deadlineNs) {
      *why = "no " + what + " in time";
      return false;
    }
    const uint64_t leftMs = (deadlineNs - now + 999999) / 1000000;
    if (done(static_cast<int>(std::min<uint64_t>(leftMs, kSliceMs)))) return true;
  }
}

bool Session::Pause(double ms, std::string* why) {
  const uint64_t end = NowNs() + static_cast<uint64_t>(ms * 1e6);
  while (true) {
    if (!Healthy(why)) return false;
    const uint64_t now = NowNs();
    if (now >= end) return true;
    const uint64_t leftNs = std::min<uint64_t>(end - now, kSliceMs * 1000000ull);
    std::this_thread::sleep_for(std::chrono::nanoseconds(leftNs));
  }
}

bool Session::Link(int acceptedBefore, uint64_t t0Ns, uint64_t deadlineNs, LinkTimes* times,
                   std::string* why) {
  testsupport::SimulatedReader* reader = reader_ ? reader_->Reader() : nullptr;
  if (!reader) {
    *why = "no reader plugged";
    return false;
  }
  if (!Await([&](int ms) { return reader->WaitFrames(relay::kSetNetworkMode, 1, ms); }, deadlineNs,
             "SetNetworkMode from the program", why))
    return false;
  times->modeNs = NowNs() - t0Ns;
  if (!reader->SendConnectRequest()) {
    *why = "the reader could not send its connect request";
    return false;
  }
  if (!Await([&](int ms) { return server_->WaitAcceptedMoreThan(acceptedBefore, ms); }, deadlineNs,
             "new server connection", why))
    return false;
  times->acceptedNs = NowNs() - t0Ns;
  testsupport::ReaderFrameRecord result;
  if (!Await([&](int ms) { return reader->WaitFrames(relay::kConnectRequest, 1, ms, &result); },
             deadlineNs, "connect result at the reader", why))
    return false;
  times->resultNs = NowNs() - t0Ns;
  const std::vector<uint8_t> connected = {relay::kConnectRequest, 0x00, 0x00};
  if (result.payload != connected) {
    *why = "connect result " + Hex(result.payload) + " instead of " + Hex(connected);
    return false;
  }
  return true;
}

bool Session::Exchange(uint64_t streamSeed, uint64_t deadlineNs, ExchangeResult* result,
                       std::string* why) {
  testsupport::SimulatedReader* reader = reader_ ? reader_->Reader() : nullptr;
  if (!reader) {
    *why = "no reader plugged";
    return false;
  }
  std::vector<uint8_t> payload(kExchangeBytes);
  const uint64_t upSeed = streamSeed, downSeed = streamSeed ^ 1;
  FillStream(upSeed, 0, payload.data(), payload.size());
  upstream_.Expect(upSeed, payload.size());
  bool ok = reader->SendRelay(payload.data(), payload.size());
  if (!ok) *why = "the reader could not send its relay frame";
  ok = ok && Await([&](int ms) { return upstream_.WaitComplete(ms); }, deadlineNs,
                   "whole relay frame at the server", why);
  result->up = upstream_.Tally();
  result->upFirstByteNs = result->up.firstByteNs;
  if (!ok) return false;

  FillStream(downSeed, 0, payload.data(), payload.size());
  downstream_.Expect(downSeed, payload.size());
  ok = server_->SendToNewest(payload.data(), payload.size(), why) &&
       Await([&](int ms) { return downstream_.WaitComplete(ms); }, deadlineNs,
             "whole server chunk at the reader", why);
  result->down = downstream_.Tally();
  return ok;
}

std::string Session::ProgramTail(int lines) const {
  std::string text = "  program output (last lines):\n" + FileTail(sandbox_.ProgramOutput(), lines);
  if (options_.log) text += "  program log (last lines):\n" + FileTail(sandbox_.LogFile(), lines);
  return text;
}

}  // namespace replug
