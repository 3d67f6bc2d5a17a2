// Runs library operations to their end for tests: launch, poll with a generous bound, stop.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "platform/clock.h"

namespace dfutest {

inline OperationContext Context(const std::string& path, uint32_t operation, DfuImageHandle image) {
  OperationContext ctx;
  ctx.operation = operation;
  ctx.image = image;
  std::strncpy(ctx.devicePath, path.c_str(), sizeof ctx.devicePath - 1);
  return ctx;
}

// The operation's final context; errorCode STDFUPRT_BUSYTIMEOUT + 0x100 marks a run that did
// not end within 20 s (a hang).
inline OperationContext Run(const std::string& path, uint32_t operation, DfuImageHandle image) {
  OperationContext ctx = Context(path, operation, image);
  DfuOperationHandle handle = 0;
  if (STDFUPRT_LaunchOperation(&ctx, &handle) != STDFU_NOERROR) {
    ctx.errorCode = STDFUPRT_BADPARAMETER;
    return ctx;
  }
  const uint64_t end = platform::NowMs() + 20000;
  bool ended = false;
  while (!ended && platform::NowMs() < end) {
    OperationContext now;
    STDFUPRT_GetOperationStatus(handle, &now);
    ended = now.percent == 100 || now.errorCode != STDFU_NOERROR;
    if (!ended) platform::SleepMs(2);
  }
  STDFUPRT_StopOperation(handle, &ctx);
  if (!ended) ctx.errorCode = STDFUPRT_BUSYTIMEOUT + 0x100;
  return ctx;
}

inline std::string FirstDfuPath() {
  std::vector<DfuInterfaceEntry> list;
  if (!DfuListInterfaces(kDfuInterfaceClassA, &list) || list.empty()) return std::string();
  return list[0].path;
}

// A filtered copy of `image` for `operation` on `entry`; the caller destroys it.
inline DfuImageHandle Prepared(DfuImageHandle image, const DfuMappingEntry& entry,
                               uint32_t operation) {
  DfuImageHandle copy = nullptr;
  STDFUFILES_DuplicateImage(image, &copy);
  STDFUFILES_FilterImageForOperation(copy, &entry, operation, 0);
  return copy;
}

}  // namespace dfutest
