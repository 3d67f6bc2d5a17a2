// Idle: the program's CPU time and wake-ups while the link is up and nothing moves.
#include <map>

#include "common/proc_stats.h"
#include "phases.h"

namespace replug {

bool MeasureIdle(Session& session, double seconds, IdleFigures* out, std::string* why) {
  const pid_t pid = session.program().Pid();
  auto sample = [&](benchproc::ProcessSample* into) {
    if (benchproc::SampleProcess(pid, into)) return true;
    if (session.Healthy(why)) *why = "cannot read the program's figures in /proc";
    return false;
  };
  benchproc::ProcessSample before, after;
  if (!sample(&before) || !session.Pause(seconds * 1000.0, why) || !sample(&after)) return false;

  const double wall = static_cast<double>(after.ns - before.ns) / 1e9;
  out->ran = true;
  out->seconds = wall;
  out->cpuPercent = (after.cpuMs - before.cpuMs) / (wall * 1000.0) * 100.0;
  out->threads = static_cast<int>(after.threads.size());
  // Threads that ended meanwhile took their counts with them; threads that began count from 0.
  std::map<int, uint64_t> start;
  for (const benchproc::ThreadWakeups& t : before.threads) start[t.tid] = t.switches;
  uint64_t total = 0;
  for (const benchproc::ThreadWakeups& t : after.threads) {
    auto found = start.find(t.tid);
    const uint64_t delta = t.switches - (found == start.end() ? 0 : found->second);
    total += delta;
    const double perSecond = static_cast<double>(delta) / wall;
    if (out->busiestName.empty() || perSecond > out->busiestPerSecond) {
      out->busiestName = t.name;
      out->busiestTid = t.tid;
      out->busiestIsMain = t.tid == pid;
      out->busiestPerSecond = perSecond;
    }
  }
  out->wakeupsPerSecond = static_cast<double>(total) / wall;
  return true;
}

}  // namespace replug
