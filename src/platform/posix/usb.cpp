// Linux USB access through libusb-1.0. Paths name one interface of one device:
// "usb#vid_VVVV&pid_PPPP#b<bus>d<address>#if<number>", parsed without regard to letter case.
#include "platform/usb.h"

#include <libusb.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace platform {

namespace {

int MapError(int rc) {
  switch (rc) {
    case LIBUSB_ERROR_TIMEOUT:
      return kUsbErrTimeout;
    case LIBUSB_ERROR_PIPE:
      return kUsbErrStall;
    case LIBUSB_ERROR_NO_DEVICE:
      return kUsbErrNoDevice;
    case LIBUSB_ERROR_NOT_FOUND:
      return kUsbErrNotFound;
    case LIBUSB_ERROR_INVALID_PARAM:
      return kUsbErrArgument;
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return kUsbErrUnsupported;
    default:
      return rc < 0 ? kUsbErrIo : rc;
  }
}

// One libusb context for the process, made on first use; libusb is thread-safe on it.
libusb_context* Context() {
  static std::once_flag once;
  static libusb_context* ctx = nullptr;
  std::call_once(once, [] {
    if (libusb_init(&ctx) != 0) ctx = nullptr;
  });
  return ctx;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string MakePath(uint16_t vid, uint16_t pid, int bus, int address, int number) {
  char text[96];
  std::snprintf(text, sizeof text, "usb#vid_%04x&pid_%04x#b%03dd%03d#if%02d", vid, pid, bus,
                address, number);
  return text;
}

bool ParsePath(const std::string& path, int* bus, int* address, int* number) {
  std::string p = Lower(path);
  size_t at = p.find("#b");
  if (at == std::string::npos) return false;
  return std::sscanf(p.c_str() + at, "#b%3dd%3d#if%2d", bus, address, number) == 3;
}

// The product string from sysfs, which the kernel read at enumeration: no transfer needed.
std::string SysfsProduct(libusb_device* dev) {
  uint8_t ports[8];
  int n = libusb_get_port_numbers(dev, ports, sizeof ports);
  if (n <= 0) return std::string();
  std::string name = std::to_string(libusb_get_bus_number(dev)) + "-";
  for (int i = 0; i < n; ++i) name += (i ? "." : "") + std::to_string(ports[i]);
  std::ifstream in("/sys/bus/usb/devices/" + name + "/product");
  std::string line;
  std::getline(in, line);
  return line;
}

class LibusbDevice : public UsbDevice {
 public:
  LibusbDevice(libusb_device_handle* handle) : handle_(handle) {}
  ~LibusbDevice() override {
    if (claimed_ >= 0) libusb_release_interface(handle_, claimed_);
    libusb_close(handle_);
  }

  int GetDeviceDescriptor(uint8_t out[18]) override {
    libusb_device_descriptor d;
    int rc = libusb_get_device_descriptor(libusb_get_device(handle_), &d);
    if (rc != 0) return MapError(rc);
    const uint8_t bytes[18] = {d.bLength,
                               d.bDescriptorType,
                               static_cast<uint8_t>(d.bcdUSB),
                               static_cast<uint8_t>(d.bcdUSB >> 8),
                               d.bDeviceClass,
                               d.bDeviceSubClass,
                               d.bDeviceProtocol,
                               d.bMaxPacketSize0,
                               static_cast<uint8_t>(d.idVendor),
                               static_cast<uint8_t>(d.idVendor >> 8),
                               static_cast<uint8_t>(d.idProduct),
                               static_cast<uint8_t>(d.idProduct >> 8),
                               static_cast<uint8_t>(d.bcdDevice),
                               static_cast<uint8_t>(d.bcdDevice >> 8),
                               d.iManufacturer,
                               d.iProduct,
                               d.iSerialNumber,
                               d.bNumConfigurations};
    std::memcpy(out, bytes, 18);
    return kUsbOk;
  }

  // The active configuration's descriptor set exactly as the device sends it: its 9-byte head
  // for wTotalLength, then the whole set. libusb's parsed copy cannot give these bytes back (it
  // keeps 7 or 9 bytes of an endpoint descriptor whatever its length), and a set rebuilt from
  // it misplaces every descriptor after a longer one.
  int GetConfigDescriptor(std::vector<uint8_t>* out) override {
    int index = ActiveConfigIndex();
    if (index < 0) return index;
    uint8_t head[LIBUSB_DT_CONFIG_SIZE];
    int n = libusb_get_descriptor(handle_, LIBUSB_DT_CONFIG, static_cast<uint8_t>(index), head,
                                  sizeof head);
    if (n < 0) return MapError(n);
    if (n < 4 || head[1] != LIBUSB_DT_CONFIG) return kUsbErrIo;
    const int total = head[2] | (head[3] << 8);
    if (total < LIBUSB_DT_CONFIG_SIZE) return kUsbErrIo;
    out->assign(static_cast<size_t>(total), 0);
    n = libusb_get_descriptor(handle_, LIBUSB_DT_CONFIG, static_cast<uint8_t>(index), out->data(),
                              total);
    if (n < 0) return MapError(n);
    if (n < LIBUSB_DT_CONFIG_SIZE) return kUsbErrIo;
    out->resize(static_cast<size_t>(n));
    return kUsbOk;
  }

  int GetStringDescriptor(uint8_t index, std::string* out, int timeoutMs) override {
    uint8_t raw[255];
    int n = libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                    static_cast<uint16_t>((LIBUSB_DT_STRING << 8) | index), 0x0409,
                                    raw, sizeof raw, static_cast<unsigned>(timeoutMs));
    if (n < 0) return MapError(n);
    if (n < 2 || raw[1] != LIBUSB_DT_STRING) return kUsbErrIo;
    int length = raw[0] < n ? raw[0] : n;
    out->clear();
    for (int i = 2; i + 1 < length; i += 2) {
      unsigned c = raw[i] | (raw[i + 1] << 8);
      if (c < 0x80) {
        out->push_back(static_cast<char>(c));
      } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return kUsbOk;
  }

  int ClaimInterface(uint8_t number) override {
    if (claimed_ == number) return kUsbOk;
    libusb_set_auto_detach_kernel_driver(handle_, 1);
    int rc = libusb_claim_interface(handle_, number);
    if (rc != 0) {
      // Where a driver cannot be detached (none is bound, or the system lacks the request, as
      // in containers and under umockdev), a plain claim may still succeed.
      libusb_set_auto_detach_kernel_driver(handle_, 0);
      rc = libusb_claim_interface(handle_, number);
    }
    if (rc != 0) return MapError(rc);
    claimed_ = number;
    return kUsbOk;
  }

  int SetAltSetting(uint8_t number, uint8_t alternate) override {
    int rc = libusb_set_interface_alt_setting(handle_, number, alternate);
    if (rc == LIBUSB_ERROR_OTHER || rc == LIBUSB_ERROR_NOT_SUPPORTED) {
      // A system without the set-interface request (containers, umockdev) still reaches the
      // device with the standard request itself.
      rc = libusb_control_transfer(handle_, LIBUSB_RECIPIENT_INTERFACE,
                                   LIBUSB_REQUEST_SET_INTERFACE, alternate, number, nullptr, 0,
                                   5000);
      if (rc > 0) rc = 0;
    }
    return MapError(rc);
  }

  int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length, int timeoutMs) override {
    return MapError(libusb_control_transfer(handle_, requestType, request, value, index, data,
                                            length, static_cast<unsigned>(timeoutMs)));
  }

 private:
  // The index (not the value) of the active configuration, which GET_DESCRIPTOR takes; from
  // libusb's cached descriptors, without a transfer.
  int ActiveConfigIndex() {
    libusb_device* dev = libusb_get_device(handle_);
    libusb_config_descriptor* active = nullptr;
    int rc = libusb_get_active_config_descriptor(dev, &active);
    if (rc != 0) return MapError(rc);
    const uint8_t value = active->bConfigurationValue;
    libusb_free_config_descriptor(active);
    libusb_device_descriptor d;
    rc = libusb_get_device_descriptor(dev, &d);
    if (rc != 0) return MapError(rc);
    for (uint8_t i = 0; i < d.bNumConfigurations; ++i) {
      libusb_config_descriptor* config = nullptr;
      if (libusb_get_config_descriptor(dev, i, &config) != 0) continue;
      const bool match = config->bConfigurationValue == value;
      libusb_free_config_descriptor(config);
      if (match) return i;
    }
    return kUsbErrNotFound;
  }

  libusb_device_handle* handle_;
  int claimed_ = -1;
};

class LibusbHost : public UsbHost {
 public:
  int ListInterfaces(std::vector<UsbInterfaceInfo>* out) override {
    out->clear();
    libusb_context* ctx = Context();
    if (!ctx) return kUsbErrUnsupported;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) return MapError(static_cast<int>(count));
    for (ssize_t i = 0; i < count; ++i) AddDevice(list[i], out);
    libusb_free_device_list(list, 1);
    return kUsbOk;
  }

