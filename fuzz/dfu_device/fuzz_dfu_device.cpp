// Fuzzes the flashing dialog and the DFU library against a device whose every answer comes from
// the input: its configuration (functional descriptor, alternates), its layout strings, and then,
// request by request, each GETSTATUS reply (status, poll time, state), each UPLOAD's data of any
// length, stalls, time-outs and a device that is gone. The dialog runs its whole chain on the
// headless host (package check, discovery, mapping, option-bytes probe, erase, download, read
// back, leave) with a virtual clock, so that every wait the device asks for passes at once.
// Nothing may crash or hang, and the device must never be asked to erase or write outside the
// sectors the package covers (nor to mass-erase or unprotect).
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/dfu_file_format.h"
#include "dfu/dfuse/memory_layout.h"
#include "dfu/dfuse/stdfuprt.h"
#include "platform/usb.h"
#include "support/virtual_clock.h"
#include "ui/headless/headless_host.h"

namespace {

// The package: two elements in the first sectors of an STM32 layout.
constexpr uint32_t kFirst = 0x08000000;
constexpr uint32_t kSecond = 0x08004100;
const std::vector<uint8_t> kFirstData(600, 0x5A);
const std::vector<uint8_t> kSecondData(200, 0xA5);
std::string g_package;

bool InPackage(uint64_t address, uint64_t length) {
  auto inside = [&](uint32_t start, size_t size) {
    return address >= start && address + length <= start + static_cast<uint64_t>(size);
  };
  return inside(kFirst, kFirstData.size()) || inside(kSecond, kSecondData.size());
}

bool TouchesPackage(uint64_t start, uint64_t size) {
  auto overlaps = [&](uint32_t a, size_t n) { return start < a + n && a < start + size; };
  return overlaps(kFirst, kFirstData.size()) || overlaps(kSecond, kSecondData.size());
}

// The device: its answers from the input, its requests checked.
class ScriptedDevice {
 public:
  explicit ScriptedDevice(FuzzedDataProvider* in) : in_(in) {
    if (in_->ConsumeBool()) {
      config_ = in_->ConsumeBytes<uint8_t>(in_->ConsumeIntegralInRange<size_t>(0, 80));
    } else {
      const int alternates = in_->ConsumeIntegralInRange(1, 3);
      config_ = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
      const uint8_t protocol = in_->ConsumeProbability<float>() < 0.95f ? 2 : 1;
      for (int i = 0; i < alternates; ++i) {
        const uint8_t alt = in_->ConsumeProbability<float>() < 0.9f
                                ? static_cast<uint8_t>(i)
                                : in_->ConsumeIntegral<uint8_t>();
        const uint8_t itf[9] = {9, 4, 0, alt, 0, 0xFE, 0x01, protocol,
                                static_cast<uint8_t>(4 + i)};
        config_.insert(config_.end(), itf, itf + 9);
      }
      const uint8_t attributes = in_->ConsumeIntegral<uint8_t>();
      const uint16_t transfer = in_->ConsumeBool() ? in_->ConsumeIntegral<uint16_t>() : 2048;
      const uint16_t version = in_->ConsumeBool() ? in_->ConsumeIntegral<uint16_t>() : 0x011A;
      const uint8_t functional[9] = {9, 0x21, attributes, 0xFF, 0,
                                     static_cast<uint8_t>(transfer),
                                     static_cast<uint8_t>(transfer >> 8),
                                     static_cast<uint8_t>(version),
                                     static_cast<uint8_t>(version >> 8)};
      config_.insert(config_.end(), functional, functional + 9);
      config_[2] = static_cast<uint8_t>(config_.size());
    }
    for (int i = 0; i < 3; ++i) strings_.push_back(in_->ConsumeRandomLengthString(80));
    // The sectors as the host reads them from alternate 0's string: erases must stay there.
    if (ParseMemoryLayout(strings_[0], &layout_)) parsed_ = true;
  }

  std::mutex& lock() { return lock_; }
  const std::vector<uint8_t>& config() const { return config_; }

