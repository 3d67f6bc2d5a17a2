// The request sequences of one DFU target that every operation is made of: settle the device
// in dfuIDLE, run a DfuSe command (set address, erase) or a data block to completion through
// its status polls, read blocks back, leave. Portable. One thread drives a session; each call
// blocks for the device's poll time-outs (bounded, see kMaxBusyWaitMs) and returns STDFU_NOERROR
// or a STDFUPRT_* code, the device's last status and state kept in lastStatus().
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "dfu/dfuse/dfuse_types.h"

// A device that reports busy for longer than this in one step is given up.
constexpr uint32_t kMaxBusyWaitMs = 60000;
// Failed status requests retried before the step fails (devices stall a few while busy).
constexpr int kStatusRetries = 5;
// Clear or abort rounds before a device that will not become idle is given up.
constexpr int kIdleRounds = 10;
// Block number of the zero-length download that leaves DFU mode (see DfuSession::Leave).
constexpr uint16_t kDfuLeaveBlock = 2;

class DfuSession {
 public:
  // `stop` (optional) is polled during waits; once set, the current step ends with
  // STDFUPRT_STOPPED.
  DfuSession(DfuDeviceHandle device, const std::atomic<bool>* stop) : d_(device), stop_(stop) {}

  uint32_t EnsureIdle();
  // DfuSe extension commands (block 0): 0x21 set address pointer, 0x41 erase a sector.
  uint32_t SetAddress(uint32_t address) { return Command(0x21, address); }
  uint32_t EraseSector(uint32_t address) { return Command(0x41, address); }
  // One data block (block >= 2) written at address pointer + (block - 2) * length.
  uint32_t DownloadBlock(const uint8_t* data, uint32_t length, uint16_t block);
  // One block read back; the device must be idle or upload-idle.
  uint32_t UploadBlock(uint8_t* data, uint32_t length, uint16_t block);
  // The DfuSe command list (UPLOAD block 0), leaving the device idle.
  uint32_t GetCommands(std::vector<uint8_t>* commands);
  // Zero-length download and manifestation; a device that resets without answering has left.
  uint32_t Leave();
  uint32_t Abort();

  const DfuStatus& lastStatus() const { return status_; }
  // Control transfers made so far, for the benchmark.
  uint64_t transfers() const { return transfers_; }

 private:
  uint32_t Command(uint8_t code, uint32_t address);
  // GETSTATUS until the device is no longer busy, sleeping its poll time-out in between.
  uint32_t WaitNotBusy();
  uint32_t GetStatus();
  // STDFU_NOERROR after `ms`; STDFUPRT_STOPPED once stopped; STDFUPRT_NOANSWER, without
  // sleeping, when the wait would end past the device handle's deadline (STDFU_SetDeadline).
  uint32_t Sleep(uint32_t ms);
  bool Stopped() const { return stop_ && stop_->load(); }

  DfuDeviceHandle d_;
  const std::atomic<bool>* stop_;
  DfuStatus status_ = {};
  uint64_t transfers_ = 0;
};

// STDFU_* results turned into operation error codes (a time-out: STDFUPRT_NOANSWER).
uint32_t DfuRequestToOperationError(uint32_t stdfuResult);
