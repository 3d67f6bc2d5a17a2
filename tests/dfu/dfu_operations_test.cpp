// Background operations on the simulated device: a whole flash leaves exactly the package's
// bytes, every fault ends in its error code, never a hang, and the requests follow the
// device's state machine.
#include <gtest/gtest.h>

#include "dfu/dfuse/dfu_descriptors.h"
#include "dfu/dfuse/dfu_image.h"
#include "dfu/dfuse/dfu_session.h"
#include "operation_runner.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"
#include "support/thread_refusal.h"
#include "with_option.h"

using testsupport::Pattern;
using testsupport::SimDfuOptions;

namespace {

struct Flashing {
  testsupport::SimUsbBus bus;
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
  // Runs `operation` to its end on the image prepared for it; the prepared copy goes to `out`.
  OperationContext Step(uint32_t operation, DfuImageHandle* out = nullptr) {
    DfuImageHandle prepared = dfutest::Prepared(image, mapping[0], operation);
    OperationContext ctx = dfutest::Run(path, operation, prepared);
    if (out)
      *out = prepared;
    else
      STDFUFILES_DestroyImage(&prepared);
    return ctx;
  }
  std::vector<uint8_t> Flash(uint32_t address, uint32_t size) const {
    std::vector<uint8_t> bytes;
    device->Read(address, size, &bytes);
    return bytes;
  }
};

}  // namespace

TEST(DfuOperations, EraseDownloadUploadLeavesExactlyThePackageInFlash) {
  Flashing f;
  ASSERT_NE(nullptr, f.mapping);
  ASSERT_EQ(2u, f.targets);
  f.device->Fill(0x08000000, std::vector<uint8_t>(0x50000, 0x5A));  // old firmware
  // One element across the four 16 KiB sectors into the 64 KiB one with a short last block,
  // one small in the first 128 KiB sector.
  const std::vector<uint8_t> a = Pattern(0x10000 + 1000, 7), b = Pattern(300, 8);
  f.AddElement(0x08000000, a);
  f.AddElement(0x08020010, b);

  OperationContext erase = f.Step(kOperationErase);
  EXPECT_EQ(STDFU_NOERROR, erase.errorCode);
  EXPECT_EQ(100, erase.percent);
  EXPECT_EQ(6u, f.device->sectorErases());
  OperationContext download = f.Step(kOperationDownload);
  EXPECT_EQ(STDFU_NOERROR, download.errorCode);
  EXPECT_EQ(100, download.percent);
  EXPECT_EQ(a, f.Flash(0x08000000, static_cast<uint32_t>(a.size())));
  EXPECT_EQ(b, f.Flash(0x08020010, 300));
  // Erased but unwritten bytes read 0xFF; sectors the package does not touch keep theirs.
  EXPECT_EQ(std::vector<uint8_t>(4, 0xFF),
            f.Flash(0x08000000 + static_cast<uint32_t>(a.size()), 4));
  EXPECT_EQ(std::vector<uint8_t>(16, 0xFF), f.Flash(0x08020000, 16));
  EXPECT_EQ(std::vector<uint8_t>(4, 0x5A), f.Flash(0x08040000, 4));

  DfuImageHandle readBack = nullptr;
  EXPECT_EQ(STDFU_NOERROR, f.Step(kOperationUpload, &readBack).errorCode);
  ASSERT_EQ(2u, readBack->data.elements.size());
  EXPECT_EQ(a, readBack->data.elements[0].data);
  EXPECT_EQ(b, readBack->data.elements[1].data);
  STDFUFILES_DestroyImage(&readBack);
  EXPECT_EQ(0, f.bus.openDevices());
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
  EXPECT_EQ(data, f.Flash(0x08004000, 5000));
  EXPECT_EQ(0u, f.device->earlyPolls());  // every poll time-out waited out
}

