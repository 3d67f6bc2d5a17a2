// Background operations on the simulated device: a whole flash leaves exactly the package's
// bytes, and every fault mode ends in an error code, never a hang.
#include <gtest/gtest.h>

#include "dfu/dfuse/dfu_image.h"
#include "operation_runner.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"
#include "support/thread_refusal.h"

using dfutest::Prepared;
using dfutest::Run;
using testsupport::Pattern;
using testsupport::SimDfuOptions;
using testsupport::SimUsbBus;

namespace {

struct Flashing {
  SimUsbBus bus;
  std::shared_ptr<testsupport::SimDfuDevice> device;
  std::string path;
  DfuMappingEntry* mapping = nullptr;
  uint32_t targets = 0;
  DfuImageHandle image = nullptr;

  explicit Flashing(const SimDfuOptions& options = SimDfuOptions()) {
    device = bus.Add(options);
    path = dfutest::FirstDfuPath();
    if (!path.empty()) STDFUPRT_CreateMappingFromDevice(path.c_str(), &mapping, &targets);
    STDFUFILES_CreateImage(&image, 0);
  }
  ~Flashing() {
    STDFUFILES_DestroyImage(&image);
    if (mapping) STDFUPRT_DestroyMapping(&mapping);
  }
  void AddElement(uint32_t address, std::vector<uint8_t> data) {
    DfuElement e;
    e.dwAddress = address;
    e.dwDataLength = static_cast<uint32_t>(data.size());
    e.Data = data.data();
    STDFUFILES_AppendImageElement(image, &e);
  }
  // A context for launching `operation` on this device by hand.
  OperationContext Context(uint32_t operation, DfuImageHandle prepared) const {
    OperationContext ctx;
    ctx.operation = operation;
    ctx.image = prepared;
    std::strncpy(ctx.devicePath, path.c_str(), sizeof ctx.devicePath - 1);
    return ctx;
  }
  OperationContext Step(uint32_t operation, DfuImageHandle* out = nullptr) {
    DfuImageHandle prepared = Prepared(image, mapping[0], operation);
    OperationContext ctx = Run(path, operation, prepared);
    if (out)
      *out = prepared;
    else
      STDFUFILES_DestroyImage(&prepared);
    return ctx;
  }
};

}  // namespace

TEST(DfuOperations, EraseDownloadUploadLeavesExactlyThePackageInFlash) {
  Flashing f;
  ASSERT_NE(nullptr, f.mapping);
  ASSERT_EQ(2u, f.targets);
  // Old firmware everywhere the package goes, and beyond it.
  f.device->Fill(0x08000000, std::vector<uint8_t>(0x50000, 0x5A));
  // Two elements: one across the first four 16 KiB sectors and into the 64 KiB one with a
  // short last block, one small in the first 128 KiB sector.
  const std::vector<uint8_t> a = Pattern(0x10000 + 1000, 7), b = Pattern(300, 8);
  f.AddElement(0x08000000, a);
  f.AddElement(0x08020010, b);

  OperationContext erase = f.Step(kOperationErase);
  EXPECT_EQ(STDFU_NOERROR, erase.errorCode);
  EXPECT_EQ(100, erase.percent);
  EXPECT_EQ(6u, f.device->sectorErases());  // 4 x 16K, the 64K, the first 128K

  OperationContext download = f.Step(kOperationDownload);
  EXPECT_EQ(STDFU_NOERROR, download.errorCode);
  EXPECT_EQ(100, download.percent);

  std::vector<uint8_t> flash;
  ASSERT_TRUE(f.device->Read(0x08000000, static_cast<uint32_t>(a.size()), &flash));
  EXPECT_EQ(a, flash);
  ASSERT_TRUE(f.device->Read(0x08020010, 300, &flash));
  EXPECT_EQ(b, flash);
  // Erased but unwritten bytes read 0xFF; sectors the package does not touch keep their bytes.
  ASSERT_TRUE(f.device->Read(0x08000000 + static_cast<uint32_t>(a.size()), 4, &flash));
  EXPECT_EQ(std::vector<uint8_t>(4, 0xFF), flash);
  ASSERT_TRUE(f.device->Read(0x08020000, 16, &flash));
  EXPECT_EQ(std::vector<uint8_t>(16, 0xFF), flash);
  ASSERT_TRUE(f.device->Read(0x08040000, 4, &flash));
  EXPECT_EQ(std::vector<uint8_t>(4, 0x5A), flash);

  DfuImageHandle readBack = nullptr;
  OperationContext upload = f.Step(kOperationUpload, &readBack);
  EXPECT_EQ(STDFU_NOERROR, upload.errorCode);
  ASSERT_EQ(2u, readBack->data.elements.size());
  EXPECT_EQ(a, readBack->data.elements[0].data);
  EXPECT_EQ(b, readBack->data.elements[1].data);
  STDFUFILES_DestroyImage(&readBack);

  OperationContext leave = f.Step(kOperationLeave);
  EXPECT_EQ(STDFU_NOERROR, leave.errorCode);
  EXPECT_TRUE(f.device->left());
  EXPECT_EQ(0, f.bus.openDevices());
}

