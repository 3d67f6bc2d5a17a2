// The simulated DFU device's state machine and memory. Portable.
#include "sim_dfu_device.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "dfu/dfuse/memory_layout.h"
#include "platform/clock.h"

namespace testsupport {

namespace {

enum : uint8_t {
  kOk = 0x00,
  kErrTarget = 0x01,
  kErrWrite = 0x03,
  kErrProg = 0x06,
  kErrAddress = 0x08,
  kErrVendor = 0x0B,
  kErrUnknown = 0x0E,
  kErrStalledPkt = 0x0F,
};
enum : uint8_t {
  kIdle = 2,
  kDnloadSync = 3,
  kDnBusy = 4,
  kDnloadIdle = 5,
  kManifestSync = 6,
  kManifest = 7,
  kUploadIdle = 9,
  kError = 10,
};
constexpr uint32_t kOptionBytes = 0x1FFFF800;

}  // namespace

SimDfuDevice::SimDfuDevice(const SimDfuOptions& options)
    : options_(options), state_(options.startInError ? kError : kIdle) {
  DfuMappingEntry flash;
  uint32_t start = 0x08000000, end = start;
  if (!options_.layouts.empty() && ParseMemoryLayout(options_.layouts[0], &flash)) {
    start = flash.sectors.front().address;
    for (const DfuSector& s : flash.sectors) {
      sectors_.push_back({s.address, s.size});
      end = s.address + s.size;
    }
  }
  regions_.push_back(Region{start, std::vector<uint8_t>(end - start, 0xFF)});
  uint8_t rdp = options_.readProtected ? 0x00 : 0xA5;
  std::vector<uint8_t> opt = {rdp, static_cast<uint8_t>(~rdp), 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};
  for (int i = 0; i < 4; ++i) {
    uint8_t w = static_cast<uint8_t>(options_.writeProtection >> (8 * i));
    opt.push_back(w);
    opt.push_back(static_cast<uint8_t>(~w));
  }
  regions_.push_back(Region{kOptionBytes, opt});
  if (options_.startInError) status_ = kErrUnknown;
}

SimDfuDevice::Region* SimDfuDevice::RegionFor(uint32_t address, uint32_t length) {
  for (Region& r : regions_) {
    if (address >= r.address && static_cast<uint64_t>(address) + length <=
                                    r.address + static_cast<uint64_t>(r.bytes.size()))
      return &r;
  }
  return nullptr;
}

const SimDfuDevice::Region* SimDfuDevice::RegionFor(uint32_t address, uint32_t length) const {
  return const_cast<SimDfuDevice*>(this)->RegionFor(address, length);
}

bool SimDfuDevice::Read(uint32_t address, uint32_t length, std::vector<uint8_t>* out) const {
  std::lock_guard<std::mutex> hold(lock_);
  const Region* r = RegionFor(address, length);
  if (!r) return false;
  auto from = r->bytes.begin() + (address - r->address);
  out->assign(from, from + length);
  return true;
}

void SimDfuDevice::Fill(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  Region* r = RegionFor(address, static_cast<uint32_t>(bytes.size()));
  if (r) std::memcpy(r->bytes.data() + (address - r->address), bytes.data(), bytes.size());
}

bool SimDfuDevice::gone() const {
  std::lock_guard<std::mutex> hold(lock_);
  return gone_;
}
bool SimDfuDevice::left() const {
  std::lock_guard<std::mutex> hold(lock_);
  return left_;
}
int SimDfuDevice::leaveBlock() const {
  std::lock_guard<std::mutex> hold(lock_);
  return leaveBlock_;
}
uint8_t SimDfuDevice::state() const {
  std::lock_guard<std::mutex> hold(lock_);
  return state_;
}
uint64_t SimDfuDevice::controlTransfers() const {
  std::lock_guard<std::mutex> hold(lock_);
  return transfers_;
}
uint64_t SimDfuDevice::sectorErases() const {
  std::lock_guard<std::mutex> hold(lock_);
  return erases_;
}
uint64_t SimDfuDevice::requiredWaitMs() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requiredWaitMs_;
}
bool SimDfuDevice::holding() const {
  std::lock_guard<std::mutex> hold(lock_);
  return holding_;
}
void SimDfuDevice::Release() {
  std::lock_guard<std::mutex> hold(lock_);
  if (options_.holdAfterErases >= 0 && erases_ >= static_cast<uint64_t>(options_.holdAfterErases))
    options_.holdAfterErases = -1;
  if (options_.holdAfterBytes >= 0 && bytesCommitted_ >= options_.holdAfterBytes)
    options_.holdAfterBytes = -1;
  if (options_.holdAfterReads >= 0 && bytesRead_ >= options_.holdAfterReads)
    options_.holdAfterReads = -1;
  holding_ = false;
}
void SimDfuDevice::Unplug() {
  std::lock_guard<std::mutex> hold(lock_);
  gone_ = true;
}
bool SimDfuDevice::HoldDue() const {
  return (options_.holdAfterErases >= 0 &&
          erases_ >= static_cast<uint64_t>(options_.holdAfterErases)) ||
         (options_.holdAfterBytes >= 0 && bytesCommitted_ >= options_.holdAfterBytes) ||
         (options_.holdAfterReads >= 0 && bytesRead_ >= options_.holdAfterReads);
}
uint64_t SimDfuDevice::earlyPolls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return earlyPolls_;
}

