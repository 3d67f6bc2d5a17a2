// The WinUSB backend against a mock of winusb.dll's calls (wine's winusb.dll ends the process
// when called). The mock relays to the simulated DFU device, so a whole flash runs through the
// backend's descriptor, time-out and transfer logic.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "dfu/dfuse/stdfu.h"
#include "operation_runner.h"
#include "platform/win32/winusb_api.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"

namespace {

struct MockState {
  std::shared_ptr<testsupport::SimDfuDevice> device;
  int initializes = 0;
  int frees = 0;
  bool failInitialize = false;
  DWORD failTransferWith = 0;  // a GetLastError value for the next control transfer
  ULONG timeoutMs = 0;
  std::vector<WINUSB_SETUP_PACKET> setups;
};
MockState* g_mock = nullptr;
int g_handleTag = 0;

BOOL WINAPI MockInitialize(HANDLE, PWINUSB_INTERFACE_HANDLE out) {
  ++g_mock->initializes;
  if (g_mock->failInitialize) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  *out = &g_handleTag;
  return TRUE;
}

BOOL WINAPI MockFree(WINUSB_INTERFACE_HANDLE handle) {
  if (handle == &g_handleTag) ++g_mock->frees;
  return TRUE;
}

BOOL WINAPI MockGetDescriptor(WINUSB_INTERFACE_HANDLE, UCHAR type, UCHAR index, USHORT language,
                              PUCHAR buffer, ULONG length, PULONG transferred) {
  std::vector<uint8_t> bytes;
  if (type == 1) {
    bytes.resize(18);
    g_mock->device->DeviceDescriptor(bytes.data());
  } else if (type == 2) {
    bytes = g_mock->device->ConfigDescriptor();
  } else if (type == 3 && language == 0x0409) {
    std::string text;
    if (g_mock->device->StringDescriptor(index, &text) != 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    bytes = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
      bytes.push_back(static_cast<uint8_t>(c));
      bytes.push_back(0);
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONG n = length < bytes.size() ? length : static_cast<ULONG>(bytes.size());
  memcpy(buffer, bytes.data(), n);
  *transferred = n;
  return TRUE;
}

BOOL WINAPI MockSetAlternate(WINUSB_INTERFACE_HANDLE, UCHAR alternate) {
  if (g_mock->device->SetAlt(alternate) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI MockSetPipePolicy(WINUSB_INTERFACE_HANDLE, UCHAR pipe, ULONG policy, ULONG length,
                              PVOID value) {
  if (pipe != 0 || policy != PIPE_TRANSFER_TIMEOUT || length != sizeof(ULONG)) return FALSE;
  g_mock->timeoutMs = *static_cast<ULONG*>(value);
  return TRUE;
}

BOOL WINAPI MockControlTransfer(WINUSB_INTERFACE_HANDLE, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                                ULONG length, PULONG transferred, LPOVERLAPPED) {
  g_mock->setups.push_back(setup);
  if (g_mock->failTransferWith) {
    SetLastError(g_mock->failTransferWith);
    g_mock->failTransferWith = 0;
    return FALSE;
  }
  int rc = g_mock->device->Control(setup.RequestType, setup.Request, setup.Value, setup.Index,
                                   buffer, static_cast<uint16_t>(length));
  if (rc < 0) {
    SetLastError(rc == platform::kUsbErrNoDevice ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
    return FALSE;
  }
  *transferred = static_cast<ULONG>(rc);
  return TRUE;
}

const platform::WinUsbApi kMockApi = {MockInitialize,   MockFree,          MockGetDescriptor,
                                      MockSetAlternate, MockSetPipePolicy, MockControlTransfer};

// A USB host whose single device is opened through the WinUSB backend and the mock.
class MockWinUsbHost : public platform::UsbHost {
 public:
  MockWinUsbHost() { platform::SetUsbHostForTesting(this); }
  ~MockWinUsbHost() override { platform::SetUsbHostForTesting(nullptr); }
  int ListInterfaces(std::vector<platform::UsbInterfaceInfo>* out) override {
    platform::UsbInterfaceInfo info;
    info.path = "\\\\?\\usb#vid_0483&pid_df11#winusb#{00000000-0000-0000-0000-000000000000}";
    info.interfaceClass = 0xFE;
    info.interfaceSubClass = 1;
    info.interfaceProtocol = 2;
    out->assign(1, info);
    return platform::kUsbOk;
  }
  int Open(const std::string&, std::unique_ptr<platform::UsbDevice>* out) override {
    lastFile = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return platform::OpenWinUsbDevice(kMockApi, lastFile, out);
  }
  HANDLE lastFile = nullptr;
};

bool HandleIsOpen(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != FALSE;
}

}  // namespace

TEST(WinUsbBackend, FlashesThroughTheMockedWinUsbCalls) {
  MockState state;
  state.device = std::make_shared<testsupport::SimDfuDevice>();
  g_mock = &state;
  MockWinUsbHost host;

  const std::string path = dfutest::FirstDfuPath();
  ASSERT_FALSE(path.empty());
  DfuMappingEntry* mapping = nullptr;
  uint32_t targets = 0;
  ASSERT_EQ(STDFU_NOERROR, STDFUPRT_CreateMappingFromDevice(path.c_str(), &mapping, &targets));
  ASSERT_EQ(2u, targets);
  EXPECT_EQ("Option Bytes  ", mapping[1].name);
  EXPECT_EQ(12u, mapping[0].sectorCount);

  DfuImageHandle image = nullptr;
  STDFUFILES_CreateImage(&image, 0);
  std::vector<uint8_t> data = testsupport::Pattern(5000, 21);
  DfuElement e;
  e.dwAddress = 0x08000000;
  e.dwDataLength = 5000;
  e.Data = data.data();
  STDFUFILES_AppendImageElement(image, &e);
  for (uint32_t op : {kOperationErase, kOperationDownload}) {
    DfuImageHandle prepared = dfutest::Prepared(image, mapping[0], op);
    EXPECT_EQ(STDFU_NOERROR, dfutest::Run(path, op, prepared).errorCode) << op;
    STDFUFILES_DestroyImage(&prepared);
  }
  std::vector<uint8_t> flash;
  ASSERT_TRUE(state.device->Read(0x08000000, 5000, &flash));
  EXPECT_EQ(data, flash);
  // Every class request went to interface 0 with the bounded time-out; each open was freed
  // and its file closed.
  ASSERT_FALSE(state.setups.empty());
  for (const WINUSB_SETUP_PACKET& s : state.setups) EXPECT_EQ(0, s.Index);
  EXPECT_EQ(static_cast<ULONG>(kDfuRequestTimeoutMs), state.timeoutMs);
  EXPECT_EQ(state.initializes, state.frees);
  EXPECT_FALSE(HandleIsOpen(host.lastFile));
  STDFUFILES_DestroyImage(&image);
  STDFUPRT_DestroyMapping(&mapping);
  g_mock = nullptr;
}

TEST(WinUsbBackend, SystemErrorsBecomeUsbResults) {
  MockState state;
  state.device = std::make_shared<testsupport::SimDfuDevice>();
  g_mock = &state;
  MockWinUsbHost host;
  std::unique_ptr<platform::UsbDevice> dev;
  ASSERT_EQ(platform::kUsbOk, host.Open("", &dev));
  uint8_t status[6];
  const struct {
    DWORD error;
    int result;
  } cases[] = {{ERROR_SEM_TIMEOUT, platform::kUsbErrTimeout},
               {ERROR_GEN_FAILURE, platform::kUsbErrStall},
               {ERROR_DEVICE_NOT_CONNECTED, platform::kUsbErrNoDevice},
               {ERROR_ACCESS_DENIED, platform::kUsbErrIo}};
  for (const auto& c : cases) {
    state.failTransferWith = c.error;
    EXPECT_EQ(c.result, dev->ControlTransfer(0xA1, 3, 0, 0, status, 6, 1234)) << c.error;
  }
  EXPECT_EQ(1234u, state.timeoutMs);
  EXPECT_EQ(6, dev->ControlTransfer(0xA1, 3, 0, 0, status, 6, 1234));
  uint8_t descriptor[18];
  ASSERT_EQ(platform::kUsbOk, dev->GetDeviceDescriptor(descriptor));
  EXPECT_EQ(0x83, descriptor[8]);
  EXPECT_EQ(0xDF, descriptor[11]);
  std::string text;
  ASSERT_EQ(platform::kUsbOk, dev->GetStringDescriptor(2, &text, 100));
  EXPECT_EQ("STM32  BOOTLOADER", text);
  dev.reset();
  EXPECT_EQ(1, state.frees);

  // A failed WinUSB initialisation closes the file and reports the driver missing.
  state.failInitialize = true;
  EXPECT_EQ(platform::kUsbErrUnsupported, host.Open("", &dev));
  EXPECT_FALSE(HandleIsOpen(host.lastFile));
  g_mock = nullptr;
}
