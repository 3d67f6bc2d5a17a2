// A simulated STM32-like DFU device behind platform/usb.h: flash with the sectors of its
// layout (erased bytes 0xFF, writes only into erased memory), option bytes at 0x1FFFF800, the
// DFU state machine with poll time-outs, and fault modes. Portable. Thread-safe: an operation's
// worker talks to it while the test inspects it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace testsupport {

struct SimDfuOptions {
  uint16_t vendorId = 0x0483;
  uint16_t productId = 0xDF11;
  uint16_t bcdDevice = 0x2200;
  uint16_t dfuVersion = 0x011A;
  uint16_t transferSize = 2048;
  uint8_t attributes = 0x0B;      // can download, can upload, will detach
  uint8_t interfaceProtocol = 2;  // 2: DFU mode (class A); 1: run-time (class B)
  std::string product = "STM32  BOOTLOADER";
  std::vector<std::string> layouts = {"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg",
                                      "@Option Bytes  /0x1FFFF800/01*016 e"};
  uint32_t writePollMs = 1;   // poll time-out reported for commands and data blocks
  uint32_t erasePollMs = 1;   // poll time-out reported for a sector erase
  bool dfuseCommands = true;  // answers the command list (UPLOAD block 0)

  // Fault modes.
  bool startInError = false;              // enumerates in dfuERROR
  int stallStatusAfterCommand = 0;        // stalls this many GETSTATUS after every command or block
  int longEraseExtraPolls = 0;            // an erase stays busy for this many more polls
  bool readProtected = false;             // uploads, writes and erases end in dfuERROR (errVENDOR)
  uint32_t writeProtection = 0xFFFFFFFF;  // WRP word of the option bytes (bit set: writable)
  bool resetsOnLeave = false;             // gone right after the zero-length download
  bool refusesLeave = false;              // stalls the zero-length download (stays in DFU mode)
  int64_t unplugAfterBytes = -1;          // gone once this many data bytes were written
  bool stallsEverything = false;          // every class request stalls (broken firmware)
  bool decodesBlockFirst = false;         // a zero-length block 0 is an empty command (stalls)
  bool deviceDescriptorFails = false;     // the device descriptor cannot be read
  bool noFunctionalDescriptor = false;    // the DFU interface lacks its functional descriptor
  uint32_t brokenCell = 0;                // a flash byte that never takes data (stays 0xFF); 0: none
  // Acknowledges a CLRSTATUS in any state and stays where it was (outside dfuERROR); the default
  // stalls it there and goes to dfuERROR, as DFU 1.1's state table has it.
  bool clearsStatusAnywhere = false;
  // Once this many DfuSe commands (block-0 downloads) were taken, no GETSTATUS is answered any
  // more: each waits out its time-out (on platform::SleepMs) and fails with kUsbErrTimeout.
  int silentStatusAfterCommands = -1;

  // Holds: from the status request after the threshold on, the device answers "busy, poll
  // again in 10 ms" until Release (an operation then runs for as long as the test needs).
  int holdAfterErases = -1;       // sector erases executed
  int64_t holdAfterBytes = -1;    // data bytes written and committed
  int64_t holdAfterReads = -1;    // data bytes read back
};

class SimDfuDevice {
 public:
  explicit SimDfuDevice(const SimDfuOptions& options = SimDfuOptions());

  // Memory as the device holds it (0xFF where erased); false outside flash and option bytes.
  bool Read(uint32_t address, uint32_t length, std::vector<uint8_t>* out) const;
  // Preloads flash without the device's rules (a chip that already holds firmware).
  void Fill(uint32_t address, const std::vector<uint8_t>& bytes);
  bool gone() const;
  bool left() const;  // manifested after a leave request
  int leaveBlock() const;  // block number of the last zero-length download, -1 before one
  uint8_t state() const;
  uint64_t controlTransfers() const;
  uint64_t sectorErases() const;
  // Busy replies given because a status request came before the poll time-out had passed.
  uint64_t earlyPolls() const;
  // The least time a host must have waited so far: the poll time-outs of every busy reply
  // that was not asked for early.
  uint64_t requiredWaitMs() const;
  const SimDfuOptions& options() const { return options_; }
  // Whether a hold has answered a status request (the operation is inside it now), and the end
  // of the holds reached so far (a threshold not reached yet still holds later).
  bool holding() const;
  void Release();
  // The device is unplugged: every later request fails as with a device that is gone.
  void Unplug();