// A request the state does not allow: STALL, and the device waits in dfuERROR.
int SimDfuDevice::Stall(uint8_t status) {
  state_ = kError;
  status_ = status;
  return platform::kUsbErrStall;
}

bool SimDfuDevice::SectorWritable(uint32_t address) const {
  for (size_t j = 0; j < sectors_.size(); ++j) {
    if (address >= sectors_[j].first && address - sectors_[j].first < sectors_[j].second) {
      unsigned bit = j < 128 ? static_cast<unsigned>(j / 4) : 31;
      return (options_.writeProtection >> bit) & 1;
    }
  }
  return true;  // option bytes
}

uint8_t SimDfuDevice::Execute() {
  if (pendingBlock_ == 0) {
    if (pending_.empty()) return kErrStalledPkt;
    uint8_t code = pending_[0];
    uint32_t address = 0;
    if (pending_.size() == 5)
      address = pending_[1] | (pending_[2] << 8) | (pending_[3] << 16) |
                (static_cast<uint32_t>(pending_[4]) << 24);
    if (code == 0x21 && pending_.size() == 5) {
      pointer_ = address;  // allowed under read protection
      return kOk;
    }
    if (code == 0x41 && pending_.size() == 5) {
      if (options_.readProtected) return kErrVendor;
      for (const auto& s : sectors_) {
        if (address < s.first || address - s.first >= s.second) continue;
        ++erases_;
        extraBusy_ = options_.longEraseExtraPolls;
        // A write-protected sector is silently left as it is.
        if (SectorWritable(s.first)) {
          Region* r = RegionFor(s.first, s.second);
          if (r) std::memset(r->bytes.data() + (s.first - r->address), 0xFF, s.second);
        }
        return kOk;
      }
      return kErrTarget;
    }
    return kErrStalledPkt;
  }
  uint32_t address = pointer_ + (pendingBlock_ - 2u) * static_cast<uint32_t>(pending_.size());
  if (options_.readProtected) return kErrVendor;
  Region* r = RegionFor(address, static_cast<uint32_t>(pending_.size()));
  if (!r) return kErrAddress;
  for (size_t i = 0; i < pending_.size(); ++i)
    if (!SectorWritable(static_cast<uint32_t>(address + i))) return kErrWrite;
  uint8_t* at = r->bytes.data() + (address - r->address);
  for (size_t i = 0; i < pending_.size(); ++i) {
    // Flash only clears bits: a byte not erased first cannot take new data.
    if (at[i] != 0xFF && at[i] != pending_[i]) return kErrProg;
  }
  std::memcpy(at, pending_.data(), pending_.size());
  if (options_.brokenCell >= address && options_.brokenCell - address < pending_.size())
    at[options_.brokenCell - address] = 0xFF;
  return kOk;
}

