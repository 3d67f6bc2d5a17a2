// Replug: the reader's node goes away and comes back under the same name; how long until data
// flows again, and whether every byte still arrives.
#include <cstdio>

#include "common/proc_stats.h"
#include "phases.h"

namespace replug {

namespace {

// A cycle that has not carried its data both ways by then is given up.
constexpr uint64_t kCycleGiveUpNs = 30ull * 1000000000ull;

double Ms(uint64_t ns) { return static_cast<double>(ns) / 1e6; }

}  // namespace

bool RunReplugCycles(Session& session, int cycles, int gapMs, ReplugFigures* out,
                     std::string* why) {
  const pid_t pid = session.program().Pid();
  out->ran = true;
  out->fdStart = benchproc::OpenDescriptors(pid);
  out->rssStartKb = benchproc::ResidentKb(pid);
  const int acceptedStart = session.server().Accepted();
  // The end figures, also when the run ends early (then -1 where the program is gone).
  auto finish = [&](bool goOn) {
    out->fdEnd = benchproc::OpenDescriptors(pid);
    out->rssEndKb = benchproc::ResidentKb(pid);
    out->connectionsAccepted = session.server().Accepted() - acceptedStart;
    out->connectionsOpenEnd = session.server().StillOpen();
    return goOn;
  };
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    CycleResult result;
    result.cycle = cycle;
    session.reader().Unplug();
    if (!session.Pause(gapMs, why)) return finish(false);
    const int acceptedBefore = session.server().Accepted();
    std::string failure;
    if (!session.reader().Plug(&failure)) {
      *why = "cycle " + std::to_string(cycle) + ": " + failure;
      return finish(false);
    }
    const uint64_t t0 = NowNs();
    const uint64_t deadline = t0 + kCycleGiveUpNs;
    LinkTimes times;
    ExchangeResult exchange;
    bool carried =
        session.Link(acceptedBefore, t0, deadline, &times, &failure) &&
        session.Exchange(StreamSeed(session.options().seed, static_cast<uint64_t>(cycle)), deadline,
                         &exchange, &failure);
    if (times.modeNs) result.modeMs = Ms(times.modeNs);
    if (times.resultNs) result.linkMs = Ms(times.resultNs);
    if (exchange.upFirstByteNs) result.firstMs = Ms(exchange.upFirstByteNs - t0);
    result.faults = exchange.Faults();
    result.ok = carried && result.faults == 0;
    if (carried && result.faults)
      failure = std::to_string(result.faults) + " bytes lost, altered or out of order";
    result.failure = failure;
    if (result.ok) {
      std::printf("cycle %d/%d: t1-t0 %.1f ms (SetNetworkMode %.1f ms, linked %.1f ms)\n", cycle,
                  cycles, result.firstMs, result.modeMs, result.linkMs);
    } else {
      std::printf("cycle %d/%d FAILED after %.1f s: %s\n", cycle, cycles, Ms(NowNs() - t0) / 1e3,
                  failure.c_str());
    }
    std::fflush(stdout);
    out->cycles.push_back(result);
    if (!carried && !session.Healthy(why)) return finish(false);
  }
  return finish(true);
}

}  // namespace replug
