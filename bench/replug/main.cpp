// Replug, idle and soak figures of the real ovra7server --headless (Linux). A pty plays the
// reader's serial node (linked into the program's device folder, listed in a fake sysfs tree)
// and a loopback card server takes the program's connections. Measures and prints; asserts
// nothing. Exits 1 when the run ended early or any data did not arrive intact, 2 on bad usage.
#include <cstdio>
#include <string>

#include "common/proc_stats.h"
#include "fault_soak.h"
#include "phases.h"
#include "platform/socket.h"
#include "report.h"
#include "session.h"

namespace {

using namespace replug;

// The program's start may take a while on a loaded machine; the first link is given this long.
constexpr uint64_t kFirstLinkNs = 60ull * 1000000000ull;

double Ms(uint64_t ns) { return static_cast<double>(ns) / 1e6; }

bool FirstLink(Session& session, uint64_t t0, StartFigures* out, std::string* why) {
  LinkTimes times;
  ExchangeResult exchange;
  const uint64_t deadline = t0 + kFirstLinkNs;
  if (!session.Link(0, t0, deadline, &times, why) ||
      !session.Exchange(StreamSeed(session.options().seed, 0), deadline, &exchange, why)) {
    *why = "first link: " + *why;
    return false;
  }
  out->linked = true;
  out->modeMs = Ms(times.modeNs);
  out->linkMs = Ms(times.resultNs);
  out->firstMs = Ms(exchange.upFirstByteNs - t0);
  out->faults = exchange.Faults();
  out->fd = benchproc::OpenDescriptors(session.program().Pid());
  out->rssKb = benchproc::ResidentKb(session.program().Pid());
  return true;
}

bool Run(Session& session, RunFigures* figures, std::string* why) {
  const Options& options = session.options();
  uint64_t t0 = 0;
  if (!session.Setup(&t0, why) || !FirstLink(session, t0, &figures->start, why)) return false;
  std::printf("linked %.1f ms after the start; measuring\n", figures->start.linkMs);
  std::fflush(stdout);
  if (options.idleSeconds > 0 && !MeasureIdle(session, options.idleSeconds, &figures->idle, why))
    return false;
  if (options.soakMb > 0 && !RunSoak(session, options.soakMb, &figures->soak, why)) return false;
  if (options.cycles > 0 &&
      !RunReplugCycles(session, options.cycles, options.gapMs, &figures->replug, why))
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string why;
  if (!ParseOptions(argc, argv, &options, &why)) {
    std::fprintf(stderr, "replug: %s\n%s", why.c_str(), Usage());
    return 2;
  }
  if (options.help) {
    std::printf("%s", Usage());
    return 0;
  }
  InstallStopSignals();
  platform::NetStartup();
  if (options.faultMb > 0 || options.faultMinutes > 0) {
    FaultSoakFigures soak;
    std::string tail;
    RunFaultSoak(options, &soak, &tail);
    if (!FaultSoakClean(soak)) std::printf("%s", tail.c_str());
    PrintFaultSoak(options, soak);
    platform::NetCleanup();
    return FaultSoakClean(soak) ? 0 : 1;
  }
  RunFigures figures;
  bool finished;
  {
    Session session(options);
    finished = Run(session, &figures, &why);
    figures.strayBytes = session.StrayBytes();
    if (!finished) std::printf("replug: the run ended early: %s\n", why.c_str());
    if (!finished || !AllCarried(figures)) std::printf("%s", session.ProgramTail(20).c_str());
  }  // the program is ended and the temporary folder removed here
  PrintReport(options, figures);
  platform::NetCleanup();
  return finished && AllCarried(figures) ? 0 : 1;
}
