// The fault soak's driver: sets up its own program, server and reader, streams, plants faults
// and waits for the reader's link to carry data again after each.
#include "fault_soak.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "common/proc_stats.h"
#include "fault_server.h"
#include "plugged_reader.h"
#include "program.h"
#include "relay/reader_frame.h"
#include "sandbox.h"
#include "session.h"
#include "stream_check.h"
#include "up_sender.h"

namespace replug {

namespace {

constexpr uint64_t kMsNs = 1000000ull;
constexpr uint64_t kSecondNs = 1000 * kMsNs;
// Give-ups: the first start of the program, and any one step of a recovery.
constexpr uint64_t kFirstLinkNs = 60 * kSecondNs;
constexpr uint64_t kStepNs = 30 * kSecondNs;
// A reader whose connect failed asks again after this.
constexpr uint64_t kRetryNs = 200 * kMsNs;
// Resources are sampled no more often than this, always with the link carrying data.
constexpr uint64_t kSampleNs = 10 * kSecondNs;
// The program's memory has settled after this long.
constexpr uint64_t kWarmUpNs = 60 * kSecondNs;
// A run by time draws its intervals with this mean (bytes up between two faults).
constexpr uint64_t kTimedIntervalBytes = 2ull << 20;

double Ms(uint64_t ns) { return static_cast<double>(ns) / 1e6; }

class Soak {
 public:
  Soak(const Options& options, FaultSoakFigures* out)
      : options_(options),
        out_(out),
        server_(options.seed),
        down_(options.seed, Direction::kDown),
        sender_(options.seed, options.seed ^ 0xF00D),
        random_(options.seed ^ 0xFA17) {}
  ~Soak() {
    sender_.Stop();
    program_.Stop();
    reader_.reset();
    server_.Stop();
    sandbox_.Remove();
  }

  bool Setup(std::string* why);
  void Run();
  std::string Tail() const;

 private:
  bool Healthy(std::string* why);
  // Polls done() every millisecond, calling tick() too, until it holds; false with *why when
  // the deadline passed ("no WHAT") or the program ended.
  bool WaitUntil(const std::function<bool()>& done, uint64_t giveUpNs, const std::string& what,
                 std::string* why, const std::function<void()>& tick = nullptr);
  bool Pause(uint64_t ns, std::string* why);
  size_t LostReports() { return reader_->Reader()->CountFrames(relay::kNotifyServerLost); }
  // Connects as a reader does (after a replug only once the program set its network mode),
  // starts the next link's stream and waits until data arrived both ways. *recoveryMs counts
  // from fromNs.
  bool Relink(bool afterReplug, uint64_t fromNs, double* recoveryMs, std::string* why,
              const std::function<void()>& tick = nullptr, uint64_t giveUpNs = 0);
  void StopSender(bool halfFrame = false);
  bool Stream(uint64_t bytes, std::string* why);
  bool Plant(FaultKind kind, FaultRecord* record, std::string* why);
  void Sample(bool force);
  void Finish();