TEST(DfuOperations, DownloadWithoutEraseFailsOnWrittenFlash) {
  Flashing f;
  f.device->Fill(0x08000000, std::vector<uint8_t>(64, 0x00));
  f.AddElement(0x08000000, Pattern(64, 9));
  OperationContext ctx = f.Step(kOperationDownload);
  EXPECT_EQ(STDFUPRT_DEVICEERROR, ctx.errorCode);
  EXPECT_EQ(0x06u, ctx.lastStatus);  // errPROG
  EXPECT_EQ(10u, ctx.lastState);
  EXPECT_LT(ctx.percent, 100);
}

TEST(DfuOperations, AwkwardDevicesStillFlash) {
  SimDfuOptions o;
  o.startInError = true;          // cleared first
  o.stallStatusAfterCommand = 2;  // status requests stalled twice after each request
  o.longEraseExtraPolls = 5;      // an erase that stays busy
  o.erasePollMs = 3;
  o.transferSize = 1024;  // read from the device, not assumed
  Flashing f(o);
  const std::vector<uint8_t> data = Pattern(5000, 10);
  f.AddElement(0x08004000, data);
  EXPECT_EQ(STDFU_NOERROR, f.Step(kOperationErase).errorCode);
  EXPECT_EQ(STDFU_NOERROR, f.Step(kOperationDownload).errorCode);
  std::vector<uint8_t> flash;
  ASSERT_TRUE(f.device->Read(0x08004000, 5000, &flash));
  EXPECT_EQ(data, flash);
  // The host waited out every poll time-out instead of asking early.
  EXPECT_EQ(0u, f.device->earlyPolls());
}

