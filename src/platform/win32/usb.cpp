// Windows USB access: SetupAPI finds the device nodes bound to WinUSB (the rule of
// platform/winusb_interfaces.h), winusb.dll (loaded at run time through WinUsbApi) moves the
// descriptors and control transfers.
#include "platform/usb.h"

#include <windows.h>
// setupapi.h and winusb.h need windows.h first.
#include <setupapi.h>
#include <cfgmgr32.h>
#include <winusb.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/win32/utf.h"
#include "platform/win32/winusb_api.h"
#include "platform/winusb_interfaces.h"

namespace platform {

namespace {

int MapLastError() {
  switch (GetLastError()) {
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return kUsbErrTimeout;
    case ERROR_GEN_FAILURE:
      return kUsbErrStall;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_FILE_NOT_FOUND:
      return kUsbErrNoDevice;
    case ERROR_INVALID_PARAMETER:
      return kUsbErrArgument;
    default:
      return kUsbErrIo;
  }
}

// WinUSB keeps a device to one open handle: a second open is refused as access denied.
int OpenError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return kUsbErrBusy;
    default:
      return kUsbErrNotFound;
  }
}

class WinUsbDevice : public UsbDevice {
 public:
  WinUsbDevice(const WinUsbApi& api, HANDLE file, WINUSB_INTERFACE_HANDLE handle)
      : api_(api), file_(file), handle_(handle) {}
  ~WinUsbDevice() override {
    if (handle_) api_.Free(handle_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  int GetDeviceDescriptor(uint8_t out[18]) override {
    ULONG got = 0;
    if (!api_.GetDescriptor(handle_, 1, 0, 0, out, 18, &got)) return MapLastError();
    return got == 18 ? kUsbOk : kUsbErrIo;
  }

  int GetConfigDescriptor(std::vector<uint8_t>* out) override {
    uint8_t head[9];
    ULONG got = 0;
    if (!api_.GetDescriptor(handle_, 2, 0, 0, head, sizeof head, &got)) return MapLastError();
    if (got < 4) return kUsbErrIo;
    ULONG total = head[2] | (head[3] << 8);
    if (total < 9) return kUsbErrIo;
    out->assign(total, 0);
    if (!api_.GetDescriptor(handle_, 2, 0, 0, out->data(), total, &got)) return MapLastError();
    out->resize(got);
    return kUsbOk;
  }

  int GetStringDescriptor(uint8_t index, std::string* out, int timeoutMs) override {
    SetTimeout(timeoutMs);
    uint8_t raw[255];
    ULONG got = 0;
    if (!api_.GetDescriptor(handle_, 3, index, 0x0409, raw, sizeof raw, &got))
      return MapLastError();
    if (got < 2 || raw[1] != 3) return kUsbErrIo;
    ULONG length = raw[0] < got ? raw[0] : got;
    std::wstring text;
    for (ULONG i = 2; i + 1 < length; i += 2)
      text.push_back(static_cast<wchar_t>(raw[i] | (raw[i + 1] << 8)));
    *out = Narrow(text);
    return kUsbOk;
  }

  // WinUSB has claimed the interface it was initialised on; nothing more to do.
  int ClaimInterface(uint8_t) override { return kUsbOk; }

  int SetAltSetting(uint8_t, uint8_t alternate) override {
    SetTimeout(5000);
    return api_.SetCurrentAlternateSetting(handle_, alternate) ? kUsbOk : MapLastError();
  }

  int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length, int timeoutMs) override {
    SetTimeout(timeoutMs);
    WINUSB_SETUP_PACKET setup;
    setup.RequestType = requestType;
    setup.Request = request;
    setup.Value = value;
    setup.Index = index;
    setup.Length = length;
    ULONG moved = 0;
    if (!api_.ControlTransfer(handle_, setup, data, length, &moved, nullptr)) return MapLastError();
    return static_cast<int>(moved);
  }

 private:
  // The control pipe's time-out is a pipe policy; set it only when it changes.
  void SetTimeout(int timeoutMs) {
    ULONG ms = timeoutMs > 0 ? static_cast<ULONG>(timeoutMs) : 0;
    if (ms == timeout_) return;
    if (api_.SetPipePolicy(handle_, 0, PIPE_TRANSFER_TIMEOUT, sizeof ms, &ms)) timeout_ = ms;
  }

  WinUsbApi api_;
  HANDLE file_;
  WINUSB_INTERFACE_HANDLE handle_;
  ULONG timeout_ = 0xFFFFFFFF;
};

std::vector<std::wstring> MultiSz(HDEVINFO set, SP_DEVINFO_DATA* dev, DWORD property) {
  std::vector<std::wstring> out;
  wchar_t buffer[1024] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(
          set, dev, property, nullptr, reinterpret_cast<BYTE*>(buffer), sizeof buffer - 4, nullptr))
    return out;
  for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) out.push_back(p);
  return out;
}

