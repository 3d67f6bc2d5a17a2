// Printing the figures as a table.
#include "report.h"

#include "fault_soak.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace replug {

namespace {

// Nearest-rank percentile of the values (copied, so the caller's order stays).
double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

// A figure that could not be read (the program was gone) shows as n/a.
std::string Count(long value, const char* unit = "") {
  return value < 0 ? std::string("n/a") : std::to_string(value) + unit;
}

void Row(const char* label, const std::string& value) {
  std::printf("  %-34s %s\n", label, value.c_str());
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

std::string Spread(const std::vector<double>& ms) {
  if (ms.empty()) return "no sample";
  return Format("median %.1f ms, p99 %.1f ms, max %.1f ms", Percentile(ms, 0.5),
                Percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()));
}

std::string Bytes(const StreamTally& t) {
  return std::to_string(t.Faults()) + " (wrong " + std::to_string(t.wrong) + ", missing " +
         std::to_string(t.Missing()) + ", extra " + std::to_string(t.Extra()) + ")";
}

// Time and rate of a stream that arrived whole; otherwise how much of it came.
std::string Direction(const StreamTally& t, double seconds) {
  if (!t.Complete() || seconds <= 0)
    return std::to_string(t.received) + " of " + std::to_string(t.expected) + " bytes arrived";
  return Format("%.2f s, %.2f MiB/s", seconds,
                static_cast<double>(t.received) / (1 << 20) / seconds);
}

void PrintSoak(const SoakFigures& s) {
  const double mib = static_cast<double>(s.bytesEachWay) / (1 << 20);
  std::printf("soak: %.0f MiB each way at once (1 MiB = 1048576 bytes)\n", mib);
  Row("result", s.completed ? "all bytes arrived" : "FAILED: " + s.failure);
  Row("reader -> server", Direction(s.up, s.upSeconds) + ", " + std::to_string(s.upFrames) +
                              " relay frames of 1.." + std::to_string(kSoakMaxFrameData) +
                              " bytes");
  Row("server -> reader", Direction(s.down, s.downSeconds) + ", " + std::to_string(s.downChunks) +
                              " chunks of 1.." + std::to_string(kSoakMaxServerChunk) + " bytes");
  Row("bytes not in place, up", Bytes(s.up));
  Row("bytes not in place, down", Bytes(s.down));
  if (s.up.firstWrongOffset >= 0 || s.down.firstWrongOffset >= 0)
    Row("first wrong byte (up, down)",
        std::to_string(s.up.firstWrongOffset) + ", " + std::to_string(s.down.firstWrongOffset));
  const double moved = static_cast<double>(s.up.received + s.down.received) / (1 << 20);
  Row("program CPU", Format("%.0f ms, %.2f ms per MiB relayed (both ways counted)", s.cpuMs,
                            moved > 0 ? s.cpuMs / moved : 0));
  Row("VmRSS", "start " + Count(s.rssStartKb, " kB") + ", max " + Count(s.rssMaxKb, " kB") +
                   ", end " + Count(s.rssEndKb, " kB"));
  Row("VmRSS growth over the soak",
      s.rssStartKb < 0 || s.rssMaxKb < 0
          ? std::string("n/a")
          : Format("%+.0f kB (max - start)", static_cast<double>(s.rssMaxKb - s.rssStartKb)));
  Row("VmRSS growth after 10 s warm-up",
      s.warmedUp ? Format("%+.0f kB (%.0f kB at 10 s, max %.0f kB after)",
                          static_cast<double>(s.rssWarmMaxKb - s.rssWarmKb),
                          static_cast<double>(s.rssWarmKb), static_cast<double>(s.rssWarmMaxKb))
                 : std::string("n/a: the soak ended within the warm-up"));
}

void PrintReplug(const Options& options, const ReplugFigures& r) {
  std::vector<double> first, mode;
  uint64_t faults = 0;
  std::string failed;
  for (const CycleResult& c : r.cycles) {
    faults += c.faults;
    if (c.ok) {
      first.push_back(c.firstMs);
      mode.push_back(c.modeMs);
    } else {
      failed += "    cycle " + std::to_string(c.cycle) + ": " + c.failure + "\n";
    }
  }
  std::printf("replug: %zu of %d cycles, unplugged %d ms each\n", r.cycles.size(), options.cycles,
              options.gapMs);
  Row("cycles carried / failed",
      std::to_string(first.size()) + " / " + std::to_string(r.cycles.size() - first.size()));
  Row("t1-t0 (node back -> first byte)", Spread(first));
  Row("t0 -> SetNetworkMode", Spread(mode));
  Row("bytes not in place, both ways", std::to_string(faults));
  Row("open descriptors", Count(r.fdStart) + " -> " + Count(r.fdEnd));
  Row("VmRSS", Count(r.rssStartKb, " kB") + " -> " + Count(r.rssEndKb, " kB"));
  Row("server connections", std::to_string(r.connectionsAccepted) + " accepted, " +
                                std::to_string(r.connectionsOpenEnd) + " still open at the end");
  if (!failed.empty()) std::printf("  failed cycles:\n%s", failed.c_str());
}

std::string Mib(uint64_t bytes) {
  return Format("%.1f MiB", static_cast<double>(bytes) / (1 << 20));
}

std::string Checked(const EpochTotals& t) {
  return Mib(t.bytes) + " over " + std::to_string(t.links) + " links; wrong " +
         std::to_string(t.wrong) + ", links not opening with a fresh head " +
         std::to_string(t.badHeads) + ", bytes outside a link " + std::to_string(t.outside);
}

std::string Resources(const ResourceSample& s) {
  return Format("%.0f s: ", s.seconds) + Count(s.fd) + " descriptors, " + Count(s.threads) +
         " threads, VmRSS " + Count(s.rssKb, " kB");
}

}  // namespace

