// Erase + download + upload of 256 KiB on the simulated device with realistic poll time-outs.
// Measures, never asserts: the host's own time beyond the waits the device asked for, and the
// control transfers used against the least the protocol needs.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "platform/clock.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"

namespace {

constexpr uint32_t kBytes = 256 * 1024;
constexpr uint32_t kAddress = 0x08000000;

struct Figures {
  double wallMs;
  uint64_t waitMs;
  uint64_t transfers;
  uint64_t minimum;
  uint32_t error;
};

Figures RunOne(testsupport::SimDfuDevice& device, const std::string& path,
               const DfuMappingEntry& entry, DfuImageHandle image, uint32_t operation,
               uint64_t minimum) {
  DfuImageHandle prepared = nullptr;
  STDFUFILES_DuplicateImage(image, &prepared);
  STDFUFILES_FilterImageForOperation(prepared, &entry, operation, 0);
  OperationContext ctx;
  ctx.operation = operation;
  ctx.image = prepared;
  std::strncpy(ctx.devicePath, path.c_str(), sizeof ctx.devicePath - 1);
  uint64_t transfers0 = device.controlTransfers(), wait0 = device.requiredWaitMs();
  auto start = std::chrono::steady_clock::now();
  DfuOperationHandle handle = 0;
  STDFUPRT_LaunchOperation(&ctx, &handle);
  for (;;) {
    OperationContext now;
    STDFUPRT_GetOperationStatus(handle, &now);
    if (now.percent == 100 || now.errorCode != STDFU_NOERROR) break;
    platform::SleepMs(1);
  }
  STDFUPRT_StopOperation(handle, &ctx);
  auto end = std::chrono::steady_clock::now();
  STDFUFILES_DestroyImage(&prepared);
  return Figures{std::chrono::duration<double, std::milli>(end - start).count(),
                 device.requiredWaitMs() - wait0, device.controlTransfers() - transfers0, minimum,
                 ctx.errorCode};
}

}  // namespace

int main() {
  testsupport::SimUsbBus bus;
  testsupport::SimDfuOptions o;
  o.writePollMs = 5;    // per command and 2 KiB block
  o.erasePollMs = 100;  // per sector erase
  auto device = bus.Add(o);
  std::vector<DfuInterfaceEntry> list;
  DfuListInterfaces(kDfuInterfaceClassA, &list);
  if (list.empty()) return 1;
  DfuMappingEntry* mapping = nullptr;
  uint32_t targets = 0;
  if (STDFUPRT_CreateMappingFromDevice(list[0].path.c_str(), &mapping, &targets) != STDFU_NOERROR)
    return 1;
  DfuImageHandle image = nullptr;
  STDFUFILES_CreateImage(&image, 0);
  std::vector<uint8_t> data = testsupport::Pattern(kBytes, 42);
  DfuElement e;
  e.dwAddress = kAddress;
  e.dwDataLength = kBytes;
  e.Data = data.data();
  STDFUFILES_AppendImageElement(image, &e);

  const uint64_t blocks = kBytes / o.transferSize;
  uint64_t sectors = 0;
  for (const DfuSector& s : mapping[0].sectors)
    if (s.address < kAddress + kBytes) ++sectors;
  // The least the protocol needs: a command or block is DNLOAD + GETSTATUS (busy) +
  // GETSTATUS (done); a read after setting the address needs one ABORT, then one UPLOAD a block.
  const Figures erase =
      RunOne(*device, list[0].path, mapping[0], image, kOperationErase, 3 * sectors);
  const Figures down =
      RunOne(*device, list[0].path, mapping[0], image, kOperationDownload, 3 + 3 * blocks);
  const Figures up =
      RunOne(*device, list[0].path, mapping[0], image, kOperationUpload, 3 + 1 + blocks);
  std::vector<uint8_t> flash;
  device->Read(kAddress, kBytes, &flash);

  std::printf("flash_bench: 256 KiB, wTransferSize %u, poll %u ms per block, %u ms per erase\n",
              o.transferSize, o.writePollMs, o.erasePollMs);
  std::printf("%-9s %10s %12s %12s %10s %10s %6s\n", "phase", "wall ms", "device wait",
              "host extra", "transfers", "minimum", "error");
  const char* names[] = {"erase", "download", "upload"};
  const Figures* all[] = {&erase, &down, &up};
  double extra = 0;
  uint64_t used = 0, least = 0;
  for (int i = 0; i < 3; ++i) {
    const Figures& f = *all[i];
    std::printf("%-9s %10.1f %12llu %12.1f %10llu %10llu 0x%08X\n", names[i], f.wallMs,
                static_cast<unsigned long long>(f.waitMs), f.wallMs - f.waitMs,
                static_cast<unsigned long long>(f.transfers),
                static_cast<unsigned long long>(f.minimum), static_cast<unsigned>(f.error));
    extra += f.wallMs - f.waitMs;
    used += f.transfers;
    least += f.minimum;
  }
  std::printf(
      "total host time beyond the device's poll time-outs: %.1f ms; transfers %llu vs "
      "minimum %llu (+%.1f%%); flash %s the package; early status polls %llu\n",
      extra, static_cast<unsigned long long>(used), static_cast<unsigned long long>(least),
      100.0 * (used - least) / least, flash == data ? "equals" : "DIFFERS FROM",
      static_cast<unsigned long long>(device->earlyPolls()));
  STDFUFILES_DestroyImage(&image);
  STDFUPRT_DestroyMapping(&mapping);
  return 0;
}