  int String(uint8_t index, std::string* out, int timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    int fault = Fault(&hold, timeoutMs);
    if (fault) return fault;
    if (index == 2) {
      *out = "STM32  BOOTLOADER";
    } else if (index >= 4 && index < 7) {
      *out = strings_[index - 4];
    } else {
      return platform::kUsbErrStall;
    }
    return platform::kUsbOk;
  }

  int SetAlt() {
    std::unique_lock<std::mutex> hold(lock_);
    return Fault(&hold, 0);
  }

  int Control(uint8_t requestType, uint8_t request, uint16_t value, uint8_t* data,
              uint16_t length, int timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    const bool in = requestType & 0x80;
    if (!in && request == 1) Check(value, data, length);
    int fault = Fault(&hold, timeoutMs);
    if (fault) return fault;
    if (!in) return length;
    if (request == 3) {  // GETSTATUS
      std::vector<uint8_t> reply = in_->ConsumeBytes<uint8_t>(6);
      reply.resize(6);
      if (in_->ConsumeBool()) reply[1] = reply[2] = reply[3] = 0;  // mostly no long polls
      std::memcpy(data, reply.data(), length < 6 ? length : 6);
      return in_->ConsumeProbability<float>() < 0.97f ? 6 : in_->ConsumeIntegralInRange(0, 5);
    }
    // UPLOAD, GETSTATE and anything else that reads: any length up to what was asked.
    size_t n = in_->ConsumeBool() ? length : in_->ConsumeIntegralInRange<size_t>(0, length);
    std::vector<uint8_t> reply = in_->ConsumeBytes<uint8_t>(n);
    if (!reply.empty()) std::memcpy(data, reply.data(), reply.size());
    return static_cast<int>(reply.size());
  }

 private:
  // One answer in eight or so is a failure; once the input is used up the device is silent.
  int Fault(std::unique_lock<std::mutex>* hold, int timeoutMs) {
    if (gone_) return platform::kUsbErrNoDevice;
    uint8_t action = in_->remaining_bytes() ? in_->ConsumeIntegral<uint8_t>() : 0xFE;
    if (action < 0xE0) return 0;
    if (action < 0xF0) return platform::kUsbErrStall;
    if (action < 0xF8) return platform::kUsbErrIo;
    if (action == 0xFF) {
      gone_ = true;
      return platform::kUsbErrNoDevice;
    }
    hold->unlock();
    platform::SleepMs(timeoutMs);
    hold->lock();
    return platform::kUsbErrTimeout;
  }

  // What the host asks the device to do to its flash.
  void Check(uint16_t block, const uint8_t* data, uint16_t length) {
    if (block == 0) {
      if (length == 0) return;
      if (data[0] == 0x92 || (data[0] == 0x41 && length != 5)) {
        std::fprintf(stderr, "mass erase or unprotect asked for\n");
        abort();
      }
      if (length != 5) return;
      const uint32_t address = data[1] | (data[2] << 8) | (data[3] << 16) |
                               (static_cast<uint32_t>(data[4]) << 24);
      if (data[0] == 0x21) pointer_ = address;
      if (data[0] == 0x41) {
        bool ok = false;
        for (const DfuSector& s : layout_.sectors)
          if (address >= s.address && address - s.address < s.size)
            ok = TouchesPackage(s.address, s.size);
        if (!parsed_ || !ok) {
          std::fprintf(stderr, "erase of 0x%08X outside the package's sectors\n", address);
          abort();
        }
      }
      return;
    }
    if (length == 0 || block < 2) return;
    const uint64_t address = pointer_ + static_cast<uint64_t>(block - 2) * length;
    if (!InPackage(address, length)) {
      std::fprintf(stderr, "write of %u bytes at 0x%08llX outside the package\n", length,
                   static_cast<unsigned long long>(address));
      abort();
    }
  }

