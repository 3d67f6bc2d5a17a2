// All figures of one run and the table they are printed as.
#pragma once

#include <cstdint>

#include "options.h"
#include "phases.h"

namespace replug {

// The first link after the program started (t0 = its start).
struct StartFigures {
  bool linked = false;
  double modeMs = -1, linkMs = -1, firstMs = -1;
  uint64_t faults = 0;
  int fd = -1;
  long rssKb = -1;
};

struct RunFigures {
  StartFigures start;
  IdleFigures idle;
  SoakFigures soak;
  ReplugFigures replug;
  uint64_t strayBytes = 0;  // bytes from the host to the reader outside any valid frame
};

void PrintReport(const Options& options, const RunFigures& figures);
// True when every phase that ran carried all its data intact and no cycle failed.
bool AllCarried(const RunFigures& figures);

}  // namespace replug
