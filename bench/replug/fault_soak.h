// The fault soak: both directions at full speed through the real program while, at moments drawn
// from the run's seed, the card server closes (FIN) or resets (RST) the connection, refuses
// connections for a while, stops reading, or the reader's node is unplugged and plugged back
// (half of the time in the middle of a frame). The simulated reader behaves as a reader does: it
// asks to connect when the program reports the server lost or a connect failed, and after a
// replug once the program has set its network mode. Every link's stream is checked byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "epoch_stream.h"
#include "options.h"

namespace replug {

enum class FaultKind { kFin, kReset, kRefuse, kStall, kReplug, kCount };
const char* FaultName(FaultKind kind);

struct FaultRecord {
  FaultKind kind = FaultKind::kFin;
  bool midFrame = false;      // replug with half a frame written
  bool relinked = false;      // the reader had to connect again
  double outageMs = 0;        // refusal or stall length, replug gap
  double recoveryMs = -1;     // from the fault's end (the close, the reopened listener, the
                              // resumed reading, the plug) until data moved both ways again
  std::string failure;        // empty when it recovered
};

struct ResourceSample {
  double seconds = 0;
  int fd = -1, threads = -1;
  long rssKb = -1;
};

struct FaultSoakFigures {
  bool ran = false;
  bool completed = false;
  std::string failure;
  double seconds = 0;
  std::vector<FaultRecord> faults;
  uint64_t unprovokedLosses = 0;  // the program reported the server lost with no fault of ours
  EpochTotals up, down;           // as the server and the reader checked them
  uint64_t upSent = 0, downSent = 0;
  uint64_t upLostAtFaults = 0, downLostAtFaults = 0;  // in flight when a link ended
  uint64_t maxUpLost = 0, maxDownLost = 0;           // on one link
  uint64_t lostOnLastLink = 0;    // both ways: must be 0, nothing ended that link
  uint64_t staleDownLinks = 0;    // links the reader got out of the server's order
  uint64_t strayBytes = 0;        // host bytes to the reader outside any frame
  std::vector<ResourceSample> samples;  // the first after the warm-up, then every 10 s
  double cpuMs = 0;
};

// Runs the whole soak on a fresh program. False only when it could not be set up at all.
bool RunFaultSoak(const Options& options, FaultSoakFigures* out, std::string* programTail);
void PrintFaultSoak(const Options& options, const FaultSoakFigures& figures);
// Nothing lost between faults, every link fresh, no failed recovery.
bool FaultSoakClean(const FaultSoakFigures& figures);

}  // namespace replug
