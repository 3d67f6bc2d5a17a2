// Soak: megabytes each way at once over one link, checked byte by byte as they arrive, with the
// program's resident memory sampled every second and its CPU time over the whole transfer.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "common/proc_stats.h"
#include "phases.h"

namespace replug {

namespace {

constexpr uint64_t kSecondNs = 1000000000ull;
// Memory growth counts from the first sample after this, once start-up buffers have settled.
constexpr uint64_t kWarmUpNs = 10 * kSecondNs;
// No byte moved either way for this long: the transfer is given up.
constexpr uint64_t kStallNs = 30 * kSecondNs;
// The exchange number of the soak's streams; replug cycles never count this high.
constexpr uint64_t kSoakExchange = 1ull << 32;

// Sends `total` bytes of stream `seed` in pieces of random size 1..maxPiece through send; stops
// early when quit is set. Returns "" or what failed.
template <typename Send>
std::string SendStream(uint64_t seed, uint64_t total, size_t maxPiece, uint64_t sizeSeed,
                       const std::atomic<bool>& quit, std::atomic<uint64_t>* pieces, Send send) {
  std::mt19937_64 sizes(sizeSeed);
  std::uniform_int_distribution<size_t> pick(1, maxPiece);
  std::vector<uint8_t> piece(maxPiece);
  for (uint64_t offset = 0; offset < total && !quit;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(pick(sizes), total - offset));
    FillStream(seed, offset, piece.data(), n);
    std::string failure = send(piece.data(), n);
    if (!failure.empty()) return failure + " at byte " + std::to_string(offset);
    offset += n;
    ++*pieces;
  }
  return std::string();
}

}  // namespace

bool RunSoak(Session& session, int megabytes, SoakFigures* out, std::string* why) {
  const pid_t pid = session.program().Pid();
  testsupport::SimulatedReader* reader = session.reader().Reader();
  out->ran = true;
  if (!reader) {
    out->failure = "no reader plugged";
    return true;
  }
  const uint64_t total = static_cast<uint64_t>(megabytes) << 20;
  out->bytesEachWay = total;
  const uint64_t upSeed = StreamSeed(session.options().seed, kSoakExchange);
  const uint64_t downSeed = upSeed ^ 1;
  session.upstream().Expect(upSeed, total);
  session.downstream().Expect(downSeed, total);

  std::atomic<bool> quit{false};
  std::atomic<uint64_t> frames{0}, chunks{0};
  std::string upFailure, downFailure;  // each written by its thread only, read after the join
  std::atomic<bool> senderFailed{false};
  const double cpuBefore = benchproc::ProcessCpuMs(pid);
  out->rssStartKb = benchproc::ResidentKb(pid);
  out->rssMaxKb = out->rssStartKb;
  const uint64_t start = NowNs();
  std::thread up([&] {
    upFailure = SendStream(upSeed, total, kSoakMaxFrameData, upSeed, quit, &frames,
                           [&](const uint8_t* data, size_t n) {
                             while (!session.reader().WaitRoom(kReaderOutputBytes, 100))
                               if (quit) return std::string("stopped");
                             return reader->SendRelay(data, n)
                                        ? std::string()
                                        : std::string("the reader's write to the pty failed");
                           });
    if (!upFailure.empty()) senderFailed = true;
  });
  std::thread down([&] {
    downFailure = SendStream(downSeed, total, kSoakMaxServerChunk, downSeed, quit, &chunks,
                             [&](const uint8_t* data, size_t n) {
                               std::string failure;
                               session.server().SendToNewest(data, n, &failure);
                               return failure;
                             });
    if (!downFailure.empty()) senderFailed = true;
  });

  uint64_t nextSample = start + kSecondNs, lastMoved = start, movedSoFar = 0;
  bool fatal = false;
  while (true) {
    const StreamTally upTally = session.upstream().Tally();
    const StreamTally downTally = session.downstream().Tally();
    if (upTally.Complete() && downTally.Complete()) {
      out->completed = true;
      break;
    }
    if (!session.Healthy(why)) {
      fatal = true;
      break;
    }
    if (senderFailed) break;
    const uint64_t now = NowNs();
    if (upTally.received + downTally.received != movedSoFar) {
      movedSoFar = upTally.received + downTally.received;
      lastMoved = now;
    } else if (now - lastMoved >= kStallNs) {
      out->failure = "no byte moved either way for 30 s";
      break;
    }
    if (now >= nextSample) {
      const long rss = benchproc::ResidentKb(pid);
      ++out->samples;
      if (now - start >= kWarmUpNs) {
        if (!out->warmedUp) out->rssWarmKb = rss;
        out->warmedUp = true;
      }
      out->rssMaxKb = std::max(out->rssMaxKb, rss);
      if (out->warmedUp) out->rssWarmMaxKb = std::max(out->rssWarmMaxKb, rss);
      nextSample += kSecondNs;
      continue;
    }
    const int waitMs = static_cast<int>(std::min<uint64_t>((nextSample - now) / 1000000 + 1, 100));
    if (!upTally.Complete()) {
      session.upstream().WaitComplete(waitMs);
    } else {
      session.downstream().WaitComplete(waitMs);
    }
  }
  quit = true;
  // A server send blocked on a program that stopped reading returns once its socket is shut.
  if (!out->completed) session.server().Unblock();
  up.join();
  down.join();

  out->cpuMs = benchproc::ProcessCpuMs(pid) - cpuBefore;
  out->rssEndKb = benchproc::ResidentKb(pid);
  out->rssMaxKb = std::max(out->rssMaxKb, out->rssEndKb);
  out->up = session.upstream().Tally();
  out->down = session.downstream().Tally();
  if (out->up.lastByteNs) out->upSeconds = static_cast<double>(out->up.lastByteNs - start) / 1e9;
  if (out->down.lastByteNs)
    out->downSeconds = static_cast<double>(out->down.lastByteNs - start) / 1e9;
  out->upFrames = frames;
  out->downChunks = chunks;
  if (out->failure.empty() && !upFailure.empty()) out->failure = "up: " + upFailure;
  if (out->failure.empty() && !downFailure.empty()) out->failure = "down: " + downFailure;
  if (out->failure.empty() && fatal) out->failure = *why;
  return !fatal;
}

}  // namespace replug
