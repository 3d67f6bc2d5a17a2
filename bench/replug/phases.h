// The three measurements, each on a session whose link is up when it starts. Each returns false
// with *why only when the run cannot go on (program gone, interrupted); what went wrong inside a
// phase is kept in its figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "relay/reader_frame.h"
#include "session.h"
#include "stream_check.h"

namespace replug {

// Soak piece sizes are random from 1 to these. Up: the largest frame data the program takes from
// the reader (its length field counts the command code and the check sum as well). Down: chunks
// as a card server writes them.
constexpr size_t kSoakMaxFrameData = relay::kMaxReceiveLength - 2;
constexpr size_t kSoakMaxServerChunk = 4095;
// The reader's output waiting for the host: no more than a reader's buffer holds; the rest of a
// stream waits until the host reads.
constexpr size_t kReaderOutputBytes = 16384;

struct IdleFigures {
  bool ran = false;
  double seconds = 0;
  double cpuPercent = 0;        // of one core
  double wakeupsPerSecond = 0;  // context switches of all threads
  int threads = 0;
  std::string busiestName;
  int busiestTid = 0;
  bool busiestIsMain = false;  // the process's first thread
  double busiestPerSecond = 0;
};

struct CycleResult {
  int cycle = 0;
  bool ok = false;
  std::string failure;
  double modeMs = -1;   // t0 -> SetNetworkMode at the reader
  double linkMs = -1;   // t0 -> connect result 00 00 at the reader
  double firstMs = -1;  // t0 -> the relay frame's first byte at the server (t1 - t0)
  uint64_t faults = 0;  // bytes lost, altered, reordered or extra, both ways
};

struct ReplugFigures {
  bool ran = false;
  std::vector<CycleResult> cycles;
  int fdStart = -1, fdEnd = -1;
  long rssStartKb = -1, rssEndKb = -1;
  int connectionsAccepted = 0;  // by the server during the phase
  int connectionsOpenEnd = 0;   // the program's connections still open at the end
};

struct SoakFigures {
  bool ran = false;
  bool completed = false;
  std::string failure;
  uint64_t bytesEachWay = 0;
  StreamTally up, down;
  double upSeconds = 0, downSeconds = 0;  // from the start to each stream's last byte
  uint64_t upFrames = 0, downChunks = 0;
  double cpuMs = 0;
  long rssStartKb = -1, rssMaxKb = -1, rssEndKb = -1;
  bool warmedUp = false;   // the soak outlasted the warm-up: the two figures below hold
  long rssWarmKb = -1;     // the first sample after the warm-up
  long rssWarmMaxKb = -1;  // the largest sample from then on
  int samples = 0;         // once a second
};

bool MeasureIdle(Session& session, double seconds, IdleFigures* out, std::string* why);
bool RunReplugCycles(Session& session, int cycles, int gapMs, ReplugFigures* out, std::string* why);
bool RunSoak(Session& session, int megabytes, SoakFigures* out, std::string* why);

}  // namespace replug