  // The platform/usb.h side.
  int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
              uint16_t length, int timeoutMs = 5000);
  int SetAlt(uint8_t alternate);
  std::vector<uint8_t> ConfigDescriptor() const;
  void DeviceDescriptor(uint8_t out[18]) const;
  int StringDescriptor(uint8_t index, std::string* out);

 private:
  struct Region {
    uint32_t address;
    std::vector<uint8_t> bytes;
  };
  Region* RegionFor(uint32_t address, uint32_t length);
  const Region* RegionFor(uint32_t address, uint32_t length) const;
  int Stall(uint8_t status);
  int GetStatus(uint8_t* data, uint16_t length);
  int Dnload(uint16_t block, const uint8_t* data, uint16_t length);
  int Upload(uint16_t block, uint8_t* data, uint16_t length);
  uint8_t Execute();  // runs the pending command or block; returns a DFU status code
  bool SectorWritable(uint32_t address) const;
  bool HoldDue() const;

  mutable std::mutex lock_;
  SimDfuOptions options_;
  std::vector<Region> regions_;                         // flash, option bytes
  std::vector<std::pair<uint32_t, uint32_t>> sectors_;  // flash sectors: address, size
  uint8_t state_;
  uint8_t status_ = 0;
  uint8_t alternate_ = 0;
  uint32_t pointer_ = 0x08000000;
  std::vector<uint8_t> pending_;
  uint16_t pendingBlock_ = 0;
  uint8_t pendingResult_ = 0;
  uint64_t busyUntilMs_ = 0;
  int extraBusy_ = 0;
  int stallsLeft_ = 0;
  int64_t bytesWritten_ = 0;
  int64_t bytesCommitted_ = 0;
  int64_t bytesRead_ = 0;
  bool holding_ = false;
  bool gone_ = false;
  bool left_ = false;
  int leaveBlock_ = -1;
  uint64_t transfers_ = 0;
  uint64_t commands_ = 0;
  uint64_t erases_ = 0;
  uint64_t earlyPolls_ = 0;
  uint64_t requiredWaitMs_ = 0;
};

// A bus of simulated devices, installed as the USB host for the core. Like WinUSB, it refuses
// to open a device that is already open (kUsbErrBusy).
class SimUsbBus : public platform::UsbHost {
 public:
  SimUsbBus() { platform::SetUsbHostForTesting(this); }
  ~SimUsbBus() override { platform::SetUsbHostForTesting(nullptr); }
  SimUsbBus(const SimUsbBus&) = delete;
  SimUsbBus& operator=(const SimUsbBus&) = delete;

  std::shared_ptr<SimDfuDevice> Add(const SimDfuOptions& options = SimDfuOptions());
  // A device that shows up only after `listings` more enumerations (a reader that restarts
  // into DFU mode takes a moment to appear).
  std::shared_ptr<SimDfuDevice> AddAfterListings(const SimDfuOptions& options, int listings);
  int ListInterfaces(std::vector<platform::UsbInterfaceInfo>* out) override;
  int Open(const std::string& path, std::unique_ptr<platform::UsbDevice>* out) override;
  // Devices left open (a leak shows here).
  int openDevices() const;
  // Opens refused because the device was open already.
  int refusedOpens() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<SimDfuDevice>> devices_;
  std::vector<std::shared_ptr<std::atomic<int>>> deviceOpens_;  // per device, as devices_
  std::vector<int> hiddenFor_;  // enumerations each device still stays hidden for
  std::shared_ptr<std::atomic<int>> open_ = std::make_shared<std::atomic<int>>(0);
  int refused_ = 0;
};

}  // namespace testsupport