  const Options& options_;
  FaultSoakFigures* out_;
  Sandbox sandbox_;
  FaultServer server_;
  EpochCheck down_;
  std::unique_ptr<PluggedReader> reader_;
  Program program_;
  UpSender sender_;
  std::mt19937_64 random_;
  std::map<uint32_t, uint64_t> upSent_;  // per link the reader sent up
  uint32_t nextLink_ = 0;
  size_t lostMark_ = 0;  // server-lost reports the reader had when its link came up
  uint64_t start_ = 0, lastSample_ = 0;
  double cpuStart_ = 0;
};

bool Soak::Setup(std::string* why) {
  if (!sandbox_.Create(options_.log, why) || !server_.Start(why)) return false;
  testsupport::ReaderConfig config;
  config.platformHost = "127.0.0.1";
  config.platformPort = server_.Port();
  reader_ = std::make_unique<PluggedReader>(sandbox_.ReaderNode(), config, &down_);
  if (!reader_->Plug(why)) return false;
  start_ = NowNs();
  if (!program_.Start(options_.program, sandbox_.ProgramOutput(), why)) return false;
  cpuStart_ = benchproc::ProcessCpuMs(program_.Pid());
  double ms = 0;
  if (!Relink(true, start_, &ms, why, nullptr, kFirstLinkNs)) {
    *why = "first link: " + *why;
    return false;
  }
  return true;
}

bool Soak::Healthy(std::string* why) {
  if (StopRequested()) {
    *why = "interrupted";
    return false;
  }
  return program_.Running(why);
}

bool Soak::WaitUntil(const std::function<bool()>& done, uint64_t giveUpNs, const std::string& what,
                     std::string* why, const std::function<void()>& tick) {
  const uint64_t deadline = NowNs() + giveUpNs;
  for (int polls = 0;; ++polls) {
    if (tick) tick();
    if (done()) return true;
    if (polls % 100 == 0 && !Healthy(why)) return false;
    if (NowNs() >= deadline) {
      *why = "no " + what + " within " + std::to_string(giveUpNs / kSecondNs) + " s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool Soak::Pause(uint64_t ns, std::string* why) {
  const uint64_t end = NowNs() + ns;
  return WaitUntil([&] { return NowNs() >= end; }, ns + kSecondNs, "end of pause", why);
}

void Soak::StopSender(bool halfFrame) {
  if (sender_.Link() == 0) return;
  sender_.Stop(halfFrame);
  upSent_[sender_.Link()] = sender_.Sent();
}

bool Soak::Relink(bool afterReplug, uint64_t fromNs, double* recoveryMs, std::string* why,
                  const std::function<void()>& tick, uint64_t giveUpNs) {
  if (!giveUpNs) giveUpNs = kStepNs;
  StopSender();
  testsupport::SimulatedReader* reader = reader_->Reader();
  if (afterReplug &&
      !WaitUntil([&] { return reader->CountFrames(relay::kSetNetworkMode) > 0; }, giveUpNs,
                 "SetNetworkMode from the program", why, tick))
    return false;
  const int acceptedBefore = server_.Accepted();
  const uint64_t giveUp = NowNs() + 4 * giveUpNs;
  while (true) {
    const size_t results = reader->CountFrames(relay::kConnectRequest);
    if (!reader->SendConnectRequest()) {
      *why = "the reader could not write its connect request";
      return false;
    }
    testsupport::ReaderFrameRecord result;
    if (!WaitUntil([&] { return reader->WaitFrames(relay::kConnectRequest, results + 1, 0, &result); },
                   giveUpNs, "connect result", why, tick))
      return false;
    if (result.payload == std::vector<uint8_t>{relay::kConnectRequest, 0, 0}) break;
    if (NowNs() >= giveUp) {
      *why = "every connect failed for " + std::to_string(4 * giveUpNs / kSecondNs) + " s";
      return false;
    }
    const uint64_t retryAt = NowNs() + kRetryNs;
    if (!WaitUntil([&] { return NowNs() >= retryAt; }, giveUpNs, "retry", why, tick)) return false;
  }
  lostMark_ = LostReports();
  sender_.Start(reader_.get(), ++nextLink_);
  FaultServer::Link link;
  EpochTally down;
  if (!WaitUntil(
          [&] {
            if (server_.Accepted() <= acceptedBefore) return false;
            link = server_.Newest();
            down = down_.Current();
            return link.up.received > 0 && down.received > 0;
          },
          giveUpNs, "data both ways on the new link", why, tick))
    return false;
  *recoveryMs = Ms(std::max(link.up.firstNs, down.firstNs) - fromNs);
  Sample(false);
  return true;
}

// Streams until `bytes` more arrived at the server. A server-lost report nobody provoked (the
// program's send timed out, say) is recorded and answered with a new link, as a reader does.
bool Soak::Stream(uint64_t bytes, std::string* why) {
  const uint64_t target = server_.UpTotals().bytes + bytes;
  uint64_t moved = 0, lastMove = NowNs();
  while (true) {
    const uint64_t now = NowNs();
    const uint64_t arrived = server_.UpTotals().bytes;
    if (arrived >= target) return true;
    if (!Healthy(why)) return false;
    if (sender_.Failed()) {
      *why = "the reader's write to its pty failed";
      return false;
    }
    if (LostReports() > lostMark_) {
      ++out_->unprovokedLosses;
      double ms = 0;
      if (!Relink(false, now, &ms, why)) return false;
      lastMove = NowNs();
      continue;
    }
    if (arrived != moved) {
      moved = arrived;
      lastMove = now;
    } else if (now - lastMove >= kStepNs) {
      *why = "no byte reached the server for 30 s";
      return false;
    }
    Sample(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool Soak::Plant(FaultKind kind, FaultRecord* record, std::string* why) {
  record->kind = kind;
  const size_t lost = LostReports();
  auto reported = [&] { return LostReports() > lost; };
  uint64_t end = 0;
  switch (kind) {
    case FaultKind::kFin:
    case FaultKind::kReset: {
      if (!server_.CloseNewest(kind == FaultKind::kReset, why)) return false;
      end = NowNs();
      record->relinked = true;
      return WaitUntil(reported, kStepNs, "server-lost report", why) &&
             Relink(false, end, &record->recoveryMs, why);
    }
    case FaultKind::kRefuse: {
      const uint64_t outage = std::uniform_int_distribution<uint64_t>(500, 5000)(random_) * kMsNs;
      record->outageMs = Ms(outage);
      record->relinked = true;
      if (!server_.SetListening(false, why) ||
          !server_.CloseNewest(std::bernoulli_distribution(0.5)(random_), why))
        return false;
      const uint64_t reopenAt = NowNs() + outage;
      std::string failed;
      auto reopen = [&] {
        if (end || NowNs() < reopenAt) return;
        end = NowNs();
        if (!server_.SetListening(true, &failed)) end = 1;
      };
      if (!WaitUntil(reported, kStepNs, "server-lost report", why, reopen)) return false;
      if (!Relink(false, 0, &record->recoveryMs, why, reopen)) return false;
      if (!failed.empty()) {
        *why = failed;
        return false;
      }
      record->recoveryMs -= Ms(end);  // Relink counted from 0: from the reopened listener now
      return true;
    }
    case FaultKind::kStall: {
      // A long stall outlasts the program's send time-out twice over (a send that moved some
      // bytes before it blocked gets a second time-out).
      const bool beyondSendTimeout = std::bernoulli_distribution(0.2)(random_);
      const uint64_t outage = (beyondSendTimeout
                                   ? std::uniform_int_distribution<uint64_t>(11000, 15000)(random_)
                                   : std::uniform_int_distribution<uint64_t>(200, 4000)(random_)) *
                              kMsNs;
      record->outageMs = Ms(outage);
      server_.SetReading(false);
      // A reader told of the loss stops sending at once, as after any other fault.
      const uint64_t resume = NowNs() + outage;
      const bool paused = WaitUntil([&] { return NowNs() >= resume; }, outage + kSecondNs,
                                    "end of the stall", why, [&] {
                                      if (reported()) StopSender();
                                    });
      server_.SetReading(true);
      end = NowNs();
      if (!paused) return false;
      const uint64_t before = server_.UpTotals().bytes;
      if (!WaitUntil([&] { return reported() || server_.UpTotals().bytes > before; }, kStepNs,
                     "data or a server-lost report after the stall", why))
        return false;
      record->recoveryMs = Ms(NowNs() - end);
      if (!reported()) return true;
      record->relinked = true;
      return Relink(false, end, &record->recoveryMs, why);
    }
    case FaultKind::kReplug: {
      record->midFrame = std::bernoulli_distribution(0.5)(random_);
      const uint64_t gap = std::uniform_int_distribution<uint64_t>(50, 500)(random_) * kMsNs;
      record->outageMs = Ms(gap);
      record->relinked = true;
      StopSender(record->midFrame);
      // What the reader wrote, the half frame too, reaches the program before the cable goes.
      reader_->WaitSent(2000);
      reader_->Unplug();
      down_.End();
      if (!Pause(gap, why)) return false;
      if (!reader_->Plug(why)) return false;
      end = NowNs();
      return Relink(true, end, &record->recoveryMs, why);
    }
    case FaultKind::kCount:
      break;
  }
  return false;
}

void Soak::Sample(bool force) {
  const uint64_t now = NowNs();
  if (!force && (now - start_ < kWarmUpNs || now - lastSample_ < kSampleNs)) return;
  lastSample_ = now;
  const pid_t pid = program_.Pid();
  ResourceSample s;
  s.seconds = static_cast<double>(now - start_) / 1e9;
  s.fd = benchproc::OpenDescriptors(pid);
  s.threads = benchproc::ThreadCount(pid);
  s.rssKb = benchproc::ResidentKb(pid);
  out_->samples.push_back(s);
}

void Soak::Run() {
  const uint64_t goal = static_cast<uint64_t>(options_.faultMb) << 20;
  const uint64_t timed = static_cast<uint64_t>(options_.faultMinutes * 60e9);
  const uint64_t mean = timed ? kTimedIntervalBytes : goal / std::max(1, options_.faults);
  std::uniform_int_distribution<uint64_t> interval(mean / 10 + 1, mean * 19 / 10 + 1);
  std::discrete_distribution<int> kinds({20, 20, 15, 20, 25});  // the order of FaultKind
  std::string why;
  while (true) {
    const bool enough =
        timed ? NowNs() - start_ >= timed
              : server_.UpTotals().bytes >= goal && down_.Totals().bytes >= goal &&
                    out_->faults.size() >= static_cast<size_t>(options_.faults);
    if (enough) break;
    if (!Stream(interval(random_), &why)) {
      out_->failure = why;
      break;
    }
    FaultRecord record;
    const bool recovered = Plant(static_cast<FaultKind>(kinds(random_)), &record, &why);
    if (!recovered) record.failure = why;
    out_->faults.push_back(record);
    if (options_.verbose || !recovered)
      std::printf("fault %zu %s (outage %.0f ms%s): %s%s\n", out_->faults.size(),
                  FaultName(record.kind), record.outageMs, record.relinked ? ", new link" : "",
                  recovered ? "" : "FAILED ",
                  recovered ? (std::to_string(record.recoveryMs) + " ms").c_str() : why.c_str());
    if (!recovered) {
      out_->failure = "fault " + std::to_string(out_->faults.size()) + ": " + why;
      break;
    }
    if (out_->faults.size() % 50 == 0) {
      std::printf("%zu faults, %.0f MiB up, %.0f MiB down, %.0f s\n", out_->faults.size(),
                  static_cast<double>(server_.UpTotals().bytes) / (1 << 20),
                  static_cast<double>(down_.Totals().bytes) / (1 << 20),
                  static_cast<double>(NowNs() - start_) / 1e9);
      std::fflush(stdout);
    }
  }
  out_->completed = out_->failure.empty();
  Finish();
}

// The last link ends without a fault: everything sent on it must arrive.
void Soak::Finish() {
  std::string why;
  StopSender();
  server_.SetSending(false);
  const uint32_t last = sender_.Link();
  if (out_->completed) {
    WaitUntil(
        [&] {
          const FaultServer::Link link = server_.Newest();
          return link.up.received >= upSent_[last] && down_.Current().received >= link.downSent;
        },
        kStepNs, "the last link's data", &why);
  }
  Sample(true);
  out_->cpuMs = benchproc::ProcessCpuMs(program_.Pid()) - cpuStart_;
  out_->seconds = static_cast<double>(NowNs() - start_) / 1e9;
  out_->up = server_.UpTotals();
  out_->down = down_.Totals();
  out_->strayBytes = reader_->StrayBytes();
  // Up: what each link's connection got against what the reader sent on it.
  std::map<uint32_t, uint64_t> upGot;
  for (const FaultServer::Link& link : server_.All())
    if (link.up.headOk) upGot[link.up.id] += link.up.received;
  for (const auto& sent : upSent_) {
    out_->upSent += sent.second;
    const uint64_t got = upGot[sent.first];  // both count the head
    const uint64_t lost = sent.second > got ? sent.second - got : 0;
    if (sent.first == last) {
      out_->lostOnLastLink += lost;
    } else {
      out_->upLostAtFaults += lost;
      out_->maxUpLost = std::max(out_->maxUpLost, lost);
    }
  }
  // Down: what the reader got of each connection's stream, and in the server's order.
  std::map<uint32_t, uint64_t> downGot;
  std::vector<EpochTally> links = down_.Ended();
  links.push_back(down_.Current());
  uint32_t previous = 0;
  for (const EpochTally& link : links) {
    if (!link.headOk) continue;
    if (link.id <= previous) ++out_->staleDownLinks;
    previous = link.id;
    downGot[link.id] += link.received;
  }
  const std::vector<FaultServer::Link> connections = server_.All();
  for (const FaultServer::Link& c : connections) {
    out_->downSent += c.downSent;
    const uint64_t got = downGot[c.id];
    const uint64_t lost = c.downSent > got ? c.downSent - got : 0;
    if (&c == &connections.back()) {
      out_->lostOnLastLink += lost;
    } else {
      out_->downLostAtFaults += lost;
      out_->maxDownLost = std::max(out_->maxDownLost, lost);
    }
  }
}

std::string Soak::Tail() const {
  std::string text = "  program output (last lines):\n" + FileTail(sandbox_.ProgramOutput(), 20);
  if (options_.log) text += "  program log (last lines):\n" + FileTail(sandbox_.LogFile(), 40);
  return text;
}

}  // namespace

const char* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kFin: return "server close (FIN)";
    case FaultKind::kReset: return "server reset (RST)";
    case FaultKind::kRefuse: return "server refuses";
    case FaultKind::kStall: return "server stops reading";
    case FaultKind::kReplug: return "reader replugged";
    case FaultKind::kCount: break;
  }
  return "?";
}

bool RunFaultSoak(const Options& options, FaultSoakFigures* out, std::string* programTail) {
  out->ran = true;
  Soak soak(options, out);
  std::string why;
  if (!soak.Setup(&why)) {
    out->failure = why;
    *programTail = soak.Tail();
    return false;
  }
  soak.Run();
  if (!FaultSoakClean(*out)) *programTail = soak.Tail();
  return true;
}

bool FaultSoakClean(const FaultSoakFigures& f) {
  return f.completed && f.up.wrong == 0 && f.down.wrong == 0 && f.up.badHeads == 0 &&
         f.down.badHeads == 0 && f.up.outside == 0 && f.down.outside == 0 &&
         f.lostOnLastLink == 0 && f.staleDownLinks == 0 && f.strayBytes == 0;
}

}  // namespace replug
