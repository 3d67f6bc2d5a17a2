// The WinUSB backend against a mock of winusb.dll's calls (wine's winusb.dll ends the process
// when called). The mock relays to the simulated DFU device, so a whole flash runs through the
// backend's descriptor, time-out and transfer logic.
#include <gtest/gtest.h>
#include <windows.h>
// setupapi.h needs windows.h first.
#include <setupapi.h>

#include <cctype>
#include <string>
#include <vector>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfu.h"
#include "log_capture.h"
#include "operation_runner.h"
#include "platform/win32/winusb_api.h"
#include "support/dfu_packages.h"
#include "support/sim_dfu_device.h"

namespace {

struct MockState {
  std::shared_ptr<testsupport::SimDfuDevice> device;
  int initializes = 0;
  int frees = 0;
  int liveHandles = 0;  // WinUSB keeps a device to one: a second open is refused
  int refusedOpens = 0;
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
  if (g_mock->liveHandles > 0) {
    ++g_mock->refusedOpens;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  ++g_mock->liveHandles;
  *out = &g_handleTag;
  return TRUE;
}

BOOL WINAPI MockFree(WINUSB_INTERFACE_HANDLE handle) {
  if (handle == &g_handleTag) {
    ++g_mock->frees;
    --g_mock->liveHandles;
  }
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

// WinUSB keeps a device to one open: selecting it must map it through the handle it holds.
// Then a flash through the backend: every class request to interface 0 with the bounded
// time-out, every open freed and its file closed.
TEST(WinUsbBackend, SelectsAndFlashesThroughTheMockedCalls) {
  MockState state;
  state.device = std::make_shared<testsupport::SimDfuDevice>();
  g_mock = &state;
  MockWinUsbHost host;
  dfutest::LogCapture log;
  DFUpgradeDialog dialog;
  ASSERT_TRUE(dialog.FindDfuDevices());
  ASSERT_TRUE(dialog.SelectDevice());
  EXPECT_EQ(0, state.refusedOpens);
  EXPECT_FALSE(log.Has("Bad Firmware")) << log.Text();
  ASSERT_EQ(2u, dialog.m_TargetCount);
  EXPECT_EQ("Option Bytes  ", dialog.m_Mapping[1].name);
  EXPECT_EQ(12u, dialog.m_Mapping[0].sectorCount);
  EXPECT_EQ("DF11", dialog.m_DevicePid);  // from the device descriptor

  DfuImageHandle image = nullptr;
  STDFUFILES_CreateImage(&image, 0);
  std::vector<uint8_t> data = testsupport::Pattern(5000, 21);
  DfuElement e;
  e.dwAddress = 0x08000000;
  e.dwDataLength = 5000;
  e.Data = data.data();
  STDFUFILES_AppendImageElement(image, &e);
  for (uint32_t op : {kOperationErase, kOperationDownload}) {
    DfuImageHandle prepared = dfutest::Prepared(image, dialog.m_Mapping[0], op);
    EXPECT_EQ(STDFU_NOERROR, dfutest::Run(dialog.m_DeviceLink, op, prepared).errorCode) << op;
    STDFUFILES_DestroyImage(&prepared);
  }
  STDFUFILES_DestroyImage(&image);
  std::vector<uint8_t> flash;
  ASSERT_TRUE(state.device->Read(0x08000000, 5000, &flash));
  EXPECT_EQ(data, flash);
  ASSERT_FALSE(state.setups.empty());
  for (const WINUSB_SETUP_PACKET& s : state.setups) EXPECT_EQ(0, s.Index);
  EXPECT_EQ(static_cast<ULONG>(kDfuRequestTimeoutMs), state.timeoutMs);
  EXPECT_EQ(state.initializes, state.frees);
  EXPECT_EQ(0, state.refusedOpens);
  EXPECT_FALSE(HandleIsOpen(host.lastFile));
  g_mock = nullptr;
}

// System errors become the portable results; a second open reads as a busy device; a failed
// WinUSB initialisation closes the file and reports the driver missing.
TEST(WinUsbBackend, SystemErrorsBecomeUsbResults) {
  MockState state;
  state.device = std::make_shared<testsupport::SimDfuDevice>();
  g_mock = &state;
  MockWinUsbHost host;
  std::unique_ptr<platform::UsbDevice> dev, second;
  ASSERT_EQ(platform::kUsbOk, host.Open("", &dev));
  EXPECT_EQ(platform::kUsbErrBusy, host.Open("", &second));
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
  std::string text;
  ASSERT_EQ(platform::kUsbOk, dev->GetStringDescriptor(2, &text, 100));
  EXPECT_EQ("STM32  BOOTLOADER", text);  // UTF-16LE decoded
  dev.reset();
  EXPECT_EQ(1, state.frees);
  state.failInitialize = true;
  EXPECT_EQ(platform::kUsbErrUnsupported, host.Open("", &dev));
  EXPECT_FALSE(HandleIsOpen(host.lastFile));
  g_mock = nullptr;
}

namespace {

// A USB device node made in the wine prefix's registry as the USB stack and a driver
// installation leave one: instance id, hardware and compatible ids of a DFU-mode device, the
// function driver's service, the optional "DeviceInterfaceGUIDs" value, and one interface,
// enabled ("Linked") as the driver would enable it. Removed again by the destructor.
class FakeUsbNode {
 public:
  FakeUsbNode(const std::wstring& instance, const wchar_t* service, const std::wstring& guidValue,
              const GUID& interfaceClass, const std::wstring& interfaceClassText)
      : instance_(instance) {
    const GUID usbDeviceSetupClass = {
        0x88BAE032, 0x5A81, 0x49F0, {0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6}};
    set_ = SetupDiCreateDeviceInfoList(&usbDeviceSetupClass, nullptr);
    dev_.cbSize = sizeof dev_;
    // A node left by an earlier run that died goes first.
    if (SetupDiOpenDeviceInfoW(set_, instance.c_str(), nullptr, 0, &dev_))
      SetupDiRemoveDevice(set_, &dev_);
    if (!SetupDiCreateDeviceInfoW(set_, instance.c_str(), &usbDeviceSetupClass, L"DFU device",
                                  nullptr, 0, &dev_))
      return;
    const size_t idEnd = instance.rfind(L'\\');
    const std::wstring hardware = instance.substr(0, idEnd) + L"&REV_2200" + L'\0' +
                                  instance.substr(0, idEnd) + L'\0' + L'\0';
    const std::wstring compatible = std::wstring(L"USB\\Class_FE&SubClass_01&Prot_02") + L'\0' +
                                    L"USB\\Class_FE&SubClass_01" + L'\0' + L'\0';
    const std::wstring serviceText = std::wstring(service) + L'\0';
    if (!SetProperty(SPDRP_HARDWAREID, hardware) || !SetProperty(SPDRP_COMPATIBLEIDS, compatible) ||
        !SetProperty(SPDRP_SERVICE, serviceText) ||
        !SetupDiRegisterDeviceInfo(set_, &dev_, 0, nullptr, nullptr, nullptr))
      return;
    if (!guidValue.empty()) {
      HKEY key =
          SetupDiCreateDevRegKeyW(set_, &dev_, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
      if (key == INVALID_HANDLE_VALUE) return;
      const std::wstring multi = guidValue + L'\0' + L'\0';
      LONG r = RegSetValueExW(key, L"DeviceInterfaceGUIDs", 0, REG_MULTI_SZ,
                              reinterpret_cast<const BYTE*>(multi.data()),
                              static_cast<DWORD>(multi.size() * sizeof(wchar_t)));
      RegCloseKey(key);
      if (r != ERROR_SUCCESS) return;
    }
    SP_DEVICE_INTERFACE_DATA itf = {};
    itf.cbSize = sizeof itf;
    if (!SetupDiCreateDeviceInterfaceW(set_, &dev_, &interfaceClass, nullptr, 0, &itf)) return;
    std::wstring linkName = instance;
    for (wchar_t& c : linkName)
      if (c == L'\\') c = L'#';
    linkKey_ = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + interfaceClassText +
               L"\\##?#" + linkName + L"#" + interfaceClassText;
    HKEY control;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (linkKey_ + L"\\#\\Control").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &control, nullptr) != ERROR_SUCCESS)
      return;
    DWORD one = 1;
    ok_ = RegSetValueExW(control, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                         sizeof one) == ERROR_SUCCESS;
    RegCloseKey(control);
  }
  ~FakeUsbNode() {
    if (!linkKey_.empty()) RegDeleteTreeW(HKEY_LOCAL_MACHINE, linkKey_.c_str());
    SetupDiRemoveDevice(set_, &dev_);
    SetupDiDestroyDeviceInfoList(set_);
  }
  bool ok() const { return ok_; }

 private:
  bool SetProperty(DWORD property, const std::wstring& value) {
    return SetupDiSetDeviceRegistryPropertyW(set_, &dev_, property,
                                             reinterpret_cast<const BYTE*>(value.data()),
                                             static_cast<DWORD>(value.size() * sizeof(wchar_t)));
  }

  std::wstring instance_;
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA dev_ = {};
  std::wstring linkKey_;
  bool ok_ = false;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// The Windows enumeration itself, over SetupAPI: a DFU device is found whichever way WinUSB
// was bound to it, and only when WinUSB is its driver.
TEST(WinUsbEnumeration, FindsDfuDevicesHoweverWinUsbWasBound) {
  const GUID ours = {0xA2DCE62E, 0xB1DE, 0x4D53, {0x96, 0x10, 0x44, 0x9E, 0x52, 0xDC, 0x40, 0xBC}};
  const GUID generic = {
      0xDEE824EF, 0x729B, 0x4A0E, {0x9C, 0x14, 0xB7, 0x11, 0x7D, 0x33, 0xA8, 0x17}};
  const GUID usbDevice = {
      0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
  const std::wstring oursText = L"{a2dce62e-b1de-4d53-9610-449e52dc40bc}";
  const std::wstring genericText = L"{dee824ef-729b-4a0e-9c14-b7117d33a817}";
  const std::wstring usbDeviceText = L"{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  FakeUsbNode byOurInf(L"USB\\VID_0483&PID_A19B\\OVRA7OURINF", L"WinUSB", oursText, ours, oursText);
  FakeUsbNode byInstaller(L"USB\\VID_0483&PID_DF11\\OVRA7INSTALLER", L"WinUSB", genericText,
                          generic, genericText);
  FakeUsbNode withoutGuid(L"USB\\VID_0483&PID_DF11\\OVRA7NOGUID", L"WinUSB", L"", usbDevice,
                          usbDeviceText);
  FakeUsbNode otherDriver(L"USB\\VID_0483&PID_DF11\\OVRA7LIBUSBK", L"libusbK", genericText, generic,
                          genericText);
  ASSERT_TRUE(byOurInf.ok() && byInstaller.ok() && withoutGuid.ok() && otherDriver.ok());

  std::vector<platform::UsbInterfaceInfo> list;
  ASSERT_EQ(platform::kUsbOk, platform::SystemUsbHost().ListInterfaces(&list));
  auto find = [&](const std::string& serial) -> const platform::UsbInterfaceInfo* {
    for (const platform::UsbInterfaceInfo& info : list)
      if (Lower(info.path).find(serial) != std::string::npos) return &info;
    return nullptr;
  };
  const platform::UsbInterfaceInfo* a = find("#ovra7ourinf#");
  const platform::UsbInterfaceInfo* b = find("#ovra7installer#");
  const platform::UsbInterfaceInfo* c = find("#ovra7noguid#");
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(nullptr, find("#ovra7libusbk#"));
  EXPECT_NE(std::string::npos, Lower(a->path).find("{a2dce62e-b1de-4d53-9610-449e52dc40bc}"));
  EXPECT_NE(std::string::npos, Lower(b->path).find("{dee824ef-729b-4a0e-9c14-b7117d33a817}"));
  EXPECT_NE(std::string::npos, Lower(c->path).find("{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
  EXPECT_EQ(0x0483, a->vendorId);
  EXPECT_EQ(0xA19B, a->productId);
  EXPECT_EQ(0xFE, c->interfaceClass);
  EXPECT_EQ(0x01, c->interfaceSubClass);
  EXPECT_EQ(0x02, c->interfaceProtocol);
}