void PrintFaultSoak(const Options& options, const FaultSoakFigures& f) {
  std::printf("\n== %s --headless: fault soak (seed %llu) ==\n", options.program.c_str(),
              static_cast<unsigned long long>(options.seed));
  Row("result", FaultSoakClean(f) ? std::string("every link carried its data intact")
                                  : "FAILED" + (f.failure.empty() ? "" : ": " + f.failure));
  Row("time", Format("%.0f s", f.seconds));
  Row("checked at the server (up)", Checked(f.up));
  Row("checked at the reader (down)", Checked(f.down));
  Row("sent up / down", Mib(f.upSent) + " / " + Mib(f.downSent));
  Row("lost at faults, up", std::to_string(f.upLostAtFaults) + " bytes (one link at most " +
                                std::to_string(f.maxUpLost) + ")");
  Row("lost at faults, down", std::to_string(f.downLostAtFaults) + " bytes (one link at most " +
                                  std::to_string(f.maxDownLost) + ")");
  Row("lost on the last link (no fault)", std::to_string(f.lostOnLastLink) + " bytes");
  Row("down links out of the server's order", std::to_string(f.staleDownLinks));
  Row("host bytes outside frames", std::to_string(f.strayBytes));
  Row("server-lost reports unprovoked", std::to_string(f.unprovokedLosses));
  std::printf("  recovery: from the fault's end (close, listener back, reading again, plug) until\n"
              "  data moved both ways again\n");
  for (int k = 0; k < static_cast<int>(FaultKind::kCount); ++k) {
    std::vector<double> ms, relinked;
    size_t count = 0, failed = 0, half = 0;
    for (const FaultRecord& r : f.faults) {
      if (static_cast<int>(r.kind) != k) continue;
      ++count;
      half += r.midFrame;
      if (!r.failure.empty()) {
        ++failed;
        continue;
      }
      ms.push_back(r.recoveryMs);
      if (r.relinked) relinked.push_back(r.recoveryMs);
    }
    std::string label = FaultName(static_cast<FaultKind>(k));
    std::string what = std::to_string(count) + " faults";
    if (half) what += " (" + std::to_string(half) + " in mid-frame)";
    if (failed) what += ", " + std::to_string(failed) + " FAILED";
    if (static_cast<FaultKind>(k) == FaultKind::kStall)
      what += ", " + std::to_string(relinked.size()) + " needed a new link";
    Row(label.c_str(), what);
    Row("    recovery", Spread(ms));
  }
  if (!f.samples.empty()) {
    long rssMax = 0;
    for (const ResourceSample& s : f.samples) rssMax = std::max(rssMax, s.rssKb);
    Row("after warm-up", Resources(f.samples.front()));
    Row("at the end", Resources(f.samples.back()));
    Row("VmRSS max after warm-up", Count(rssMax, " kB"));
  }
  const double moved = static_cast<double>(f.up.bytes + f.down.bytes) / (1 << 20);
  Row("program CPU", Format("%.0f ms, %.2f ms per MiB relayed", f.cpuMs,
                            moved > 0 ? f.cpuMs / moved : 0));
}

void PrintReport(const Options& options, const RunFigures& f) {
  std::printf("\n== %s --headless: replug, idle and soak (seed %llu) ==\n", options.program.c_str(),
              static_cast<unsigned long long>(options.seed));
  std::printf("start: first link after the program's start\n");
  if (f.start.linked) {
    Row("SetNetworkMode / linked / 1st byte",
        Format("%.1f / %.1f / %.1f ms", f.start.modeMs, f.start.linkMs, f.start.firstMs));
    Row("bytes not in place", std::to_string(f.start.faults));
    Row("open descriptors, VmRSS", Count(f.start.fd) + ", " + Count(f.start.rssKb, " kB"));
  } else {
    Row("result", "no link");
  }
  if (f.idle.ran) {
    std::printf("idle: %.1f s linked, nothing moving\n", f.idle.seconds);
    Row("CPU", Format("%.3f %% of one core", f.idle.cpuPercent));
    Row("wake-ups, whole process",
        Format("%.1f /s (threads: %.0f)", f.idle.wakeupsPerSecond, f.idle.threads));
    const std::string thread = f.idle.busiestIsMain ? std::string("the main thread")
                                                    : "tid " + std::to_string(f.idle.busiestTid);
    Row("wake-ups, busiest thread", Format("%.1f /s", f.idle.busiestPerSecond) + " (\"" +
                                        f.idle.busiestName + "\", " + thread + ")");
  }
  if (f.soak.ran) PrintSoak(f.soak);
  if (f.replug.ran) PrintReplug(options, f.replug);
  std::printf("reader: bytes outside valid frames from the program: %llu\n",
              static_cast<unsigned long long>(f.strayBytes));
}

bool AllCarried(const RunFigures& f) {
  if (!f.start.linked || f.start.faults || f.strayBytes) return false;
  if (f.soak.ran && (!f.soak.completed || f.soak.up.Faults() || f.soak.down.Faults())) return false;
  for (const CycleResult& c : f.replug.cycles)
    if (!c.ok) return false;
  return true;
}

}  // namespace replug
