// Windows reader interfaces: SetupAPI over the HID interface class and the vendor driver's
// interface class, DeviceIoControl for every transfer.
#include "platform/reader_usb.h"

#include <windows.h>
// setupapi.h and winusb.h need windows.h first.
#include <setupapi.h>

#include <vector>

#include "platform/win32/utf.h"

namespace platform {

namespace {

const GUID kHidClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kVendorClass = {
    0xFF646F81, 0x8DEF, 0x11D2, {0x94, 0x49, 0x00, 0x10, 0x5A, 0x07, 0x5F, 0x6B}};

// Device path of interface `index` of the class; false when there is no such interface.
bool PathAt(HDEVINFO set, const GUID& cls, DWORD index, std::wstring* path, bool* end) {
  SP_DEVICE_INTERFACE_DATA itf = {};
  itf.cbSize = sizeof itf;
  *end = false;
  if (!SetupDiEnumDeviceInterfaces(set, nullptr, &cls, index, &itf)) {
    // Whatever the reason (no more items or a failure), the walk ends here.
    *end = true;
    return false;
  }
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &itf, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
  std::vector<uint8_t> buffer(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, &itf, detail, required, nullptr, nullptr))
    return false;
  *path = detail->DevicePath;
  return true;
}

class Win32ReaderDevice : public ReaderDeviceIo {
 public:
  explicit Win32ReaderDevice(HANDLE handle) : handle_(handle) {}
  ~Win32ReaderDevice() override { CloseHandle(handle_); }

  bool Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
               uint32_t outLength) override {
    DWORD returned = 0;
    return DeviceIoControl(handle_, code, const_cast<uint8_t*>(in), inLength, out, outLength,
                           &returned, nullptr) != FALSE;
  }

 private:
  HANDLE handle_;
};

std::unique_ptr<ReaderDeviceIo> OpenPath(const std::string& path, DWORD share) {
  HANDLE handle = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<ReaderDeviceIo>(new Win32ReaderDevice(handle));
}

class Win32ReaderHost : public ReaderUsbHost {
 public:
  bool ListHidPaths(std::vector<std::string>* out) override {
    out->clear();
    HDEVINFO set =
        SetupDiGetClassDevsW(&kHidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool end = false;
    for (DWORD i = 0; !end; ++i) {
      std::wstring path;
      if (PathAt(set, kHidClass, i, &path, &end)) out->push_back(Narrow(path));
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
  }

  std::unique_ptr<ReaderDeviceIo> OpenHid(const std::string& path) override {
    return OpenPath(path, 0);
  }

  bool FirstVendorPath(std::string* out) override {
    HDEVINFO set = SetupDiGetClassDevsW(&kVendorClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    std::wstring path;
    bool end = false;
    bool found = PathAt(set, kVendorClass, 0, &path, &end);
    SetupDiDestroyDeviceInfoList(set);
    if (found) *out = Narrow(path);
    return found;
  }

  std::unique_ptr<ReaderDeviceIo> OpenVendor(const std::string& path) override {
    return OpenPath(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  }
};

}  // namespace

ReaderUsbHost& SystemReaderUsbHost() {
  static Win32ReaderHost host;
  return host;
}

}  // namespace platform
