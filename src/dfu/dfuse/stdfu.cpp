// DFU requests over the control channel of platform/usb.h. Portable.
#include "dfu/dfuse/stdfu.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "dfu/dfuse/dfu_descriptors.h"
#include "platform/clock.h"
#include "platform/usb.h"

struct DfuDevice {
  std::unique_ptr<platform::UsbDevice> usb;
  DfuConfigInfo config;  // valid once configRead
  bool configRead = false;
  uint64_t deadline = 0;  // STDFU_SetDeadline; 0: none
};

namespace {

enum : uint8_t {
  kDetach = 0,
  kDnload = 1,
  kUpload = 2,
  kGetStatus = 3,
  kClrStatus = 4,
  kGetState = 5,
  kAbort = 6,
};
constexpr uint8_t kClassOut = 0x21;  // host to device, class, interface
constexpr uint8_t kClassIn = 0xA1;

uint32_t MapUsb(int rc) {
  if (rc >= 0) return STDFU_NOERROR;
  switch (rc) {
    case platform::kUsbErrStall:
      return STDFU_REQUESTSTALLED;
    case platform::kUsbErrTimeout:
      return STDFU_REQUESTTIMEOUT;
    case platform::kUsbErrNoDevice:
      return STDFU_DEVICELOST;
    default:
      return STDFU_REQUESTERROR;
  }
}

// The time-out for the next request: kDfuRequestTimeoutMs, cut to what the deadline leaves; 0
// when the deadline has passed.
int TimeoutFor(DfuDeviceHandle d) {
  if (!d->deadline) return kDfuRequestTimeoutMs;
  uint64_t now = platform::NowMs();
  if (now >= d->deadline) return 0;
  uint64_t left = d->deadline - now;
  return left < static_cast<uint64_t>(kDfuRequestTimeoutMs) ? static_cast<int>(left)
                                                            : kDfuRequestTimeoutMs;
}

// The configuration descriptor set, read on first need: the class requests go to the DFU
// interface's number, and the functional descriptor lives there.
uint32_t LoadConfig(DfuDeviceHandle d) {
  if (d->configRead) return STDFU_NOERROR;
  std::vector<uint8_t> bytes;
  int rc = d->usb->GetConfigDescriptor(&bytes);
  if (rc == platform::kUsbErrNoDevice) return STDFU_DEVICELOST;
  if (rc != platform::kUsbOk || !ParseDfuConfig(bytes.data(), bytes.size(), &d->config))
    return STDFU_DESCRIPTORNOTFOUND;
  d->configRead = true;
  return STDFU_NOERROR;
}

uint32_t Out(DfuDeviceHandle d, uint8_t request, uint16_t value, const uint8_t* data,
             uint16_t length) {
  if (!d) return STDFU_BADPARAMETER;
  uint32_t config = LoadConfig(d);
  if (config != STDFU_NOERROR) return config;
  int timeout = TimeoutFor(d);
  if (timeout == 0) return STDFU_REQUESTTIMEOUT;
  int rc = d->usb->ControlTransfer(kClassOut, request, value, d->config.interfaceNumber,
                                   const_cast<uint8_t*>(data), length, timeout);
  if (rc >= 0 && rc != length) return STDFU_REQUESTERROR;
  return MapUsb(rc);
}

// *moved gets the byte count of a transfer that succeeded.
uint32_t In(DfuDeviceHandle d, uint8_t request, uint16_t value, uint8_t* data, uint16_t length,
            int* moved) {
  *moved = 0;
  uint32_t config = LoadConfig(d);
  if (config != STDFU_NOERROR) return config;
  int timeout = TimeoutFor(d);
  if (timeout == 0) return STDFU_REQUESTTIMEOUT;
  int rc = d->usb->ControlTransfer(kClassIn, request, value, d->config.interfaceNumber, data, length,
                                   timeout);
  if (rc >= 0) *moved = rc;
  return MapUsb(rc);
}

// Our own suffix "#{GUID}" is not part of the backend's path.
std::string BackendPath(const std::string& path) {
  size_t hash = path.rfind("#{");
  return hash == std::string::npos ? path : path.substr(0, hash);
}

}  // namespace