int SimDfuDevice::GetStatus(uint8_t* data, uint16_t length) {
  if (length < 6) return Stall(kErrStalledPkt);
  if (stallsLeft_ > 0) {
    --stallsLeft_;
    return platform::kUsbErrStall;  // transient: the state stays as it was
  }
  uint32_t poll = 0;
  uint64_t now = platform::NowMs();
  if (HoldDue()) {
    holding_ = true;
    const uint8_t busy[6] = {kOk, 10, 0, 0, kDnBusy, 0};
    std::memcpy(data, busy, 6);
    return 6;
  }
  if (state_ == kDnloadSync) {
    pendingResult_ = Execute();
    poll = (pendingBlock_ == 0 && !pending_.empty() && pending_[0] == 0x41) ? options_.erasePollMs
                                                                            : options_.writePollMs;
    busyUntilMs_ = now + poll;
    requiredWaitMs_ += poll;
    state_ = kDnBusy;
    status_ = kOk;
  } else if (state_ == kDnBusy) {
    if (now < busyUntilMs_ || extraBusy_ > 0) {
      if (now < busyUntilMs_) {
        ++earlyPolls_;
        poll = static_cast<uint32_t>(busyUntilMs_ - now);
      } else {
        --extraBusy_;
        poll = options_.erasePollMs;
        busyUntilMs_ = now + poll;
        requiredWaitMs_ += poll;
      }
    } else if (pendingResult_ != kOk) {
      state_ = kError;
      status_ = pendingResult_;
    } else {
      state_ = kDnloadIdle;
      status_ = kOk;
      if (pendingBlock_ >= 2) bytesCommitted_ += static_cast<int64_t>(pending_.size());
    }
  } else if (state_ == kManifestSync) {
    state_ = kManifest;
    left_ = true;
  }
  data[0] = status_;
  data[1] = static_cast<uint8_t>(poll);
  data[2] = static_cast<uint8_t>(poll >> 8);
  data[3] = static_cast<uint8_t>(poll >> 16);
  data[4] = state_;
  data[5] = 0;
  // Not manifestation-tolerant: the boot loader jumps away after this reply.
  if (state_ == kManifest) gone_ = true;
  return 6;
}

int SimDfuDevice::Dnload(uint16_t block, const uint8_t* data, uint16_t length) {
  if (state_ != kIdle && state_ != kDnloadIdle) return Stall(kErrStalledPkt);
  if (length > options_.transferSize) return Stall(kErrStalledPkt);
  if (length == 0) {
    leaveBlock_ = block;
    if (options_.refusesLeave) return Stall(kErrStalledPkt);
    // Such a firmware reads block 0 as a command before it looks at the length.
    if (block == 0 && options_.decodesBlockFirst) return Stall(kErrStalledPkt);
    state_ = kManifestSync;
    if (options_.resetsOnLeave) {
      left_ = true;
      gone_ = true;
    }
    return 0;
  }
  if (block == 1) return Stall(kErrStalledPkt);
  if (block == 0) ++commands_;
  pending_.assign(data, data + length);
  pendingBlock_ = block;
  state_ = kDnloadSync;
  stallsLeft_ = options_.stallStatusAfterCommand;
  if (block >= 2) {
    bytesWritten_ += length;
    if (options_.unplugAfterBytes >= 0 && bytesWritten_ >= options_.unplugAfterBytes) gone_ = true;
  }
  return length;
}

int SimDfuDevice::Upload(uint16_t block, uint8_t* data, uint16_t length) {
  if (state_ != kIdle && state_ != kUploadIdle) return Stall(kErrStalledPkt);
  if (block == 0) {
    if (!options_.dfuseCommands) return Stall(kErrStalledPkt);
    const uint8_t list[4] = {0x00, 0x21, 0x41, 0x92};
    uint16_t n = length < 4 ? length : 4;
    std::memcpy(data, list, n);
    state_ = kUploadIdle;
    return n;
  }
  if (block == 1) return Stall(kErrStalledPkt);
  if (length > options_.transferSize) return Stall(kErrStalledPkt);
  uint32_t address = pointer_ + (block - 2u) * length;
  if (options_.readProtected) return Stall(kErrVendor);
  Region* r = RegionFor(address, length);
  if (!r) return Stall(kErrAddress);
  std::memcpy(data, r->bytes.data() + (address - r->address), length);
  state_ = kUploadIdle;
  bytesRead_ += length;
  return length;
}

