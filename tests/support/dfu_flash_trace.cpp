// Records the device's side of a whole flash of a small package (erase, download, read back,
// leave) on the simulated device, one control transfer per line, for make_dfu_umockdev.py to
// turn into a usbmon capture: the libusb backend must then carry the same exchange under
// umockdev. The package and the sequence are those of the umockdev flash test.
// Usage: dfu_flash_trace OUT.txt
//        dfu_flash_trace --dialog PACKAGE.dfu OUT.txt
// The second form records the flashing dialog's whole sequence instead (discovery, selection with
// the option-bytes probe, erase, download, read back, leave) for a 64 KiB package it writes, with
// 50 ms poll times on the data blocks, so that the real program replays a download that lasts
// long enough to be interrupted.
// Each line: requestType request value index length result reply-hex ("-" for no reply bytes).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/dfuse/stdfuprt.h"
#include "dfu_packages.h"
#include "drive_host.h"
#include "platform/clock.h"
#include "sim_dfu_device.h"
#include "ui/headless/headless_host.h"
#include "umockdev_flash_package.h"

namespace {

std::FILE* g_out = nullptr;

class RecordingDevice : public platform::UsbDevice {
 public:
  explicit RecordingDevice(std::unique_ptr<platform::UsbDevice> inner) : inner_(std::move(inner)) {}
  int GetDeviceDescriptor(uint8_t out[18]) override { return inner_->GetDeviceDescriptor(out); }
  // The libusb backend reads the configuration from the device in two GET_DESCRIPTOR requests:
  // the 9-byte head for wTotalLength, then the whole set.
  int GetConfigDescriptor(std::vector<uint8_t>* out) override {
    int r = inner_->GetConfigDescriptor(out);
    if (r != platform::kUsbOk || out->size() < 9) return r;
    for (size_t length : {size_t{9}, out->size()}) {
      std::fprintf(g_out, "128 6 512 0 %u %u ", static_cast<unsigned>(length),
                   static_cast<unsigned>(length));
      for (size_t i = 0; i < length; ++i) std::fprintf(g_out, "%02x", (*out)[i]);
      std::fputc('\n', g_out);
    }
    return r;
  }
  // A string is one GET_DESCRIPTOR request on the wire (US English, 255 bytes asked for); the
  // simulated device's strings are ASCII.
  int GetStringDescriptor(uint8_t index, std::string* out, int timeoutMs) override {
    int r = inner_->GetStringDescriptor(index, out, timeoutMs);
    std::fprintf(g_out, "128 6 %u 1033 255 ", 0x0300u | index);
    if (r != platform::kUsbOk) {
      std::fprintf(g_out, "%d -\n", r);
      return r;
    }
    std::fprintf(g_out, "%u %02x03", static_cast<unsigned>(2 + 2 * out->size()),
                 static_cast<unsigned>(2 + 2 * out->size()));
    for (char c : *out) std::fprintf(g_out, "%02x00", static_cast<unsigned char>(c));
    std::fputc('\n', g_out);
    return r;
  }
  int ClaimInterface(uint8_t number) override { return inner_->ClaimInterface(number); }
  // Under umockdev the backend selects the alternate setting with the standard request.
  int SetAltSetting(uint8_t number, uint8_t alternate) override {
    int r = inner_->SetAltSetting(number, alternate);
    std::fprintf(g_out, "1 11 %u %u 0 %d -\n", alternate, number, r);
    return r;
  }
  int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length, int timeoutMs) override {
    int r = inner_->ControlTransfer(requestType, request, value, index, data, length, timeoutMs);
    std::fprintf(g_out, "%u %u %u %u %u %d ", requestType, request, value, index, length, r);
    if ((requestType & 0x80) && r > 0) {
      for (int i = 0; i < r; ++i) std::fprintf(g_out, "%02x", data[i]);
    } else {
      std::fputc('-', g_out);
    }
    std::fputc('\n', g_out);
    return r;
  }

 private:
  std::unique_ptr<platform::UsbDevice> inner_;
};

class RecordingHost : public platform::UsbHost {
 public:
  int ListInterfaces(std::vector<platform::UsbInterfaceInfo>* out) override {
    return bus_.ListInterfaces(out);
  }
  int Open(const std::string& path, std::unique_ptr<platform::UsbDevice>* out) override {
    std::unique_ptr<platform::UsbDevice> inner;
    int r = bus_.Open(path, &inner);
    if (r == platform::kUsbOk) out->reset(new RecordingDevice(std::move(inner)));
    return r;
  }
  testsupport::SimUsbBus& bus() { return bus_; }

 private:
  testsupport::SimUsbBus bus_;  // installs itself; this host replaces it below
};

}  // namespace

// The package of the dialog's recording: 64 KiB from the start of the flash.
std::vector<uint8_t> DialogPackage() { return testsupport::Pattern(64 * 1024, 18); }

int RecordDialog(const char* packagePath, const char* tracePath) {
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  file.images.push_back(testsupport::OneElementImage(0, 0x08000000, DialogPackage()));
  if (!testsupport::WritePackage(packagePath, file)) return 1;
  g_out = std::fopen(tracePath, "w");
  if (!g_out) return 1;
  RecordingHost host;
  testsupport::SimDfuOptions o;
  o.writePollMs = 50;  // per block: the download lasts about two seconds
  o.erasePollMs = 0;
  auto device = host.bus().Add(o);
  platform::SetUsbHostForTesting(&host);
  bool ok = false;
  {
    ui::headless::HeadlessHost ui(ui::headless::ClockMode::kVirtual);
    ui.SetPrintMessageBoxes(false);
    ui::ScopedBackend scoped(&ui);
    DFUpgradeDialog dialog;
    dialog.SetHasDFUDevice(1);
    dialog.StartUpgrade(packagePath);
    if (dialog.Create()) {
      ok = testsupport::DriveHost(ui, [&] { return dialog.sequenceEnded(); }, 120000) &&
           dialog.flashCompleted();
      dialog.DestroyWindow();
    }
  }
  platform::SetUsbHostForTesting(nullptr);
  std::vector<uint8_t> flash;
  ok = ok && device->Read(0x08000000, 64 * 1024, &flash) && flash == DialogPackage();
  if (!ok) std::fprintf(stderr, "dfu_flash_trace: the dialog's flash did not complete\n");
  return std::fclose(g_out) == 0 && ok ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--dialog") return RecordDialog(argv[2], argv[3]);
  if (argc != 2) return 2;
  g_out = std::fopen(argv[1], "w");
  if (!g_out) return 1;
  RecordingHost host;
  testsupport::SimDfuOptions o;
  o.writePollMs = 0;  // no waits: the number of status requests is the protocol's own
  o.erasePollMs = 0;
  host.bus().Add(o);
  platform::SetUsbHostForTesting(&host);
  std::vector<std::string> failures;
  bool ok = dfutest::RunUmockdevFlash(&failures);
  platform::SetUsbHostForTesting(nullptr);
  for (const std::string& f : failures) std::fprintf(stderr, "dfu_flash_trace: %s\n", f.c_str());
  return std::fclose(g_out) == 0 && ok ? 0 : 1;
}