TEST(DfuOperations, EveryFaultEndsWithAnErrorCode) {
  {
    SimDfuOptions o;
    o.readProtected = true;
    Flashing f(o);
    f.AddElement(0x08000000, Pattern(100, 11));
    OperationContext up = f.Step(kOperationUpload);
    EXPECT_EQ(STDFUPRT_DEVICEERROR, up.errorCode);
    EXPECT_EQ(10u, up.lastState);
    EXPECT_EQ(0x0Bu, up.lastStatus);  // errVENDOR
    EXPECT_EQ(STDFUPRT_DEVICEERROR, f.Step(kOperationErase).errorCode);
  }
  {
    SimDfuOptions o;
    o.unplugAfterBytes = 8192;
    Flashing f(o);
    f.AddElement(0x08000000, Pattern(40000, 12));
    EXPECT_EQ(STDFU_NOERROR, f.Step(kOperationErase).errorCode);
    OperationContext down = f.Step(kOperationDownload);
    EXPECT_EQ(STDFUPRT_DEVICELOST, down.errorCode);
    EXPECT_GT(down.percent, 0);
    EXPECT_LT(down.percent, 100);
  }
  {
    SimDfuOptions o;
    o.resetsOnLeave = true;  // counts as having left
    Flashing f(o);
    EXPECT_EQ(STDFU_NOERROR, f.Step(kOperationLeave).errorCode);
    EXPECT_TRUE(f.device->left());
  }
  {
    SimDfuOptions o;
    o.dfuseCommands = false;  // plain DFU firmware: no erase command
    Flashing f(o);
    f.AddElement(0x08000000, Pattern(10, 13));
    EXPECT_EQ(STDFUPRT_UNSUPPORTED, f.Step(kOperationErase).errorCode);
  }
  {
    SimDfuOptions o;
    o.attributes = 0x09;  // cannot upload
    Flashing f(o);
    f.AddElement(0x08000000, Pattern(10, 14));
    EXPECT_EQ(STDFUPRT_UNSUPPORTED, f.Step(kOperationUpload).errorCode);
  }
  {
    SimDfuOptions o;
    o.stallsEverything = true;
    Flashing f(o);
    f.AddElement(0x08000000, Pattern(10, 15));
    EXPECT_EQ(STDFUPRT_REQUESTFAILED, f.Step(kOperationErase).errorCode);
  }
  {
    Flashing f;  // an element outside the mapping
    f.AddElement(0x20000000, Pattern(10, 16));
    EXPECT_EQ(STDFUPRT_ADDRESSOUTOFMAP, f.Step(kOperationDownload).errorCode);
  }
  {
    Flashing f;  // device unplugged before the operation
    f.AddElement(0x08000000, Pattern(10, 17));
    std::string path = f.path;
    f.path = "SIM#DEV7#IF00#{3fe809ab-fb91-4cb5-a643-69670d52366e}";
    EXPECT_EQ(STDFUPRT_OPENERROR, f.Step(kOperationErase).errorCode);
  }
}

// The leave request is a zero-length download in the data space (block 2), after the address
// pointer was set to the target's start: both the boot loader, which ignores the block of a
// zero-length download, and a firmware that decodes block 0 as a command then manifest.
TEST(DfuOperations, LeaveIsAZeroLengthDownloadAsBlockTwo) {
  for (bool decodesBlockFirst : {false, true}) {
    SimDfuOptions o;
    o.decodesBlockFirst = decodesBlockFirst;
    Flashing f(o);
    OperationContext leave = f.Step(kOperationLeave);
    EXPECT_EQ(STDFU_NOERROR, leave.errorCode) << decodesBlockFirst;
    EXPECT_EQ(2, f.device->leaveBlock()) << decodesBlockFirst;
    EXPECT_TRUE(f.device->left()) << decodesBlockFirst;
    EXPECT_EQ(0, f.bus.openDevices());
  }
}

// A worker thread the system refuses is a failed launch, not an exception out of the library;
// nothing reached the device and the handle names no operation.
TEST(DfuOperations, LaunchWithoutAWorkerThreadFailsCleanly) {
  Flashing f;
  ASSERT_NE(nullptr, f.mapping);
  f.AddElement(0x08000000, Pattern(64, 18));
  DfuImageHandle prepared = Prepared(f.image, f.mapping[0], kOperationErase);
  OperationContext ctx = f.Context(kOperationErase, prepared);
  const uint64_t transfers = f.device->controlTransfers();
  DfuOperationHandle handle = 1234;
  {
    testsupport::ThreadRefusal refusal;
    ASSERT_TRUE(refusal.active());
    EXPECT_EQ(STDFUPRT_NOTHREAD, STDFUPRT_LaunchOperation(&ctx, &handle));
  }
  EXPECT_EQ(0u, handle);
  EXPECT_EQ(transfers, f.device->controlTransfers());
  OperationContext status;
  EXPECT_EQ(STDFUPRT_BADHANDLE, STDFUPRT_GetOperationStatus(handle, &status));
  EXPECT_EQ(0, f.bus.openDevices());
  // Once threads can be had again the same operation runs.
  EXPECT_EQ(STDFU_NOERROR, dfutest::Run(f.path, kOperationErase, prepared).errorCode);
  STDFUFILES_DestroyImage(&prepared);
}