int SimDfuDevice::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t,
                          uint8_t* data, uint16_t length, int timeoutMs) {
  std::unique_lock<std::mutex> hold(lock_);
  ++transfers_;
  if (gone_) return platform::kUsbErrNoDevice;
  if (request == 3 && options_.silentStatusAfterCommands >= 0 &&
      commands_ >= static_cast<uint64_t>(options_.silentStatusAfterCommands)) {
    hold.unlock();
    platform::SleepMs(timeoutMs);
    return platform::kUsbErrTimeout;
  }
  if ((requestType & 0x60) != 0x20) return platform::kUsbErrStall;
  if (options_.stallsEverything) return platform::kUsbErrStall;
  bool in = (requestType & 0x80) != 0;
  switch (request) {
    case 0:  // DETACH: the boot loader resets into its application
      gone_ = true;
      return 0;
    case 1:
      return in ? Stall(kErrStalledPkt) : Dnload(value, data, length);
    case 2:
      return in ? Upload(value, data, length) : Stall(kErrStalledPkt);
    case 3:
      return in ? GetStatus(data, length) : Stall(kErrStalledPkt);
    case 4:  // CLRSTATUS: only dfuERROR can be cleared
      if (state_ != kError) return options_.clearsStatusAnywhere ? 0 : Stall(kErrStalledPkt);
      state_ = kIdle;
      status_ = kOk;
      return 0;
    case 5:
      if (!in || length < 1) return Stall(kErrStalledPkt);
      data[0] = state_;
      return 1;
    case 6:  // ABORT
      if (state_ == kIdle || state_ == kDnloadSync || state_ == kDnloadIdle ||
          state_ == kManifestSync || state_ == kUploadIdle) {
        state_ = kIdle;
        return 0;
      }
      return Stall(kErrStalledPkt);
    default:
      return Stall(kErrStalledPkt);
  }
}

int SimDfuDevice::SetAlt(uint8_t alternate) {
  std::lock_guard<std::mutex> hold(lock_);
  ++transfers_;
  if (gone_) return platform::kUsbErrNoDevice;
  if (alternate >= options_.layouts.size()) return platform::kUsbErrStall;
  alternate_ = alternate;
  return platform::kUsbOk;
}

std::vector<uint8_t> SimDfuDevice::ConfigDescriptor() const {
  std::vector<uint8_t> d = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
  for (size_t i = 0; i < options_.layouts.size(); ++i) {
    const uint8_t itf[9] = {9,
                            4,
                            0,
                            static_cast<uint8_t>(i),
                            0,
                            0xFE,
                            0x01,
                            options_.interfaceProtocol,
                            static_cast<uint8_t>(4 + i)};
    d.insert(d.end(), itf, itf + 9);
  }
  const uint8_t functional[9] = {9,
                                 0x21,
                                 options_.attributes,
                                 0xFF,
                                 0x00,
                                 static_cast<uint8_t>(options_.transferSize),
                                 static_cast<uint8_t>(options_.transferSize >> 8),
                                 static_cast<uint8_t>(options_.dfuVersion),
                                 static_cast<uint8_t>(options_.dfuVersion >> 8)};
  if (!options_.noFunctionalDescriptor) d.insert(d.end(), functional, functional + 9);
  d[2] = static_cast<uint8_t>(d.size());
  d[3] = static_cast<uint8_t>(d.size() >> 8);
  return d;
}

void SimDfuDevice::DeviceDescriptor(uint8_t out[18]) const {
  const uint8_t d[18] = {18,
                         1,
                         0x00,
                         0x02,
                         0,
                         0,
                         0,
                         64,
                         static_cast<uint8_t>(options_.vendorId),
                         static_cast<uint8_t>(options_.vendorId >> 8),
                         static_cast<uint8_t>(options_.productId),
                         static_cast<uint8_t>(options_.productId >> 8),
                         static_cast<uint8_t>(options_.bcdDevice),
                         static_cast<uint8_t>(options_.bcdDevice >> 8),
                         1,
                         2,
                         3,
                         1};
  std::memcpy(out, d, 18);
}

int SimDfuDevice::StringDescriptor(uint8_t index, std::string* out) {
  std::lock_guard<std::mutex> hold(lock_);
  ++transfers_;
  if (gone_) return platform::kUsbErrNoDevice;
  if (index == 1)
    *out = "STMicroelectronics";
  else if (index == 2)
    *out = options_.product;
  else if (index == 3)
    *out = "SIM000001";
  else if (index >= 4 && index - 4u < options_.layouts.size())
    *out = options_.layouts[index - 4];
  else
    return platform::kUsbErrStall;
  return platform::kUsbOk;
}