bool ParseHex(const std::wstring& text, const wchar_t* key, unsigned* value) {
  size_t at = text.find(key);
  if (at == std::wstring::npos) return false;
  return swscanf(text.c_str() + at + wcslen(key), L"%x", value) == 1;
}

// The texts of the device's "DeviceInterfaceGUIDs" (several) and "DeviceInterfaceGUID" (one)
// values, which an INF or the firmware's Microsoft OS descriptors put in its hardware key.
std::vector<std::string> RegistryInterfaceGuids(HDEVINFO set, SP_DEVINFO_DATA* dev) {
  std::vector<std::string> out;
  HKEY key = SetupDiOpenDevRegKey(set, dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return out;
  for (const wchar_t* name : {L"DeviceInterfaceGUIDs", L"DeviceInterfaceGUID"}) {
    wchar_t buffer[512] = {};
    // Two terminators kept free: a value stored without its own still ends in the buffer.
    DWORD size = sizeof buffer - 2 * sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_MULTI_SZ && type != REG_SZ))
      continue;
    for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) out.push_back(Narrow(p));
  }
  RegCloseKey(key);
  return out;
}

bool ParseGuid(const std::string& text, GUID* g) {
  unsigned d[11];
  if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2],
                  &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) != 11)
    return false;
  g->Data1 = d[0];
  g->Data2 = static_cast<unsigned short>(d[1]);
  g->Data3 = static_cast<unsigned short>(d[2]);
  for (int i = 0; i < 8; ++i) g->Data4[i] = static_cast<unsigned char>(d[3 + i]);
  return true;
}

std::string ServiceName(HDEVINFO set, SP_DEVINFO_DATA* dev) {
  wchar_t buffer[256] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(set, dev, SPDRP_SERVICE, nullptr,
                                         reinterpret_cast<BYTE*>(buffer),
                                         sizeof buffer - sizeof(wchar_t), nullptr))
    return std::string();
  return Narrow(buffer);
}