  std::mutex lock_;
  FuzzedDataProvider* in_;
  std::vector<uint8_t> config_;
  std::vector<std::string> strings_;
  DfuMappingEntry layout_;
  bool parsed_ = false;
  bool gone_ = false;
  uint32_t pointer_ = 0x08000000;
};

class Usb : public platform::UsbDevice {
 public:
  explicit Usb(ScriptedDevice* d) : d_(d) {}
  int GetDeviceDescriptor(uint8_t out[18]) override {
    const uint8_t d[18] = {18, 1, 0, 2, 0, 0, 0, 64, 0x83, 0x04, 0x11, 0xDF, 0, 0x22, 1, 2, 3, 1};
    std::memcpy(out, d, 18);
    return platform::kUsbOk;
  }
  int GetConfigDescriptor(std::vector<uint8_t>* out) override {
    *out = d_->config();
    return platform::kUsbOk;
  }
  int GetStringDescriptor(uint8_t index, std::string* out, int timeoutMs) override {
    return d_->String(index, out, timeoutMs);
  }
  int ClaimInterface(uint8_t) override { return platform::kUsbOk; }
  int SetAltSetting(uint8_t, uint8_t) override { return d_->SetAlt(); }
  int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t,
                      uint8_t* data, uint16_t length, int timeoutMs) override {
    return d_->Control(requestType, request, value, data, length, timeoutMs);
  }

 private:
  ScriptedDevice* d_;
};

class Host : public platform::UsbHost {
 public:
  explicit Host(ScriptedDevice* d) : d_(d) {}
  int ListInterfaces(std::vector<platform::UsbInterfaceInfo>* out) override {
    platform::UsbInterfaceInfo info;
    info.path = "fuzz#dev0";
    info.description = "STM32  BOOTLOADER";
    info.interfaceClass = 0xFE;
    info.interfaceSubClass = 0x01;
    info.interfaceProtocol = 2;
    out->assign(1, info);
    return platform::kUsbOk;
  }
  int Open(const std::string&, std::unique_ptr<platform::UsbDevice>* out) override {
    out->reset(new Usb(d_));
    return platform::kUsbOk;
  }

 private:
  ScriptedDevice* d_;
};

// Waits (in real time) for a running operation's worker to reach its end, so that each tick of
// the dialog sees the operation's outcome; a worker that never ends is a hang.
void AwaitOperation(DfuOperationHandle handle) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    OperationContext now;
    if (STDFUPRT_GetOperationStatus(handle, &now) != STDFU_NOERROR) return;
    if (now.percent == 100 || now.errorCode != STDFU_NOERROR) return;
    if (std::chrono::steady_clock::now() > end) {
      std::fprintf(stderr, "an operation never ended\n");
      abort();
    }
    // Not a spin: on a busy machine the worker needs this core.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/ovra7-fuzz-dfu-XXXXXX";
  if (!mkdtemp(dir)) abort();
  g_package = std::string(dir) + "/package.dfu";
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  DfuImageData image;
  image.alternate = 0;
  image.elements.push_back(DfuElementData{kFirst, kFirstData});
  image.elements.push_back(DfuElementData{kSecond, kSecondData});
  file.images.push_back(image);
  std::vector<uint8_t> bytes = BuildDfuFile(file);
  std::FILE* f = std::fopen(g_package.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) abort();
  std::fclose(f);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ScriptedDevice device(&in);
  Host host(&device);
  platform::SetUsbHostForTesting(&host);
  testsupport::VirtualClock clock(false);
  ui::headless::HeadlessHost ui(ui::headless::ClockMode::kVirtual);
  ui.SetPrintMessageBoxes(false);
  ui.SetUserPresent(false);  // a console: the chain ends by itself
  {
    ui::ScopedBackend scoped(&ui);
    DFUpgradeDialog dialog;
    dialog.SetHasDFUDevice(1);
    dialog.StartUpgrade(g_package);
    if (!dialog.Create()) abort();
    int ticks = 0;
    while (!dialog.sequenceEnded()) {
      if (dialog.m_OperationHandle) AwaitOperation(dialog.m_OperationHandle);
      const int64_t next = ui.NextTimerInMs();
      if (next < 0 || ++ticks > 2000) {
        std::fprintf(stderr, "the flashing sequence never ended (%d ticks)\n", ticks);
        abort();
      }
      ui.AdvanceTime(static_cast<uint64_t>(next));
    }
    dialog.DestroyWindow();
  }
  platform::SetUsbHostForTesting(nullptr);
  return 0;
}