namespace {

class SimUsbDevice : public platform::UsbDevice {
 public:
  SimUsbDevice(std::shared_ptr<SimDfuDevice> device, std::shared_ptr<std::atomic<int>> open,
               std::shared_ptr<std::atomic<int>> deviceOpen)
      : device_(std::move(device)), open_(std::move(open)), deviceOpen_(std::move(deviceOpen)) {
    ++*open_;
    ++*deviceOpen_;
  }
  ~SimUsbDevice() override {
    --*open_;
    --*deviceOpen_;
  }

  int GetDeviceDescriptor(uint8_t out[18]) override {
    if (device_->options().deviceDescriptorFails) return platform::kUsbErrIo;
    device_->DeviceDescriptor(out);
    return platform::kUsbOk;
  }
  int GetConfigDescriptor(std::vector<uint8_t>* out) override {
    *out = device_->ConfigDescriptor();
    return platform::kUsbOk;
  }
  int GetStringDescriptor(uint8_t index, std::string* out, int) override {
    return device_->StringDescriptor(index, out);
  }
  int ClaimInterface(uint8_t number) override {
    return number == 0 && !device_->gone() ? platform::kUsbOk : platform::kUsbErrNotFound;
  }
  int SetAltSetting(uint8_t, uint8_t alternate) override { return device_->SetAlt(alternate); }
  int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t* data, uint16_t length, int timeoutMs) override {
    return device_->Control(requestType, request, value, index, data, length, timeoutMs);
  }

 private:
  std::shared_ptr<SimDfuDevice> device_;
  std::shared_ptr<std::atomic<int>> open_;
  std::shared_ptr<std::atomic<int>> deviceOpen_;
};

}  // namespace

std::shared_ptr<SimDfuDevice> SimUsbBus::Add(const SimDfuOptions& options) {
  std::lock_guard<std::mutex> hold(lock_);
  devices_.push_back(std::make_shared<SimDfuDevice>(options));
  deviceOpens_.push_back(std::make_shared<std::atomic<int>>(0));
  hiddenFor_.push_back(0);
  return devices_.back();
}

std::shared_ptr<SimDfuDevice> SimUsbBus::AddAfterListings(const SimDfuOptions& options,
                                                          int listings) {
  std::lock_guard<std::mutex> hold(lock_);
  devices_.push_back(std::make_shared<SimDfuDevice>(options));
  hiddenFor_.push_back(listings);
  deviceOpens_.push_back(std::make_shared<std::atomic<int>>(0));
  return devices_.back();
}

int SimUsbBus::ListInterfaces(std::vector<platform::UsbInterfaceInfo>* out) {
  std::lock_guard<std::mutex> hold(lock_);
  out->clear();
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (hiddenFor_[i] > 0) {
      --hiddenFor_[i];
      continue;
    }
    if (devices_[i]->gone()) continue;
    platform::UsbInterfaceInfo info;
    info.path = "sim#dev" + std::to_string(i) + "#if00";
    info.description = devices_[i]->options().product;
    info.vendorId = devices_[i]->options().vendorId;
    info.productId = devices_[i]->options().productId;
    info.interfaceClass = 0xFE;
    info.interfaceSubClass = 0x01;
    info.interfaceProtocol = devices_[i]->options().interfaceProtocol;
    out->push_back(info);
  }
  return platform::kUsbOk;
}

int SimUsbBus::Open(const std::string& path, std::unique_ptr<platform::UsbDevice>* out) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string p = path;
  for (char& c : p) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  unsigned index = 0;
  if (std::sscanf(p.c_str(), "sim#dev%u#if00", &index) != 1 || index >= devices_.size() ||
      hiddenFor_[index] > 0 || devices_[index]->gone())
    return platform::kUsbErrNotFound;
  if (*deviceOpens_[index] > 0) {
    ++refused_;
    return platform::kUsbErrBusy;
  }
  out->reset(new SimUsbDevice(devices_[index], open_, deviceOpens_[index]));
  return platform::kUsbOk;
}

int SimUsbBus::openDevices() const { return open_->load(); }

int SimUsbBus::refusedOpens() const {
  std::lock_guard<std::mutex> hold(lock_);
  return refused_;
}

}  // namespace testsupport
