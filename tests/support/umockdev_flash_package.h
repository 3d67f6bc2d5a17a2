// A whole flash of a small package through the library (erase, download, read back and compare,
// leave), run once on the simulated device to record the device's side, and once under
// umockdev through the libusb backend, which must carry the same exchange. Portable.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "platform/clock.h"

namespace dfutest {

// 48 bytes of a pattern at the start of the flash (one block: below wTransferSize).
inline std::vector<uint8_t> UmockdevFlashPackage() {
  std::vector<uint8_t> bytes(48);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0x30 + i * 7);
  return bytes;
}

// Runs one operation to its end (bounded); STDFU_NOERROR or its error code.
inline uint32_t RunUmockdevOperation(const std::string& path, uint32_t operation,
                                     DfuImageHandle image) {
  OperationContext ctx;
  ctx.operation = operation;
  ctx.image = image;
  std::strncpy(ctx.devicePath, path.c_str(), sizeof ctx.devicePath - 1);
  DfuOperationHandle handle = 0;
  if (STDFUPRT_LaunchOperation(&ctx, &handle) != STDFU_NOERROR) return STDFUPRT_BADPARAMETER;
  const uint64_t end = platform::NowMs() + 20000;
  for (;;) {
    OperationContext now;
    STDFUPRT_GetOperationStatus(handle, &now);
    if (now.percent == 100 || now.errorCode != STDFU_NOERROR) break;
    if (platform::NowMs() > end) break;
    platform::SleepMs(1);
  }
  STDFUPRT_StopOperation(handle, &ctx);
  if (ctx.errorCode == STDFU_NOERROR && ctx.percent != 100) return STDFUPRT_BUSYTIMEOUT;
  return ctx.errorCode;
}

// The whole flash; false with the reasons in *failures when any step failed.
inline bool RunUmockdevFlash(std::vector<std::string>* failures) {
  auto fail = [&](const std::string& what, uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, " (0x%08X)", static_cast<unsigned>(code));
    failures->push_back(what + text);
  };
  std::vector<DfuInterfaceEntry> list;
  if (!DfuListInterfaces(kDfuInterfaceClassA, &list) || list.size() != 1) {
    fail("one DFU interface", 0);
    return false;
  }
  const std::string path = list[0].path;
  DfuMappingEntry* mapping = nullptr;
  uint32_t targets = 0;
  uint32_t r = STDFUPRT_CreateMappingFromDevice(path.c_str(), &mapping, &targets);
  if (r != STDFU_NOERROR || targets == 0) {
    fail("mapping", r);
    return false;
  }
  const std::vector<uint8_t> package = UmockdevFlashPackage();
  DfuImageHandle source = nullptr;
  STDFUFILES_CreateImage(&source, 0);
  DfuElement element;
  element.dwAddress = 0x08000000;
  element.dwDataLength = static_cast<uint32_t>(package.size());
  element.Data = const_cast<uint8_t*>(package.data());
  STDFUFILES_AppendImageElement(source, &element);
  for (uint32_t operation : {kOperationErase, kOperationDownload, kOperationUpload}) {
    DfuImageHandle image = nullptr;
    STDFUFILES_DuplicateImage(source, &image);
    STDFUFILES_FilterImageForOperation(image, &mapping[0], operation, 0);
    r = RunUmockdevOperation(path, operation, image);
    if (r != STDFU_NOERROR) fail("operation " + std::to_string(operation), r);
    if (operation == kOperationUpload && r == STDFU_NOERROR) {
      std::vector<uint8_t> read(package.size());
      DfuElement back;
      back.dwDataLength = static_cast<uint32_t>(read.size());
      back.Data = read.data();
      if (STDFUFILES_GetImageElement(image, 0, &back) != STDFU_NOERROR || read != package)
        fail("the read back differs from the package", 0);
    }
    STDFUFILES_DestroyImage(&image);
  }
  DfuImageHandle leave = nullptr;
  STDFUFILES_CreateImageFromMapping(&leave, &mapping[0]);
  STDFUFILES_FilterImageForOperation(leave, &mapping[0], kOperationLeave, 0);
  r = RunUmockdevOperation(path, kOperationLeave, leave);
  if (r != STDFU_NOERROR) fail("leave", r);
  STDFUFILES_DestroyImage(&leave);
  STDFUFILES_DestroyImage(&source);
  STDFUPRT_DestroyMapping(&mapping);
  return failures->empty();
}

}  // namespace dfutest