// Each fault and device quirk: the operation's error code, the device's last state and status
// where it reports one, and what the device did. The leave is a zero-length download as block
// 2 after the address pointer was set: the boot loader ignores its block, a firmware that
// decodes block 0 as a command would not manifest.
TEST(DfuOperations, EachFaultEndsWithItsErrorCode) {
  const struct Case {
    const char* name;
    SimDfuOptions device;
    uint32_t operation;
    uint32_t error;
    int state = -1, status = -1;  // the device's last, when it reported one
    uint32_t address = 0x08000000;
    bool written = false;  // flash already holds data at the address
    bool erasedFirst = false;
  } cases[] = {
      {"read protected upload", dfutest::With(&SimDfuOptions::readProtected, true),
       kOperationUpload, STDFUPRT_DEVICEERROR, 10, 0x0B},
      {"read protected erase", dfutest::With(&SimDfuOptions::readProtected, true), kOperationErase,
       STDFUPRT_DEVICEERROR},
      {"download on written flash", SimDfuOptions(), kOperationDownload, STDFUPRT_DEVICEERROR, 10,
       0x06, 0x08000000, true},
      {"unplug in the download", dfutest::With(&SimDfuOptions::unplugAfterBytes, 8192),
       kOperationDownload, STDFUPRT_DEVICELOST, -1, -1, 0x08000000, false, true},
      {"cannot upload", dfutest::With(&SimDfuOptions::attributes, 0x09), kOperationUpload,
       STDFUPRT_UNSUPPORTED},
      {"stalls everything", dfutest::With(&SimDfuOptions::stallsEverything, true), kOperationErase,
       STDFUPRT_REQUESTFAILED},
      {"element outside the mapping", SimDfuOptions(), kOperationDownload, STDFUPRT_ADDRESSOUTOFMAP,
       -1, -1, 0x20000000},
      {"leave", SimDfuOptions(), kOperationLeave, STDFU_NOERROR},
      {"leave, block 0 decoded first", dfutest::With(&SimDfuOptions::decodesBlockFirst, true),
       kOperationLeave, STDFU_NOERROR},
      {"leave by a reset", dfutest::With(&SimDfuOptions::resetsOnLeave, true), kOperationLeave,
       STDFU_NOERROR},
      {"detach", SimDfuOptions(), kOperationDetach, STDFU_NOERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Flashing f(c.device);
    const uint32_t size = c.erasedFirst ? 40000 : 64;
    if (c.written) f.device->Fill(c.address, std::vector<uint8_t>(size, 0x00));
    f.AddElement(c.address, Pattern(size, 11));
    if (c.erasedFirst) {
      ASSERT_EQ(STDFU_NOERROR, f.Step(kOperationErase).errorCode);
    }
    OperationContext ctx = f.Step(c.operation);
    EXPECT_EQ(c.error, ctx.errorCode);
    EXPECT_TRUE(c.state < 0 || ctx.lastState == static_cast<uint32_t>(c.state)) << ctx.lastState;
    EXPECT_TRUE(c.status < 0 || ctx.lastStatus == static_cast<uint32_t>(c.status))
        << ctx.lastStatus;
    EXPECT_TRUE(c.error == STDFU_NOERROR || ctx.percent < 100) << ctx.percent;
    EXPECT_TRUE(!c.erasedFirst || ctx.percent > 0) << ctx.percent;  // progress until lost
    EXPECT_EQ(c.operation == kOperationLeave, f.device->left());
    EXPECT_EQ(c.operation == kOperationLeave ? 2 : -1, f.device->leaveBlock());
    EXPECT_TRUE(c.operation != kOperationDetach || f.device->gone());
    EXPECT_EQ(0, f.bus.openDevices());
  }
  Flashing f;  // the device went away before the operation
  f.AddElement(0x08000000, Pattern(10, 17));
  f.path = "SIM#DEV7#IF00#{3fe809ab-fb91-4cb5-a643-69670d52366e}";
  EXPECT_EQ(STDFUPRT_OPENERROR, f.Step(kOperationErase).errorCode);
}

// A worker thread the system refuses is a failed launch, not an exception out of the library:
// nothing reaches the device and the handle names no operation. A launched erase that stays
// busy reports its progress and ends on a stop; its handle is then unknown.
TEST(DfuOperations, LaunchStatusAndStopKeepTheHandlesStraight) {
  SimDfuOptions o;
  o.longEraseExtraPolls = 1000000;
  o.erasePollMs = 50;
  Flashing f(o);
  ASSERT_NE(nullptr, f.mapping);
  f.AddElement(0x08000000, Pattern(64, 18));
  DfuImageHandle prepared = dfutest::Prepared(f.image, f.mapping[0], kOperationErase);
  OperationContext ctx = dfutest::Context(f.path, kOperationErase, prepared);
  DfuOperationHandle handle = 1234;
  OperationContext now;
  const uint64_t transfers = f.device->controlTransfers();
  {
    testsupport::ThreadRefusal refusal;
    ASSERT_TRUE(refusal.active());
    EXPECT_EQ(STDFUPRT_NOTHREAD, STDFUPRT_LaunchOperation(&ctx, &handle));
  }
  EXPECT_EQ(0u, handle);
  EXPECT_EQ(transfers, f.device->controlTransfers());
  EXPECT_EQ(STDFUPRT_BADHANDLE, STDFUPRT_GetOperationStatus(handle, &now));
  EXPECT_EQ(0, f.bus.openDevices());

  ASSERT_EQ(STDFU_NOERROR, STDFUPRT_LaunchOperation(&ctx, &handle));
  const uint64_t end = platform::NowMs() + 20000;  // into the erase's busy polls
  while (f.device->controlTransfers() < transfers + 8 && platform::NowMs() < end)
    platform::SleepMs(2);
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
  testsupport::SimUsbBus bus;
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
  // A device unplugged during the read back is reported lost, not as a short read.
  device->Unplug();
  EXPECT_EQ(STDFUPRT_DEVICELOST, DfuSession(d, nullptr).UploadBlock(list, sizeof list, 2));
  STDFU_Close(&d);
  EXPECT_EQ(nullptr, d);
  EXPECT_EQ(STDFU_BADPARAMETER, STDFU_Getstatus(d, &status));
}

// The configuration descriptor comes from the device: a descriptor that claims more bytes than
// there are, or none, is refused rather than read past or looped on.
TEST(DfuOperations, ConfigurationDescriptorsThatLieAreRefused) {
  const std::vector<uint8_t> good = {9, 2,    27,   0,    1, 1,    0, 0x80, 50,  // configuration
                                     9, 4,    0,    0,    0, 0xFE, 1, 2,    4,   // DFU interface
                                     9, 0x21, 0x0B, 0xFF, 0, 0,    8, 0x1A, 1};  // functional
  DfuConfigInfo info;
  ASSERT_TRUE(ParseDfuConfig(good.data(), good.size(), &info));
  EXPECT_TRUE(info.hasFunctional);
  EXPECT_EQ(2048, DfuTransferSize(info.functional));
  for (size_t cut : {good.size() - 1, size_t{20}}) {
    std::vector<uint8_t> shortened(good.begin(), good.begin() + cut);
    ASSERT_FALSE(ParseDfuConfig(shortened.data(), shortened.size(), &info)) << cut;
  }
  std::vector<uint8_t> empty = good;
  empty[9] = 0;  // a descriptor of length 0
  EXPECT_FALSE(ParseDfuConfig(empty.data(), empty.size(), &info));
}