  int Open(const std::string& path, std::unique_ptr<UsbDevice>* out) override {
    int bus = 0, address = 0, number = 0;
    if (!ParsePath(path, &bus, &address, &number)) return kUsbErrNotFound;
    libusb_context* ctx = Context();
    if (!ctx) return kUsbErrUnsupported;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) return MapError(static_cast<int>(count));
    int result = kUsbErrNotFound;
    for (ssize_t i = 0; i < count; ++i) {
      if (libusb_get_bus_number(list[i]) != bus || libusb_get_device_address(list[i]) != address)
        continue;
      libusb_device_handle* handle = nullptr;
      result = MapError(libusb_open(list[i], &handle));
      if (result == kUsbOk) out->reset(new LibusbDevice(handle));
      break;
    }
    libusb_free_device_list(list, 1);
    return result;
  }

 private:
  static void AddDevice(libusb_device* dev, std::vector<UsbInterfaceInfo>* out) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(dev, &d) != 0) return;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) != 0) return;
    std::string product = SysfsProduct(dev);
    for (int i = 0; i < config->bNumInterfaces; ++i) {
      if (config->interface[i].num_altsetting < 1) continue;
      const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
      UsbInterfaceInfo info;
      info.path = MakePath(d.idVendor, d.idProduct, libusb_get_bus_number(dev),
                           libusb_get_device_address(dev), alt.bInterfaceNumber);
      info.description = product;
      info.vendorId = d.idVendor;
      info.productId = d.idProduct;
      info.interfaceNumber = alt.bInterfaceNumber;
      info.interfaceClass = alt.bInterfaceClass;
      info.interfaceSubClass = alt.bInterfaceSubClass;
      info.interfaceProtocol = alt.bInterfaceProtocol;
      out->push_back(info);
    }
    libusb_free_config_descriptor(config);
  }
};

}  // namespace

UsbHost& SystemUsbHost() {
  static LibusbHost host;
  return host;
}

}  // namespace platform