bool ParseDfuConfig(const uint8_t* bytes, size_t n, DfuConfigInfo* out) {
  *out = DfuConfigInfo();
  bool inDfu = false, found = false;
  size_t at = 0;
  while (at + 2 <= n) {
    uint8_t length = bytes[at];
    uint8_t type = bytes[at + 1];
    if (length < 2 || at + length > n) return false;
    const uint8_t* d = bytes + at;
    if (type == 4 && length >= 9) {
      bool dfu = d[5] == 0xFE && d[6] == 0x01;
      inDfu = dfu && (!found || d[2] == out->interfaceNumber);
      if (inDfu) {
        if (!found) {
          out->interfaceNumber = d[2];
          out->interfaceProtocol = d[7];
          found = true;
        }
        out->alternates.push_back(DfuAlternate{d[3], d[8]});
      }
    } else if (type == 0x21 && inDfu && !out->hasFunctional && length >= 7) {
      std::memcpy(out->functional, d, length < 9 ? length : 9);
      out->hasFunctional = true;
    }
    at += length;
  }
  return found;
}

uint32_t STDFU_Open(const char* path, DfuDeviceHandle* device) {
  if (!path || !device) return STDFU_BADPARAMETER;
  *device = nullptr;
  std::unique_ptr<DfuDevice> d(new DfuDevice);
  if (platform::CurrentUsbHost().Open(BackendPath(path), &d->usb) != platform::kUsbOk || !d->usb)
    return STDFU_OPENDRIVERERROR;
  *device = d.release();
  return STDFU_NOERROR;
}

uint32_t STDFU_Close(DfuDeviceHandle* device) {
  if (!device || !*device) return STDFU_BADPARAMETER;
  delete *device;
  *device = nullptr;
  return STDFU_NOERROR;
}

uint32_t STDFU_SetDeadline(DfuDeviceHandle device, uint64_t atMs) {
  if (!device) return STDFU_BADPARAMETER;
  device->deadline = atMs;
  return STDFU_NOERROR;
}

uint64_t STDFU_GetDeadline(DfuDeviceHandle device) { return device ? device->deadline : 0; }

uint32_t STDFU_GetDeviceDescriptor(DfuDeviceHandle device, uint8_t descriptor[18]) {
  if (!device || !descriptor) return STDFU_BADPARAMETER;
  int rc = device->usb->GetDeviceDescriptor(descriptor);
  if (rc == platform::kUsbErrNoDevice) return STDFU_DEVICELOST;
  return rc == platform::kUsbOk ? STDFU_NOERROR : STDFU_DESCRIPTORNOTFOUND;
}

uint32_t STDFU_GetDFUDescriptor(DfuDeviceHandle device, uint32_t* interfaceNumber,
                                uint32_t* alternateCount, uint8_t descriptor[9]) {
  if (!device || !descriptor) return STDFU_BADPARAMETER;
  uint32_t config = LoadConfig(device);
  if (config != STDFU_NOERROR) return config;
  if (!device->config.hasFunctional) return STDFU_DESCRIPTORNOTFOUND;
  if (interfaceNumber) *interfaceNumber = device->config.interfaceNumber;
  if (alternateCount) *alternateCount = static_cast<uint32_t>(device->config.alternates.size());
  std::memcpy(descriptor, device->config.functional, 9);
  return STDFU_NOERROR;
}

uint32_t STDFU_GetAlternate(DfuDeviceHandle device, uint32_t index, uint8_t* alternate,
                            uint8_t* nameIndex) {
  if (!device || !alternate || !nameIndex) return STDFU_BADPARAMETER;
  uint32_t config = LoadConfig(device);
  if (config != STDFU_NOERROR) return config;
  if (index >= device->config.alternates.size()) return STDFU_BADPARAMETER;
  *alternate = device->config.alternates[index].alternate;
  *nameIndex = device->config.alternates[index].nameIndex;
  return STDFU_NOERROR;
}

uint32_t STDFU_GetStringDescriptor(DfuDeviceHandle device, uint32_t index, std::string* text) {
  if (!device || !text || index > 255) return STDFU_BADPARAMETER;
  int timeout = TimeoutFor(device);
  if (timeout == 0) return STDFU_REQUESTTIMEOUT;
  return MapUsb(device->usb->GetStringDescriptor(static_cast<uint8_t>(index), text, timeout));
}