TEST(DfuOperations, StopEndsALongEraseAndStatusOfUnknownHandleFails) {
  SimDfuOptions o;
  o.longEraseExtraPolls = 1000000;
  o.erasePollMs = 50;
  Flashing f(o);
  f.AddElement(0x08000000, Pattern(10, 18));
  DfuImageHandle prepared = Prepared(f.image, f.mapping[0], kOperationErase);
  OperationContext ctx = f.Context(kOperationErase, prepared);
  DfuOperationHandle handle = 0;
  ASSERT_EQ(STDFU_NOERROR, STDFUPRT_LaunchOperation(&ctx, &handle));
  platform::SleepMs(100);
  OperationContext now;
  ASSERT_EQ(STDFU_NOERROR, STDFUPRT_GetOperationStatus(handle, &now));
  EXPECT_EQ(STDFU_NOERROR, now.errorCode);
  EXPECT_LT(now.percent, 100);
  ASSERT_EQ(STDFU_NOERROR, STDFUPRT_StopOperation(handle, &ctx));
  EXPECT_EQ(STDFUPRT_STOPPED, ctx.errorCode);
  EXPECT_EQ(STDFUPRT_BADHANDLE, STDFUPRT_GetOperationStatus(handle, &now));
  EXPECT_EQ(STDFUPRT_BADHANDLE, STDFUPRT_StopOperation(handle, &now));
  STDFUFILES_DestroyImage(&prepared);
  EXPECT_EQ(0, f.bus.openDevices());
}

TEST(DfuOperations, RequestsFollowTheDeviceStateMachine) {
  SimUsbBus bus;
  auto device = bus.Add();
  DfuDeviceHandle d = nullptr;
  ASSERT_EQ(STDFU_NOERROR, STDFU_Open(dfutest::FirstDfuPath().c_str(), &d));
  uint8_t state = 0;
  ASSERT_EQ(STDFU_NOERROR, STDFU_Getstate(d, &state));
  EXPECT_EQ(kDfuIdle, state);
  // CLRSTATUS outside dfuERROR is refused and leaves the device in dfuERROR.
  EXPECT_EQ(STDFU_REQUESTSTALLED, STDFU_Clrstatus(d));
  DfuStatus status;
  ASSERT_EQ(STDFU_NOERROR, STDFU_Getstatus(d, &status));
  EXPECT_EQ(kDfuError, status.bState);
  EXPECT_EQ(0x0F, status.bStatus);  // errSTALLEDPKT
  EXPECT_EQ(STDFU_NOERROR, STDFU_Clrstatus(d));
  // The command list comes back on block 0, then ABORT returns to idle.
  uint8_t list[8] = {};
  uint32_t received = 0;
  ASSERT_EQ(STDFU_NOERROR, STDFU_Upload(d, list, sizeof list, 0, &received));
  EXPECT_EQ(4u, received);
  EXPECT_EQ(0x41, list[2]);
  EXPECT_EQ(STDFU_NOERROR, STDFU_Abort(d));
  ASSERT_EQ(STDFU_NOERROR, STDFU_Getstate(d, &state));
  EXPECT_EQ(kDfuIdle, state);
  EXPECT_EQ(STDFU_BADPARAMETER, STDFU_Dnload(d, nullptr, 4, 2));
  STDFU_Close(&d);
  EXPECT_EQ(nullptr, d);
  EXPECT_EQ(STDFU_BADPARAMETER, STDFU_Getstatus(d, &status));
}

TEST(DfuOperations, DetachResetsTheDevice) {
  Flashing f;
  EXPECT_EQ(STDFU_NOERROR, f.Step(kOperationDetach).errorCode);
  EXPECT_TRUE(f.device->gone());
}