// The path of the device's enabled interface of class `guid`, "" when it has none. Asked of a
// set of that class limited to the device (its instance id as the enumerator): a set of
// devices does not reliably carry their interfaces.
std::wstring InterfacePath(HDEVINFO devices, SP_DEVINFO_DATA* dev, const GUID& guid) {
  wchar_t instance[MAX_DEVICE_ID_LEN + 1] = {};
  if (!SetupDiGetDeviceInstanceIdW(devices, dev, instance, MAX_DEVICE_ID_LEN, nullptr))
    return std::wstring();
  HDEVINFO set =
      SetupDiGetClassDevsW(&guid, instance, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring path;
  SP_DEVICE_INTERFACE_DATA itf = {};
  itf.cbSize = sizeof itf;
  DWORD required = 0;
  if (SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &itf)) {
    SetupDiGetDeviceInterfaceDetailW(set, &itf, nullptr, 0, &required, nullptr);
    if (required >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
      std::vector<uint8_t> buffer(required);
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (SetupDiGetDeviceInterfaceDetailW(set, &itf, detail, required, nullptr, nullptr))
        path = detail->DevicePath;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return path;
}

class WinUsbHost : public UsbHost {
 public:
  int ListInterfaces(std::vector<UsbInterfaceInfo>* out) override {
    out->clear();
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return kUsbErrUnsupported;
    SP_DEVINFO_DATA dev = {};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) AddDevice(set, &dev, out);
    SetupDiDestroyDeviceInfoList(set);
    return kUsbOk;
  }

  int Open(const std::string& path, std::unique_ptr<UsbDevice>* out) override {
    WinUsbApi api;
    if (!LoadWinUsbApi(&api)) return kUsbErrUnsupported;
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) return OpenError(GetLastError());
    return OpenWinUsbDevice(api, file, out);
  }

 private:
  static void AddDevice(HDEVINFO set, SP_DEVINFO_DATA* dev, std::vector<UsbInterfaceInfo>* out) {
    std::vector<std::wstring> hardware = MultiSz(set, dev, SPDRP_HARDWAREID);
    std::vector<std::wstring> compatible = MultiSz(set, dev, SPDRP_COMPATIBLEIDS);
    if (hardware.empty()) return;
    UsbInterfaceInfo info;
    unsigned vid = 0, pid = 0, mi = 0, cls = 0, sub = 0, prot = 0;
    if (!ParseHex(hardware[0], L"VID_", &vid) || !ParseHex(hardware[0], L"PID_", &pid)) return;
    ParseHex(hardware[0], L"MI_", &mi);
    for (const std::wstring& id : compatible) {
      if (ParseHex(id, L"Class_", &cls)) {
        ParseHex(id, L"SubClass_", &sub);
        ParseHex(id, L"Prot_", &prot);
        break;
      }
    }
    wchar_t description[256] = {};
    SetupDiGetDeviceRegistryPropertyW(set, dev, SPDRP_DEVICEDESC, nullptr,
                                      reinterpret_cast<BYTE*>(description), sizeof description - 2,
                                      nullptr);
    for (const std::string& text :
         WinUsbInterfaceClassesToTry(ServiceName(set, dev), RegistryInterfaceGuids(set, dev))) {
      GUID guid;
      if (!ParseGuid(text, &guid)) continue;
      std::wstring path = InterfacePath(set, dev, guid);
      if (path.empty()) continue;
      info.path = Narrow(path);
      info.description = Narrow(description);
      info.vendorId = static_cast<uint16_t>(vid);
      info.productId = static_cast<uint16_t>(pid);
      info.interfaceNumber = static_cast<uint8_t>(mi);
      info.interfaceClass = static_cast<uint8_t>(cls);
      info.interfaceSubClass = static_cast<uint8_t>(sub);
      info.interfaceProtocol = static_cast<uint8_t>(prot);
      out->push_back(info);
      break;
    }
  }
};

template <typename T>
bool Resolve(HMODULE module, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}

}  // namespace

bool LoadWinUsbApi(WinUsbApi* api) {
  static std::once_flag once;
  static WinUsbApi table;
  static bool loaded = false;
  std::call_once(once, [] {
    HMODULE module = LoadLibraryW(L"winusb.dll");
    if (!module) return;
    loaded =
        Resolve(module, "WinUsb_Initialize", &table.Initialize) &&
        Resolve(module, "WinUsb_Free", &table.Free) &&
        Resolve(module, "WinUsb_GetDescriptor", &table.GetDescriptor) &&
        Resolve(module, "WinUsb_SetCurrentAlternateSetting", &table.SetCurrentAlternateSetting) &&
        Resolve(module, "WinUsb_SetPipePolicy", &table.SetPipePolicy) &&
        Resolve(module, "WinUsb_ControlTransfer", &table.ControlTransfer);
  });
  if (loaded) *api = table;
  return loaded;
}

int OpenWinUsbDevice(const WinUsbApi& api, HANDLE file, std::unique_ptr<UsbDevice>* out) {
  WINUSB_INTERFACE_HANDLE handle = nullptr;
  if (!api.Initialize(file, &handle)) {
    DWORD error = GetLastError();
    CloseHandle(file);
    if (OpenError(error) == kUsbErrBusy) return kUsbErrBusy;
    SetLastError(error);
    int result = MapLastError();
    // A refusal without a specific reason: the device is not bound to WinUSB.
    return result == kUsbErrIo ? kUsbErrUnsupported : result;
  }
  out->reset(new WinUsbDevice(api, file, handle));
  return kUsbOk;
}

UsbHost& SystemUsbHost() {
  static WinUsbHost host;
  return host;
}

}  // namespace platform