uint32_t STDFU_SelectCurrentConfiguration(DfuDeviceHandle device, uint32_t configuration,
                                          uint32_t interfaceIndex, uint32_t alternate) {
  if (!device || configuration != 0 || interfaceIndex != 0 || alternate > 255)
    return STDFU_BADPARAMETER;
  uint32_t config = LoadConfig(device);
  if (config != STDFU_NOERROR) return config;
  // The system's own time-out for SET_INTERFACE cannot be cut: it must fit in what is left.
  if (device->deadline && TimeoutFor(device) < kDfuRequestTimeoutMs) return STDFU_REQUESTTIMEOUT;
  uint8_t number = device->config.interfaceNumber;
  if (device->usb->ClaimInterface(number) != platform::kUsbOk) return STDFU_CONFIGURATIONERROR;
  int rc = device->usb->SetAltSetting(number, static_cast<uint8_t>(alternate));
  if (rc == platform::kUsbErrNoDevice) return STDFU_DEVICELOST;
  return rc == platform::kUsbOk ? STDFU_NOERROR : STDFU_CONFIGURATIONERROR;
}

uint32_t STDFU_Getstatus(DfuDeviceHandle device, DfuStatus* status) {
  if (!device || !status) return STDFU_BADPARAMETER;
  uint8_t raw[6] = {};
  int moved = 0;
  uint32_t r = In(device, kGetStatus, 0, raw, 6, &moved);
  if (r != STDFU_NOERROR) return r;
  if (moved != 6) return STDFU_REQUESTERROR;
  std::memcpy(status, raw, 6);
  return STDFU_NOERROR;
}

uint32_t STDFU_Clrstatus(DfuDeviceHandle device) { return Out(device, kClrStatus, 0, nullptr, 0); }

uint32_t STDFU_Getstate(DfuDeviceHandle device, uint8_t* state) {
  if (!device || !state) return STDFU_BADPARAMETER;
  int moved = 0;
  uint32_t r = In(device, kGetState, 0, state, 1, &moved);
  if (r != STDFU_NOERROR) return r;
  return moved == 1 ? STDFU_NOERROR : STDFU_REQUESTERROR;
}

uint32_t STDFU_Abort(DfuDeviceHandle device) { return Out(device, kAbort, 0, nullptr, 0); }

uint32_t STDFU_Detach(DfuDeviceHandle device, uint16_t timeoutMs) {
  return Out(device, kDetach, timeoutMs, nullptr, 0);
}

uint32_t STDFU_Dnload(DfuDeviceHandle device, const uint8_t* buffer, uint32_t length,
                      uint16_t block) {
  if (length > 0xFFFF || (length > 0 && !buffer)) return STDFU_BADPARAMETER;
  return Out(device, kDnload, block, buffer, static_cast<uint16_t>(length));
}

uint32_t STDFU_Upload(DfuDeviceHandle device, uint8_t* buffer, uint32_t length, uint16_t block,
                      uint32_t* received) {
  if (!device || !buffer || length == 0 || length > 0xFFFF) return STDFU_BADPARAMETER;
  int moved = 0;
  uint32_t r = In(device, kUpload, block, buffer, static_cast<uint16_t>(length), &moved);
  if (received) *received = static_cast<uint32_t>(moved);
  return r;
}

std::string DfuGuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

bool DfuListInterfaces(const Guid& interfaceClass, std::vector<DfuInterfaceEntry>* out) {
  out->clear();
  uint8_t protocol;
  if (std::memcmp(&interfaceClass, &kDfuInterfaceClassA, sizeof(Guid)) == 0)
    protocol = 2;
  else if (std::memcmp(&interfaceClass, &kDfuInterfaceClassB, sizeof(Guid)) == 0)
    protocol = 1;
  else
    return false;
  std::vector<platform::UsbInterfaceInfo> all;
  if (platform::CurrentUsbHost().ListInterfaces(&all) != platform::kUsbOk) return false;
  std::string suffix = DfuGuidText(interfaceClass);
  for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const platform::UsbInterfaceInfo& info : all) {
    if (info.interfaceClass != 0xFE || info.interfaceSubClass != 0x01 ||
        info.interfaceProtocol != protocol)
      continue;
    out->push_back(DfuInterfaceEntry{info.path + "#" + suffix, info.description});
  }
  return true;
}
